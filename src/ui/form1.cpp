// SPDX-License-Identifier: GPL-3.0-or-later
#include "form1.h"

#include "core/report.h"
#include "lamp.h"
#include "layout.h"
#include "port/device_map.h"
#include "settings/options.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace torvak {

namespace {

const QString kMore = QStringLiteral("&More>>");
const QString kLess = QStringLiteral("&Less<<");
const QString kLampTip = QStringLiteral("Turns red on TX; Click to toggle TX state");

// A tool tip that stays a readable column beside the lamp, never a strip over
// the options panel: each line broken at blanks near 40 characters.
QString wrapped(const QString& text, qsizetype columns = 40)
{
    QStringList lines;
    for (const QString& line : text.split(u'\n')) {
        QString current;
        for (const QString& word : line.split(u' ')) {
            if (!current.isEmpty() && current.size() + 1 + word.size() > columns) {
                lines << current;
                current.clear();
            }
            current += (current.isEmpty() ? QString() : QStringLiteral(" ")) + word;
        }
        lines << current;
    }
    return lines.join(u'\n');
}

} // namespace

Form1::Form1(SettingsStore& store, MessageBox& messages, HostLink& link, QWidget* parent)
    : QWidget(parent)
    , store_(store, [this](const Status& written) {
        notSaved_ = written ? QString() : QStringLiteral("Settings are not saved: ") + QString::fromStdString(written.reason());
        report(written ? "the settings are saved again" : "settings are not saved: " + written.reason());
        showRing();
    })
    , messages_(messages)
    , link_(link)
    , comport_(device_, deviceWatcher_, store_, *this)
    , controller_(comport_, *Shape1, [this] { close(); })
    , panel_{comport_, store_, messages}
    , rigctl_(link_, comport_, report)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("TORVAK TenTec PTT V3"));
    setWindowIcon(Lamp::icon());
    // A fixed frame: it can be minimized and closed, never maximized or resized.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    scale_ = layout::fontScale(fontMetrics().height());
    createControls();
    connectControls();
    setFixedSize(qRound(layout::px(layout::kClientWidth) * scale_), qRound(layout::px(layout::kClientHeight) * scale_));
}

Form1::~Form1() = default;

void Form1::createControls()
{
    // In the designed order; each at its designed place.
    Label1 = new QLabel(QStringLiteral("Com &Port:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(designed(layout::kLabel1).topLeft());
    Label1->adjustSize();

    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->addItems({QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                      QStringLiteral("COM4")});
    Combo1->setCurrentIndex(-1);
    Combo1->setToolTip(QStringLiteral("Set COM port for radio"));
    // A click or the keyboard puts the focus here, never the wheel: a list
    // the pointer happens to cross must not change the radio port.
    Combo1->setFocusPolicy(Qt::StrongFocus);
    Combo1->setGeometry(designed(layout::kCombo1));
    Combo1->setEnabled(false);

    Label2 = new QLabel(QStringLiteral("&Settings: (9600,n,8,1)"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(designed(layout::kLabel2).topLeft());
    Label2->adjustSize();

    Text1 = new QLineEdit(QStringLiteral("Text1"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setToolTip(QStringLiteral("Enter baud rate, parity, bits, stop bits"));
    Text1->setGeometry(designed(layout::kText1));
    Text1->setEnabled(false);

    Check1 = new QCheckBox(QStringLiteral("Run Mi&nimized"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setToolTip(QStringLiteral("Always run minimized"));
    Check1->setGeometry(designed(layout::kCheck1));
    Check1->setEnabled(false);

    Check2 = new QCheckBox(QStringLiteral("&Top"), this);
    Check2->setObjectName(QStringLiteral("Check2"));
    Check2->setToolTip(QStringLiteral("Always on top of other windows"));
    Check2->setGeometry(designed(layout::kCheck2));
    Check2->setEnabled(false);

    fitCheckBoxes();

    Command1 = new QPushButton(kMore, this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setToolTip(QStringLiteral("Click to set options"));
    Command1->setGeometry(designed(layout::kCommand1));

    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(designed(layout::kShape1));

    Label3 = new ClickLabel(this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setToolTip(kLampTip);
    Label3->setAccessibleName(QStringLiteral("Toggle transmit"));
    Label3->setGeometry(designed(layout::kLabel3));
    Label3->raise();

    showOptions(false); // the window starts collapsed

    // The labels' access keys lead to the control each one names.
    Label1->setBuddy(Combo1);
    Label2->setBuddy(Text1);

    // Keyboard order: Combo1, Text1, Check1, Command1, Check2.
    setTabOrder(Combo1, Text1);
    setTabOrder(Text1, Check1);
    setTabOrder(Check1, Command1);
    setTabOrder(Command1, Check2);
}

void Form1::fitCheckBoxes()
{
    // The designed widths fit the designed font (see layout::fontScale). At
    // the desktop's font a check box gets the width its text needs, and Top
    // moves along, so no caption is ever cut off.
    constexpr int kGap = 4;
    Check1->resize(std::max(Check1->width(), Check1->sizeHint().width()), Check1->height());
    Check2->move(std::max(designed(layout::kCheck2).left(), Check1->geometry().right() + 1 + kGap), Check2->y());
    Check2->resize(std::max(Check2->width(), Check2->sizeHint().width()), Check2->height());
}

void Form1::connectControls()
{
    // Every signal the window handles, here. The option handlers do nothing
    // until start-up has filled the controls (loaded).
    connect(&link_, &HostLink::hostCommand, this, &Form1::ptt);
    // The operator's own click, in the one order with every other source;
    // no rigctl client's leaving undoes it.
    const auto lampClicked = [this] {
        link_.submit([this] {
            rigctl_.operatorCommand();
            controller_.lampClick();
        });
    };
    connect(Label3, &ClickLabel::clicked, this, lampClicked);
    connect(Shape1, &Lamp::pressed, this, lampClicked);
    connect(Command1, &QPushButton::clicked, this, &Form1::toggleOptions);
    connect(Check1, &QCheckBox::clicked, this, [this] { storeCheckBox(&options::storeRunMinimized, Check1); });
    connect(Check2, &QCheckBox::clicked, this, [this] {
        storeCheckBox(&options::storeTopMost, Check2);
        SetTopMost();
    });
    connect(Combo1, &QComboBox::activated, this, [this](int position) {
        if (loaded)
            comport_.reconfigure("choosing the port", [&] { return choosePort(panel_, position); });
    });
    connect(Text1, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (loaded)
            comport_.reconfigure("applying the settings", [&] { return editSettings(panel_, text.toStdString()); });
    });
    Text1->installEventFilter(this);
    Combo1->installEventFilter(this);
    connect(&link_, &HostLink::descriptorsFreed, this, [this] { comport_.descriptorsFreed(); });
    connect(&link_, &HostLink::stillDown, this, &Form1::hostLinkIsDown);
    connect(&link_, &HostLink::cameUp, this, [this] {
        report("the host link is up: host commands arrive now");
        hostLinkDown_.clear();
        showRing();
    });
    for (const auto& [timer, alarm] : {std::pair{&answerDue_, Alarm::Answer}, {&questionDue_, Alarm::Question}}) {
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, alarm] { comport_.alarm(alarm); });
    }
    // Never early (a coarse timer may fire 5 % before its time), and released
    // in the one order, after whatever the hosts handed over before it.
    transmitLimit_.setSingleShot(true);
    transmitLimit_.setTimerType(Qt::PreciseTimer);
    connect(&transmitLimit_, &QTimer::timeout, this, [this] {
        link_.submit([this] {
            rigctl_.operatorCommand();
            comport_.alarm(Alarm::TransmitLimit);
        });
    });
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Text1 && event->type() == QEvent::FocusOut) {
        // Leaving the box for another control, not the window losing activation
        // (which a message box or another program causes).
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            comport_.reconfigure("leaving the settings box", [this] { return leaveSettingsBox(panel_); });
    }
    // The wheel changes the radio port only where the operator put the focus:
    // not on a list the pointer happens to cross.
    if (watched == Combo1 && event->type() == QEvent::Wheel && !Combo1->hasFocus())
        return true;
    // Devices come and go: the list says what each entry opens when it is used.
    if (watched == Combo1 && (event->type() == QEvent::FocusIn || event->type() == QEvent::MouseButtonPress))
        refreshPortTips();
    return QWidget::eventFilter(watched, event);
}

void Form1::ptt(std::int32_t command, std::int32_t state)
{
    controller_.ptt(command, state);
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Nothing keys the radio once the window is going. No receive frame on
    // the way out, but the operator hears of a keyed radio; the frames
    // already handed to the port reach the radio before it closes, and a
    // sequence interrupted here never opens it again.
    link_.removeHook();
    // The keyed mark stays as the radio was left: a receive still waiting
    // may leave it transmitting.
    if (comport_.shutDown())
        markKeyed(true);
    event->accept();
    QCoreApplication::quit();
}

void Form1::toggleOptions()
{
    if (Command1->text() == kMore) {
        Command1->setText(kLess);
        showOptions(true);
        // The designed width, or wider where the desktop's font needs it.
        const float wide = (layout::kText1Left + layout::kText1Width) * static_cast<float>(scale_) + 2 * border;
        const float needed = (Check2->geometry().right() + 1) * layout::kTwipsPerPixel + 1.5f * border;
        setOuterWidth(std::max(wide, needed));
    } else {
        Command1->setText(kMore);
        showOptions(false);
        setOuterWidth(collapsedWidth());
    }
}

void Form1::showOptions(bool shown)
{
    // The four options, in this order, are enabled only while open. The panel
    // is clipped away by the narrow window, and gone for the keyboard and for
    // screen readers too; its controls stay where they are.
    for (QWidget* w : std::initializer_list<QWidget*>{Combo1, Text1, Check1, Check2})
        w->setEnabled(shown);
    for (QWidget* w : std::initializer_list<QWidget*>{Label1, Combo1, Label2, Text1, Check1, Check2})
        w->setVisible(shown);
}

QRect Form1::designed(const QRect& pixels) const { return layout::scaled(pixels, scale_); }

float Form1::collapsedWidth() const
{
    // As wide as the button with equal margins on both sides.
    return (2 * layout::kCommand1Left + layout::kCommand1Width) * static_cast<float>(scale_) + border;
}

void Form1::setOuterWidth(float twips)
{
    const float client = twips - border;
    setFixedSize(static_cast<int>(std::lround(client / layout::kTwipsPerPixel)), height());
}

void Form1::SetTopMost()
{
    const bool on = checkValue(Check2) == 1;
    // Apply to the live window: no re-creation, no move.
    overrideWindowFlags(on ? windowFlags() | Qt::WindowStaysOnTopHint
                           : windowFlags() & ~Qt::WindowStaysOnTopHint);
    if (QWindow* window = windowHandle())
        window->setFlag(Qt::WindowStaysOnTopHint, on);
    // Wayland gives no window a way to stay above the others.
    if (on && !toldTopUnavailable_ && QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        report("Top cannot keep the window above others on Wayland; with DISPLAY set it runs under "
               "XWayland, where it can");
        toldTopUnavailable_ = true;
    }
}

std::int16_t Form1::checkValue(const QCheckBox* box)
{
    switch (box->checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    case Qt::Unchecked: break;
    }
    return 0;
}

Status Form1::setCheckValue(QCheckBox* box, const Checked<std::int16_t>& stored)
{
    if (!stored.status)
        return stored.status;
    constexpr Qt::CheckState states[] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
    if (stored.value < 0 || stored.value > 2)
        return Status::failure("not a check box state: " + std::to_string(stored.value));
    box->setCheckState(states[stored.value]);
    return Status::success();
}

void Form1::storeCheckBox(Status (*store)(SettingsStore&, std::int16_t), const QCheckBox* box)
{
    const Status stored = store(store_, checkValue(box));
    if (!stored) {
        report(stored.reason());
        messages_.show("The option was not saved: " + stored.reason());
    }
}

void Form1::refreshPortTips()
{
    for (int i = 0; i < Combo1->count(); ++i) {
        const Checked<std::string> mapped = deviceFor(store_, i + 1);
        const QString device = QString::fromStdString(mapped.value);
        const QString tip = !mapped.status ? QString::fromStdString(mapped.status.reason())
            : Combo1->itemText(i) + QStringLiteral(" opens ") + device
                + (QFileInfo::exists(device) ? QString() : QStringLiteral(", which is not there now"));
        Combo1->setItemData(i, tip, Qt::ToolTipRole);
    }
}

QString Form1::leftKeyedMark() const
{
    const QString lock = link_.lockPath();
    return lock.isEmpty() ? QString() : lock.chopped(4) + QStringLiteral("keyed");
}

void Form1::markKeyed(bool keyed)
{
    // Beside the lock while the radio may be transmitting, so that a crash or
    // SIGKILL while keyed is told at the next start; the runtime directory
    // forgets it at a reboot or a new login.
    if (std::exchange(keyedMark_, keyed) == keyed || leftKeyedMark().isEmpty())
        return;
    if (keyed)
        QFile(leftKeyedMark()).open(QIODevice::WriteOnly);
    else
        QFile::remove(leftKeyedMark());
}

void Form1::showPtt(PttState state)
{
    markKeyed(state == PttState::Transmit);
    Shape1->setFillColour(state == PttState::Transmit ? kTransmitRed : kReceiveGreen);
    showIcon();
}

void Form1::showFault(const std::string& fault)
{
    portFault_ = QString::fromStdString(fault);
    showRing();
}

void Form1::showIcon()
{
    // Only when it changes: a stream of host commands repaints nothing.
    const std::pair shown{Shape1->fillColour() == kTransmitRed, Shape1->showsFault()};
    if (std::exchange(iconShows_, shown) != shown)
        setWindowIcon(Lamp::icon(Shape1->fillColour(), Shape1->showsFault()));
}

void Form1::hostLinkIsDown(const QString& reason)
{
    hostLinkDown_ = QStringLiteral("Host programs cannot reach torvak-ptt: ") + reason;
    showRing();
}

void Form1::showRing()
{
    // Shown on the lamp, never in a modal box: a stream of host commands to a
    // dead port would pile boxes up.
    QStringList faults{portFault_, hostLinkDown_, notSaved_, rigctlDown_, settingsDamaged_};
    faults.removeAll(QString());
    const QString text = faults.join(u'\n');
    Shape1->setFault(text);
    Label3->setToolTip(wrapped(text.isEmpty() ? kLampTip : kLampTip + u'\n' + text));
    showIcon();
}

void Form1::tell(const std::string& line) { report(line); }

void Form1::listenForRigctl()
{
    Checked<int> port = Checked<int>::of(rigctlPortGiven_);
    if (rigctlPortGiven_ < 0)
        port = options::rigctlPort(store_);
    Status listening = port.status;
    if (listening && port.value != 0)
        listening = rigctl_.listen(port.value, options::rigctlAnyLocalUser(store_));
    if (listening) {
        rigctlDown_.clear();
        if (port.value != 0)
            report("rigctl clients connect to 127.0.0.1:" + std::to_string(port.value));
        return;
    }
    report("rigctl: " + listening.reason());
    rigctlDown_ = QStringLiteral("Hamlib clients cannot connect: ") + QString::fromStdString(listening.reason());
}

void Form1::wakeAfter(Alarm alarm, int milliseconds)
{
    (alarm == Alarm::Answer ? answerDue_ : alarm == Alarm::Question ? questionDue_ : transmitLimit_).start(milliseconds);
}

} // namespace torvak
