// SPDX-License-Identifier: GPL-3.0-or-later
// The window as the operator and the host use it: a real settings file in a
// private XDG_CONFIG_HOME, the host on the real socket, and a pty as the radio
// on COM1 through a link that can be unplugged and plugged back (COM2 and
// COM4 are never there).
#include "platform/message_box.h"
#include "platform/qt_settings_store.h"
#include "support/fakes.h"
#include "support/helpers.h"
#include "ui/form1.h"
#include "ui/lamp.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace torvak;
using namespace torvak::test;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct Window : ::testing::Test {
    Sandbox sandbox;
    QString device = sandbox.path(QStringLiteral("radio")), none = sandbox.path(QStringLiteral("none"));
    std::unique_ptr<Pty> radio;
    std::unique_ptr<QtSettingsStore> store;
    RecordingBox messages;
    HostLink link;
    std::unique_ptr<Form1> form;
    int host = -1;

    Window() { plug(); }
    ~Window() override { ::close(host); }
    QByteArray devices() const { return "[Devices]\nCOM1=" + device.toUtf8() + "\nCOM2=" + none.toUtf8() + "\nCOM4=" + none.toUtf8() + "\n"; }
    void plug()
    {
        radio = std::make_unique<Pty>();
        radio->answers = true;
        ::unlink(QFile::encodeName(device).constData());
        EXPECT_EQ(::symlink(QFile::encodeName(radio->slavePath).constData(), QFile::encodeName(device).constData()), 0);
    }
    void unplug()
    {
        radio.reset();
        ::unlink(QFile::encodeName(device).constData());
    }
    void start(const QByteArray& settings, MessageBox* box = nullptr) // as the program does
    {
        form.reset();
        link.removeHook();
        sandbox.writeSettings(settings);
        store = std::make_unique<QtSettingsStore>();
        form = std::make_unique<Form1>(*store, box ? *box : messages, link);
        ASSERT_EQ(form->load(), Form1::Start::Loaded);
        form->show();
        ::close(host);
        host = connectUnix(sandbox.socketPath());
    }
    // The PTT frames the radio hears next, after the host sends these records.
    std::string heard(std::initializer_list<HostCommand> commands = {}, int frames = 1, int timeoutMs = 2000) const
    {
        EXPECT_TRUE(sendAll(host, records(commands)));
        return framesOf(radio->read(7 * frames, timeoutMs));
    }
    // The lamp's tool tip, its lines as wrapped beside the lamp joined again.
    std::string ring() const
    {
        const QString tip = child("Label3")->toolTip();
        for (const QString& line : tip.split(u'\n'))
            EXPECT_LE(line.size(), line.contains(u' ') ? 40 : 80) << "a tool tip line as wide as the panel: " << line.toStdString();
        return QString(tip).replace(u'\n', u' ').toStdString();
    }
    template <typename T = QWidget>
    T* child(const char* name) const { return form->findChild<T*>(QLatin1String(name)); }
    Lamp* lamp() const { return child<Lamp>("Shape1"); }
    bool red() const { return lamp()->fillColour() == kTransmitRed; }
    void click(const char* name) const { QTest::mouseClick(child(name), Qt::LeftButton, {}, child(name)->rect().center()); }
    void leaveBox() const // a click into the settings box, then a real Tab out of it
    {
        click("Text1");
        QTest::keyClick(child("Text1"), Qt::Key_Tab);
    }
    QString wmState() const // what the window manager says of the window
    {
        return run({"xprop", "-id", QString::number(form->windowHandle()->winId()), "_NET_WM_STATE", "WM_STATE"}).out;
    }
    bool shows(bool iconic, bool above) const
    {
        return QTest::qWaitFor([&] {
            const QString s = wmState();
            return s.contains("Iconic") == iconic && s.contains("Normal") == !iconic && s.contains("_NET_WM_STATE_ABOVE") == above;
        }, 3000);
    }
};

} // namespace

TEST_F(Window, LampAndHostKeyTheRadioAndAFailedFrameLeavesTheLamp)
{
    start(devices());
    EXPECT_EQ(heard({}, 1, 100), "") << "start-up sends nothing";
    EXPECT_EQ(lamp()->accessibleName(), QStringLiteral("PTT lamp"));
    EXPECT_EQ(lamp()->accessibleDescription(), QStringLiteral("Receive"));
    const auto iconColour = [&] { return form->windowIcon().pixmap(32).toImage().pixelColor(16, 16); };
    EXPECT_EQ(iconColour(), QColor(0, 255, 0)) << "the window's icon is the lamp";
    click("Label3");
    EXPECT_EQ(heard(), "T");
    EXPECT_EQ(lamp()->accessibleDescription(), QStringLiteral("Transmit"));
    EXPECT_EQ(iconColour(), QColor(255, 0, 0)) << "a minimized window shows it is transmitting";
    for (const auto& [press, release, at] : {std::tuple{Qt::RightButton, Qt::RightButton, 5}, {Qt::RightButton, Qt::LeftButton, 5},
                                              {Qt::LeftButton, Qt::LeftButton, -5}, {Qt::LeftButton, Qt::RightButton, 5}}) {
        QTest::mousePress(child("Label3"), press, {}, QPoint(5, 5));
        QTest::mouseRelease(child("Label3"), release, {}, QPoint(at, 5));
    }
    EXPECT_EQ(heard({}, 1, 200), "") << "a right click, a release outside, or a release of the other button";
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, {});
        QCoreApplication::sendEvent(child("Label3"), &event);
    }
    EXPECT_EQ(heard({}, 2, 300), "R") << "a double-click is one click";
    // A screen reader's press action toggles it as a click does; the keyboard's tab order passes it by.
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(lamp());
    ASSERT_TRUE(accessible && accessible->actionInterface());
    for (const char* frame : {"T", "R"}) {
        accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_EQ(heard(), frame);
    }
    EXPECT_EQ(lamp()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(heard({{0, 1}}), "T");

    // Unplugged while transmitting: the receive waits, the lamp stays red and
    // says why; plugged back, the port reopens by itself and the receive goes.
    unplug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ring().find("went away") != std::string::npos; }, 3000));
    EXPECT_TRUE(sendRecords(host, {{0, 0}}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ring().find("not sent") != std::string::npos; }, 2000));
    EXPECT_TRUE(red());
    EXPECT_THAT(ring(), HasSubstr("not open"));
    EXPECT_THAT(lamp()->accessibleDescription().toStdString(), ::testing::StartsWith("Transmit. "));
    EXPECT_TRUE(messages.shown.empty()) << "no modal box per failed command";
    plug();
    EXPECT_EQ(heard(), "R");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !red() && !lamp()->showsFault(); }, 1000));

    radio->answers = false; // a radio gone quiet: the ring says so, to the eye and to a screen reader
    EXPECT_EQ(heard({{0, 1}}), "T");
    EXPECT_TRUE(QTest::qWaitFor([&] { return lamp()->accessibleDescription().contains("not even the bus echo"); }, 2000));
    EXPECT_THAT(ring(), HasSubstr("Nothing came back from the radio"));
    radio->answers = true;
    EXPECT_EQ(heard({{0, 0}}), "R");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !lamp()->showsFault(); }, 2000)) << "an answer clears the ring";

    EXPECT_EQ(heard({{0, 1}, {1, 1}}), "T"); // the close command: no frame, and the link goes
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 2000));
    EXPECT_FALSE(QFile::exists(sandbox.socketPath()));
    EXPECT_EQ(radio->read(1, 200), QByteArray());

    // The next start in this login session says the radio may still be keyed, until a receive goes out.
    start(devices());
    EXPECT_THAT(ring(), HasSubstr("The last session ended with the radio transmitting"));
    EXPECT_FALSE(red());
    click("Label3");
    click("Label3");
    EXPECT_EQ(heard({}, 2), "T R");
    start(devices());
    EXPECT_FALSE(lamp()->showsFault()) << ring();
}

// What start-up makes of the settings file: the controls, the port (which
// radio a transmit reaches, at what speed) and the lamp; the file is never written.
TEST_F(Window, TheStartUpTable)
{
    Pty com3;
    struct Case { QByteArray com, win; int listPosition; const char* box; Pty* keyed; unsigned speed; bool fault; Qt::CheckState top; };
    for (const Case& c : {Case{"", "", 0, "9600,n,8,1", radio.get(), B9600, false, Qt::Unchecked},
                          Case{"ComPort=3\n", "Top=1\n", 2, "9600,n,8,1", &com3, B9600, false, Qt::Checked},
                          Case{"ComPort=3.5\n", "", 2, "9600,n,8,1", nullptr, 0, true, Qt::Unchecked},
                          // A damaged line is skipped and said; the keys after it still count.
                          Case{"broken = \"quote\nComPort=3\n", "Top=1\n", 2, "9600,n,8,1", &com3, B9600, true, Qt::Checked},
                          Case{"ComPort=x\nSettings=48x\n", "Top=2\n", -1, "48x", radio.get(), B9600, true, Qt::PartiallyChecked},
                          Case{"ComPort=0\nSettings=4800,n,8,2\n", "Min=x\n", -1, "4800,n,8,2", radio.get(), B4800, false, Qt::Unchecked}}) {
        SCOPED_TRACE(c.com.constData());
        const QByteArray text = devices() + "COM3=" + com3.slavePath.toUtf8() + "\n[Com]\n" + c.com + "[Win]\n" + c.win;
        start(text);
        EXPECT_EQ(child<QComboBox>("Combo1")->currentIndex(), c.listPosition);
        EXPECT_EQ(child<QLineEdit>("Text1")->text(), QLatin1String(c.box));
        EXPECT_EQ(child<QCheckBox>("Check2")->checkState(), c.top);
        EXPECT_EQ(bool(form->windowFlags() & Qt::WindowStaysOnTopHint), c.top == Qt::Checked);
        EXPECT_EQ(form->size(), QSize(79, 107));
        EXPECT_EQ(lamp()->showsFault(), c.fault) << ring();
        EXPECT_EQ(child("Label3")->geometry(), lamp()->geometry());
        for (const char* option : {"Combo1", "Text1", "Check1", "Check2"}) {
            EXPECT_FALSE(child(option)->isVisible()) << option << " while collapsed";
            EXPECT_FALSE(child(option)->isEnabled()) << option << " while collapsed";
        }
        form->ptt(0, 1);
        for (Pty* pty : {radio.get(), &com3})
            EXPECT_EQ(framesOf(pty->read(7, pty == c.keyed ? 2000 : 50)), pty == c.keyed ? "T" : "");
        // The keyed mark follows the radio: there while a transmit went out, never for one dropped.
        EXPECT_EQ(QFile::remove(sandbox.socketPath() + ".keyed"), c.keyed != nullptr);
        EXPECT_EQ(c.keyed ? c.keyed->lineSpeed() : 0u, c.speed);
        EXPECT_EQ(sandbox.readSettings(), text);
        EXPECT_TRUE(messages.shown.empty());
    }
    EXPECT_EQ(child<QComboBox>("Combo1")->itemData(0, Qt::ToolTipRole).toString(), "COM1 opens " + device);
    EXPECT_EQ(child<QComboBox>("Combo1")->itemData(1, Qt::ToolTipRole).toString(), "COM2 opens " + none + ", which is not there now");
}

// The options reach their sequences (whose table checks the port) and the
// settings file; an option not stored is said.
TEST_F(Window, TheOptionsReconfigureThePort)
{
    Pty com3;
    start(devices() + "COM3=" + com3.slavePath.toUtf8() + "\n");
    click("Command1");
    EXPECT_EQ(child<QPushButton>("Command1")->text(), QStringLiteral("&Less<<"));
    EXPECT_GE(form->width(), 257);
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down}) // past COM2, which is not there
        QTest::keyClick(child("Combo1"), key);
    EXPECT_EQ(sandbox.stored("ComPort"), "3");
    auto* box = child<QLineEdit>("Text1");
    for (const char* typed : {"4800,n,8,1", "48x"}) {
        box->selectAll();
        QTest::keyClicks(box, QLatin1String(typed));
        EXPECT_EQ(sandbox.stored("Settings"), typed[2] == 'x' ? "48x" : "\"4800,n,8,1\"") << "a text with commas is quoted";
    }
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Com port error"}));
    EXPECT_THAT(messages.why.at(0), HasSubstr("COM2 (")) << "the box says why";

    sandbox.writeSettings(QByteArray("\x00\xff[[[=\n=\n[Com\nComPort=4\n\x01\x02", 26)); // damaged: still written
    child<QCheckBox>("Check2")->click();
    EXPECT_EQ(sandbox.stored("Top"), "1");
    QFile::remove(sandbox.settingsPath());
    QDir().mkdir(sandbox.settingsPath());
    child<QCheckBox>("Check1")->click();
    EXPECT_EQ(messages.shown.back(), "The option was not saved: cannot write the settings file " + sandbox.settingsPath().toStdString());
    EXPECT_THAT(ring(), HasSubstr("Settings are not saved: cannot write the settings file " + sandbox.settingsPath().toStdString()));
    QDir().rmdir(sandbox.settingsPath());
    child<QCheckBox>("Check1")->click();
    EXPECT_THAT(ring(), Not(HasSubstr("Settings are not saved"))) << "the ring stays after the cause went";
}

// The real box has one OK button and the application's title. Closing while
// it is up (as SIGTERM does) stops the sequence: the port never opens again.
TEST_F(Window, TheRealMessageBoxAndClosingWhileItIsUp)
{
    QtMessageBox realBox;
    start(devices() + "[Com]\nSettings=48x\n", &realBox);
    realBox.setParent(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    click("Command1");
    ASSERT_EQ(heard({{0, 1}}), "T");
    bool seen = false;
    QTimer::singleShot(100, [&] {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->text(), QStringLiteral("Invalid comport settings"));
        EXPECT_THAT(shown->informativeText().toStdString(), HasSubstr("\"48x\" were refused")) << "the box says why";
        EXPECT_EQ(shown->windowTitle(), QStringLiteral("torvak-ptt"));
        EXPECT_GT(shown->width(), shown->fontMetrics().horizontalAdvance(shown->windowTitle()) + 100) << "its title is whole";
        EXPECT_EQ(shown->standardButtons(), QMessageBox::Ok);
        seen = true;
        form->close();
        shown->button(QMessageBox::Ok)->click(); // the program's own loop would end it
    });
    leaveBox();
    EXPECT_TRUE(seen);
    EXPECT_EQ(radio->read(1, 300), QByteArray()) << "the port opened after closing began";
    int held = 0; // by the test's own end of the pty, and by nobody else
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::Files | QDir::System))
        held += fd.symLinkTarget() == radio->slavePath;
    EXPECT_EQ(held, 1) << "the port is open after closing";
}

// A host link kept down (a file in the socket's way, a runtime directory open
// to others) shows on the lamp while the radio works, and comes up by itself
// within seconds once the way is clear.
TEST_F(Window, TheHostLinkComesUpWhenItsWayIsClear)
{
    const QByteArray run = QFile::encodeName(sandbox.path(QStringLiteral("run")));
    const std::pair<std::function<void()>, std::function<void()>> obstacles[] = {
        {[&] { QFile(sandbox.socketPath()).open(QIODevice::WriteOnly); }, [&] { QFile::remove(sandbox.socketPath()); }},
        {[&] { ::chmod(run.constData(), 0755); }, [&] { ::chmod(run.constData(), 0700); }},
    };
    for (const auto& [block, clear] : obstacles) {
        block();
        start(devices());
        EXPECT_THAT(ring(), HasSubstr("Host programs cannot reach torvak-ptt"));
        click("Label3");
        EXPECT_EQ(heard(), "T") << "the radio works meanwhile";
        clear();
        ASSERT_TRUE(QTest::qWaitFor([&] { return (host = connectUnix(sandbox.socketPath())) >= 0; }, 5000));
        EXPECT_EQ(heard({{0, 0}}), "R");
        EXPECT_FALSE(lamp()->showsFault()) << ring();
    }
}

// At a 14-point desktop font every caption fits its control and the window
// grows. scripts/screenshot takes its pictures here.
TEST_F(Window, NoCaptionIsClippedAtALargerFont)
{
    const QFont desktop = QApplication::font();
    QApplication::setFont(QFont(desktop.family(), 14));
    start(devices());
    const auto shoot = [&](const char* name) {
        if (const QString shots = qEnvironmentVariable("TORVAK_SHOTS"); !shots.isEmpty())
            form->grab().save(shots + "/14pt-" + name + ".png");
    };
    shoot("collapsed");
    click("Command1");
    shoot("expanded");
    for (const char* name : {"Label1", "Combo1", "Label2", "Text1", "Check1", "Check2", "Command1"}) {
        QWidget* w = child(name);
        const int text = w->fontMetrics().horizontalAdvance(w->property("text").toString().remove(u'&'));
        EXPECT_GE(w->width(), std::max(text, w->sizeHint().width() * bool(qobject_cast<QComboBox*>(w) || qobject_cast<QCheckBox*>(w)))) << name;
        EXPECT_GE(w->height(), w->fontMetrics().height()) << name;
        EXPECT_TRUE(form->rect().contains(w->geometry())) << name << " is outside the window";
    }
    EXPECT_LE(child("Label1")->geometry().bottom(), child("Combo1")->y());
    EXPECT_GT(form->height(), 107);
    QApplication::setFont(desktop);
}

// Focus, access keys, the wheel, Top and Run Minimized, as a real window
// manager sees them (scripts/with-x).
TEST_F(Window, UnderAWindowManager)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        if (qEnvironmentVariableIsSet("TORVAK_EXPECT_WM"))
            FAIL() << "scripts/with-x promised an X server, but Qt runs on " << qPrintable(QGuiApplication::platformName());
        GTEST_SKIP() << "needs an X server with a window manager (scripts/with-x)";
    }
    start(devices());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    const WId id = form->windowHandle()->winId();
    const QPoint where = form->pos();
    QTest::keyClick(form.get(), Qt::Key_M, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return child("Combo1")->isEnabled(); }, 1000)) << "More>> by its access key";
    // A real wheel notch from the X server: Qt treats it unlike a made-up one.
    auto* list = child<QComboBox>("Combo1");
    const QPoint over = list->mapToGlobal(list->rect().center());
    const auto xdotool = [](const QStringList& args) { EXPECT_EQ(run(QStringList{"xdotool"} + args).code, 0) << qPrintable(args.join(u' ')); };
    struct : QObject {
        int wheels = 0;
        bool eventFilter(QObject*, QEvent* e) override { return (wheels += e->type() == QEvent::Wheel), false; }
    } seen;
    list->installEventFilter(&seen);
    xdotool({"mousemove", "--sync", QString::number(over.x()), QString::number(over.y())});
    for (int notch = 0; notch < 5 && seen.wheels == 0; ++notch) { // the first after the pointer came in may be lost
        xdotool({"click", "5"});
        (void)QTest::qWaitFor([&] { return seen.wheels > 0; }, 1000);
    }
    ASSERT_GT(seen.wheels, 0) << "no notch reached the list";
    EXPECT_EQ(list->currentIndex(), 0) << "the wheel crossed an unfocused list";
    EXPECT_FALSE(list->hasFocus()) << "the wheel took the focus";
    QTest::keyClick(form.get(), Qt::Key_P, Qt::AltModifier);
    ASSERT_TRUE(list->hasFocus()) << "Com Port by its access key";
    xdotool({"click", "5"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return sandbox.stored("ComPort") == "2"; }, 2000));

    // The settings box: the window losing activation to another leaves it
    // alone; a real Tab to the next control checks what was stored.
    QTest::keyClicks(child("Text1"), QStringLiteral("x"));
    QTest::keyClick(form.get(), Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(child("Text1")->hasFocus()) << "Settings by its access key";
    QWidget other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    other.close();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Com port error"})) << "leaving the window left the box";
    xdotool({"key", "Tab"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return messages.shown.size() == 2; }, 2000));
    EXPECT_EQ(messages.shown.back(), "Invalid comport settings");

    child<QCheckBox>("Check2")->click();
    EXPECT_TRUE(shows(false, true)) << qPrintable(wmState());
    child<QCheckBox>("Check2")->click();
    child<QCheckBox>("Check1")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sandbox.stored("Min") == "1"; }, 2000));
    EXPECT_TRUE(shows(false, false)) << "Run Minimized waits for the next start";
    EXPECT_EQ(sandbox.stored("Top"), "0");
    EXPECT_EQ(form->windowHandle()->winId(), id) << "the live window, not a new one";
    EXPECT_EQ(form->pos(), where) << "not moved";
    click("Command1");
    EXPECT_EQ(form->width(), 79) << "back to exactly the collapsed width";
    for (const auto& [win, iconic, above] : {std::tuple{"Min=1\nTop=0\n", true, false}, {"Min=0\nTop=1\n", false, true}, {"Min=1\nTop=1\n", true, true}}) {
        start(devices() + "[Win]\n" + win);
        EXPECT_TRUE(shows(iconic, above)) << win << qPrintable(wmState());
    }
}
