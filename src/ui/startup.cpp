// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of Form1: the fixed order the rest of the program relies on.
#include "form1.h"

#include "core/report.h"
#include "lamp.h"
#include "layout.h"
#include "settings/options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace torvak {

namespace {

// Every start-up step's failure is skipped; it is only logged.
void skipped(const char* step, const Status& status)
{
    if (!status)
        report(std::string("start-up: ") + step + ": " + status.reason());
}

} // namespace

Form1::Start Form1::load()
{
    // 1, 2. The host link: the socket named "TORVAKFUNC", wired to ptt.
    const HostLink::Installed hook = link_.installHook();
    if (hook.hook == HostLink::Hook::AlreadyRunning)
        return Start::AlreadyRunning;
    if (hook.hook == HostLink::Hook::Failed) {
        skipped("host link", Status::failure(hook.reason + "; host commands will not arrive until that is mended"));
        hostLinkIsDown(QString::fromStdString(hook.reason));
        link_.retryWhenTheDirectoryChanges();
    }

    // A line of the settings file that cannot be read stays on the ring.
    for (const std::string& line : store_.damage())
        settingsDamaged_ += (settingsDamaged_.isEmpty() ? QStringLiteral("In ") : QStringLiteral("\nIn "))
            + QString::fromStdString(line);

    // 3. The stored settings text into the box (loaded is false: nothing reacts).
    Text1->setText(QString::fromStdString(options::lineSettings(store_)));

    // 4. The list entry for the stored port.
    const Checked<std::int16_t> position = options::comPortListPosition(store_);
    if (!position.status)
        skipped("port list", position.status);
    else if (position.value < -1 || position.value >= Combo1->count())
        skipped("port list", Status::failure("no list entry for the stored port"));
    else
        Combo1->setCurrentIndex(position.value);

    // 5, 6. Configure the closed port before its one open at the end.
    const Checked<std::int16_t> number = options::comPort(store_);
    skipped("port number", number.status ? comport_.setPortNumber(number.value) : number.status);
    skipped("port settings", comport_.setSettings(Text1->text().toStdString()));

    // 7, 8. Run Minimized takes effect at this start; the window is minimized
    // once its width is set (after step 12).
    skipped("Run Minimized", setCheckValue(Check1, options::runMinimized(store_)));
    const bool startMinimized = checkValue(Check1) != 0;

    // 9, 10. Top.
    skipped("Top", setCheckValue(Check2, options::topMost(store_)));
    SetTopMost();

    // 11. The frame, measured before the width first changes. Until the window
    // manager has framed the window there is nothing to measure: take the
    // designed frame.
    const int frame = frameGeometry().width() - width();
    border = frame > 0 ? static_cast<float>(frame * layout::kTwipsPerPixel) : layout::kDesignedBorder;

    // 12. Collapsed.
    setOuterWidth(collapsedWidth());

    // Minimizing creates the native window, and resizing that window before
    // it is first mapped loses its iconic hint on X11: the window would open
    // normal. So step 8's action comes after the last resize.
    if (startMinimized)
        setWindowState(windowState() | Qt::WindowMinimized);

    // 13. The click target over the lamp.
    Label3->setGeometry(Shape1->geometry());

    // 14, 15. From here the port is kept open: one that does not open now
    // opens when its device appears. Nothing is asked, but the lamp shows the
    // operator why the radio cannot be reached.
    loaded = true;
    comport_.start();
    listenForRigctl();
    keyedMark_ = !leftKeyedMark().isEmpty() && QFile::exists(leftKeyedMark());
    if (keyedMark_)
        comport_.lastSessionLeftKeyed();
    showRing();
    refreshPortTips();
    return Start::Loaded;
}

} // namespace torvak
