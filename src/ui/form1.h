// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ptt_controller.h"
#include "platform/device_watcher.h"
#include "platform/host_link.h"
#include "platform/qt_serial_device.h"
#include "port/radio_link.h"
#include "port/reconfigure.h"
#include "rigctl/rigctl_server.h"
#include "settings/settings_store.h"
#include "settings/write_watch.h"
#include "ui/lamp.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <string>
#include <utility>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace torvak {

// The program's one window: the PTT lamp, the More/Less toggle and the
// options panel. It wires controls to handlers and shows what the radio
// port's owner reports. The rules live elsewhere: what a command does in
// PttController (core), the port's policy in RadioLink and the port sequences
// in reconfigure (port), Hamlib clients in RigctlServer (rigctl).
//
// Three naming families meet here. Form1, Label1, Combo1, Text1, Check1,
// Check2, Command1, Shape1 and Label3 are the window's designed control
// names, which the tests find the controls by. load, ptt and SetTopMost are
// the window's handlers under their designed names. Everything else is
// ordinary members in this code's own style, with a trailing underscore.
class Form1 : public QWidget, public RadioLinkView {
    Q_OBJECT
public:
    enum class Start { Loaded, AlreadyRunning };

    // Host commands arrive through link once load has installed its hook.
    Form1(SettingsStore& store, MessageBox& messages, HostLink& link, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up, in its fixed order; every failing step is skipped. Only
    // another running instance stops it.
    Start load();

    // A host command or a lamp click: write the frame, then show the state.
    void ptt(std::int32_t command, std::int32_t state);

    // --rigctl-port: where rigctl clients connect this time, whatever the
    // file says; -1: as the file says.
    void setRigctlPort(int port) { rigctlPortGiven_ = port; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void fitCheckBoxes();
    void connectControls();
    void toggleOptions();
    void showOptions(bool shown);
    void setOuterWidth(float twips);
    // A designed rectangle at the desktop's font (see layout::fontScale).
    QRect designed(const QRect& pixels) const;
    float collapsedWidth() const;
    void SetTopMost();
    // A check box as a stored value: 0 unchecked, 1 checked, 2 grayed.
    static std::int16_t checkValue(const QCheckBox* box);
    static Status setCheckValue(QCheckBox* box, const Checked<std::int16_t>& stored);
    void storeCheckBox(Status (*store)(SettingsStore&, std::int16_t), const QCheckBox* box);
    void refreshPortTips();
    // Beside the lock while the radio may be transmitting.
    QString leftKeyedMark() const;
    void markKeyed(bool keyed);

    // The ring: what the radio port's owner reports, and a host link that is down.
    void showRing();
    void showIcon();
    void hostLinkIsDown(const QString& reason);
    void listenForRigctl();

    // What the radio port's owner reports.
    void showPtt(PttState state) override;
    void showFault(const std::string& fault) override;
    void tell(const std::string& line) override;
    void wakeAfter(Alarm alarm, int milliseconds) override;

    // Every write goes through it: a settings file that cannot be written shows on the ring.
    WriteWatch store_;
    MessageBox& messages_;
    HostLink& link_;

    QtSerialDevice device_;
    DeviceWatcher deviceWatcher_;
    QTimer answerDue_, transmitLimit_, questionDue_;
    QString portFault_, hostLinkDown_, notSaved_, rigctlDown_, settingsDamaged_;
    std::pair<bool, bool> iconShows_{false, false}; // transmit, fault
    bool keyedMark_ = false; // the mark is there

    QLabel* Label1 = nullptr;
    QComboBox* Combo1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QPushButton* Command1 = nullptr;
    // Made here, before the controller that shows the PTT state on it.
    Lamp* Shape1 = new Lamp(this);
    ClickLabel* Label3 = nullptr;

    RadioLink comport_;
    PttController controller_;
    PortPanel panel_;
    RigctlServer rigctl_;
    int rigctlPortGiven_ = -1;

    bool loaded = false;
    float border = 0;
    double scale_ = 1;
    bool toldTopUnavailable_ = false;
};

} // namespace torvak
