// SPDX-License-Identifier: GPL-3.0-or-later
// Reconfiguring the port from the options panel, with real ptys as COM1 and
// COM3 and the real settings file.
#include "core/host_command.h"
#include "form_fixture.h"
#include "platform/message_box.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <termios.h>

using namespace torvak;
using namespace torvak::test;

namespace {

const QByteArray kTx("\xFE\xFE\x04\xE0\x16\x01\xFD", 7);
const QByteArray kRx("\xFE\xFE\x04\xE0\x16\x02\xFD", 7);

struct PortPanelTest : FormFixture {
    Pty com3;

    QByteArray twoPorts() const { return devices() + "COM3=" + com3.slavePath().toUtf8() + "\n"; }
    QComboBox* list() const { return child<QComboBox>("Combo1"); }
    QLineEdit* box() const { return child<QLineEdit>("Text1"); }
    QByteArray stored(const char* key) const
    {
        for (const QByteArray& line : sandbox.readSettings().split('\n'))
            if (line.startsWith(QByteArray(key) + '='))
                return line.mid(qstrlen(key) + 1);
        return {};
    }
    void expand()
    {
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        QTest::mouseClick(child<QPushButton>("Command1"), Qt::LeftButton);
    }
    // Opens the list and clicks the entry, as the operator does.
    void choose(int position)
    {
        list()->showPopup();
        QAbstractItemView* view = list()->view();
        ASSERT_TRUE(waitUntil([&] { return view->isVisible(); }));
        const QRect entry = view->visualRect(view->model()->index(position, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, entry.center());
        ASSERT_TRUE(waitUntil([&] { return !view->isVisible(); }));
    }
};

} // namespace

TEST_F(PortPanelTest, ChoosingCom3MovesTheRadioThere)
{
    start(twoPorts());
    expand();
    ASSERT_TRUE(form->comport().isOpen());
    choose(2);
    EXPECT_EQ(list()->currentText(), QStringLiteral("COM3"));
    EXPECT_EQ(stored("ComPort"), "3");
    EXPECT_EQ(form->comport().portNumber(), 3);
    EXPECT_TRUE(form->comport().isOpen());

    form->ptt(0, 1);
    EXPECT_EQ(com3.read(7), kTx);
    EXPECT_EQ(radio.read(1, 200), QByteArray()) << "COM1 was closed";
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PortPanelTest, AMissingOrBusyPortSaysComPortErrorOnce)
{
    start(devices() + "COM2=/dev/torvak-missing\nCOM4=" + radio.slavePath().toUtf8() + "\n");
    expand();
    choose(1); // COM2: missing
    EXPECT_EQ(messages.shown, std::vector<std::string>{"Com port error"});
    EXPECT_FALSE(form->comport().isOpen());
    EXPECT_EQ(stored("ComPort"), "2") << "what the port reports after the attempt";

    // COM4 is COM1's device, still held by another program: busy.
    messages.shown.clear();
    QtSerialDevice holder;
    RadioPort other(holder, [&](int) { return radio.slavePath().toStdString(); });
    ASSERT_TRUE(other.open());
    choose(3);
    EXPECT_EQ(messages.shown, std::vector<std::string>{"Com port error"});
    EXPECT_FALSE(form->comport().isOpen());
    EXPECT_EQ(stored("ComPort"), "4");

    // Choosing the same entry again once it is free brings the radio back.
    messages.shown.clear();
    other.close();
    choose(3);
    EXPECT_TRUE(form->comport().isOpen());
    EXPECT_TRUE(messages.shown.empty());
    form->ptt(0, 1);
    EXPECT_EQ(radio.read(7), kTx);
}

TEST_F(PortPanelTest, TypingStoresEachTextAndReopensSilently)
{
    start(devices());
    expand();
    box()->setFocus(Qt::TabFocusReason);
    box()->selectAll();
    const QString target = QStringLiteral("4800,n,8,1");
    for (int i = 0; i < target.size(); ++i) {
        QTest::keyClick(box(), target.at(i).toLatin1());
        const QByteArray typed = target.left(i + 1).toLatin1();
        // A text with commas is quoted in the file.
        const QByteArray expected = typed.contains(',') ? '"' + typed + '"' : typed;
        EXPECT_EQ(stored("Settings"), expected);
        EXPECT_TRUE(form->comport().isOpen()) << typed.constData();
    }
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(form->comport().settings(), "4800,n,8,1");
    EXPECT_EQ(radio.lineSpeed(), B4800);
}

TEST_F(PortPanelTest, LeavingTheBoxWithARejectedTextWarnsAndKeepsIt)
{
    start(devices() + "[Com]\nSettings=\"4800,n,8,1\"\n");
    expand();
    box()->setFocus(Qt::TabFocusReason);
    box()->selectAll();
    QTest::keyClicks(box(), QStringLiteral("48x"));
    EXPECT_TRUE(messages.shown.empty());
    QTest::keyClick(box(), Qt::Key_Tab); // leave the box
    EXPECT_EQ(messages.shown, std::vector<std::string>{"Invalid comport settings"});
    EXPECT_TRUE(form->comport().isOpen());
    EXPECT_EQ(form->comport().settings(), "4800,n,8,1");
    EXPECT_EQ(radio.lineSpeed(), B4800);
    EXPECT_EQ(stored("Settings"), "48x");

    // The next start shows it again; the port runs on its own default.
    form.reset();
    link.removeHook();
    messages.shown.clear();
    start(sandbox.readSettings());
    EXPECT_EQ(box()->text(), QStringLiteral("48x"));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PortPanelTest, TheRealBoxHasOneOkButtonAndHostCommandsGoOnMeanwhile)
{
    sandbox.writeSettings(devices() + "[Com]\nSettings=48x\n");
    store = std::make_unique<QtSettingsStore>();
    QtMessageBox realBox;
    form = std::make_unique<Form1>(*store, realBox);
    realBox.setParent(form.get());
    ASSERT_EQ(form->load(link), Form1::Start::Loaded);
    form->show();
    expand();

    const int host = connectUnix(link.socketPath());
    ASSERT_GE(host, 0);
    const auto send = [host](std::int32_t state) {
        const Record r = encodeRecord({0, state});
        ASSERT_EQ(::write(host, r.data(), r.size()), 8);
    };
    send(1);
    ASSERT_EQ(radio.read(7), kTx);

    bool seen = false;
    QTimer::singleShot(100, [&] {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->text(), QStringLiteral("Invalid comport settings"));
        EXPECT_EQ(shown->windowTitle(), QCoreApplication::applicationName());
        EXPECT_EQ(shown->buttons().size(), 1);
        EXPECT_EQ(shown->standardButtons(), QMessageBox::Ok);
        // A host command while the box is up is carried out now, not after it:
        // the port is closed at this point of the sequence, so the receive
        // waits and the lamp stays red.
        send(0);
        EXPECT_TRUE(waitUntil([&] { return child<Lamp>("Shape1")->showsFault(); }));
        EXPECT_EQ(child<Lamp>("Shape1")->fillColour(), kTransmitRed);
        seen = true;
        QTest::mouseClick(shown->button(QMessageBox::Ok), Qt::LeftButton);
    });
    box()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(box(), Qt::Key_Tab);
    EXPECT_TRUE(seen);
    // The sequence went on after OK and reopened the port: the receive is out.
    EXPECT_EQ(radio.read(7), kRx);
    EXPECT_EQ(child<Lamp>("Shape1")->fillColour(), kReceiveGreen);
    ::close(host);
}
