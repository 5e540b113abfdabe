// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: the stored options reach the controls and the port, in order.
#include "form_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <termios.h>
#include <unistd.h>

using namespace torvak;
using namespace torvak::test;

namespace {

struct Startup : FormFixture {
    QComboBox* list() const { return child<QComboBox>("Combo1"); }
    QString box() const { return child<QLineEdit>("Text1")->text(); }
};

} // namespace

TEST_F(Startup, AnEmptyStoreGivesTheDesignedWindowAndWritesNothing)
{
    start(devices());
    EXPECT_EQ(form->width(), 79) << "collapsed client width";
    EXPECT_EQ(form->height(), 107);
    EXPECT_EQ(list()->currentIndex(), 0);
    EXPECT_FALSE(list()->isEnabled());
    EXPECT_EQ(box(), QStringLiteral("9600,n,8,1"));
    EXPECT_FALSE(child<QCheckBox>("Check1")->isChecked());
    EXPECT_FALSE(child<QCheckBox>("Check2")->isChecked());
    EXPECT_FALSE(form->windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(form->comport().portNumber(), 1);
    EXPECT_EQ(form->comport().settings(), "9600,n,8,1");
    EXPECT_TRUE(form->comport().isOpen());
    EXPECT_TRUE(form->isLoaded());
    // Label3 lies exactly over the lamp.
    EXPECT_EQ(child<QWidget>("Label3")->geometry(), child<QWidget>("Shape1")->geometry());
    EXPECT_EQ(sandbox.readSettings(), devices()) << "filling the controls stored nothing";
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Startup, StoredPortIsReadForTheListAndThePortSeparately)
{
    struct Case {
        const char* stored;
        int listPosition;
        int port;
    };
    for (const Case c : {Case{"3", 2, 3}, Case{"2.5", 2, 2}, Case{"9", -1, 9}, Case{"0", -1, 1},
                         Case{"x", -1, 1}, Case{"99999", -1, 1}}) {
        SCOPED_TRACE(c.stored);
        form.reset();
        link.removeHook();
        const QByteArray text = devices() + "[Com]\nComPort=" + c.stored + "\n";
        start(text);
        EXPECT_EQ(list()->currentIndex(), c.listPosition);
        EXPECT_EQ(form->comport().portNumber(), c.port);
        EXPECT_EQ(sandbox.readSettings(), text);
    }
}

TEST_F(Startup, StoredSettingsConfigureThePortBeforeItsOneOpen)
{
    start(devices() + "[Com]\nSettings=\"4800,n,8,2\"\n");
    ASSERT_TRUE(form->comport().isOpen());
    EXPECT_EQ(box(), QStringLiteral("4800,n,8,2"));
    // The line really runs at what was stored.
    EXPECT_EQ(radio.lineSpeed(), B4800);
    EXPECT_TRUE(radio.lineFlags() & CSTOPB);
}

TEST_F(Startup, ARejectedStoredSettingsTextIsStillShown)
{
    const QByteArray text = devices() + "[Com]\nSettings=48x\n";
    start(text);
    EXPECT_EQ(box(), QStringLiteral("48x"));
    EXPECT_EQ(form->comport().settings(), "9600,n,8,1") << "the port keeps what it had";
    EXPECT_TRUE(form->comport().isOpen());
    EXPECT_EQ(sandbox.readSettings(), text);
}

TEST_F(Startup, APortThatCannotBeOpenedGivesNoMessageButTheLampShowsWhy)
{
    const QString device = sandbox.path(QStringLiteral("radio2"));
    start("[Com]\nComPort=2\n[Devices]\nCOM1=" + radio.slavePath().toUtf8() + "\nCOM2=" + device.toUtf8() + "\n");
    EXPECT_FALSE(form->comport().isOpen());
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(form->isVisible());
    auto* lamp = child<Lamp>("Shape1");
    EXPECT_TRUE(lamp->showsFault());
    const QString tip = child<QWidget>("Label3")->toolTip();
    EXPECT_TRUE(tip.contains(QStringLiteral("COM2 (") + device + QStringLiteral("): no such device"))) << tip.toStdString();
    // Each entry of the list says what it opens, and whether it is there.
    EXPECT_EQ(list()->itemData(0, Qt::ToolTipRole).toString(), QStringLiteral("COM1 opens ") + radio.slavePath());
    EXPECT_EQ(list()->itemData(1, Qt::ToolTipRole).toString(),
              QStringLiteral("COM2 opens ") + device + QStringLiteral(", which is not there now"));

    // The device appears: the port opens by itself and the ring goes.
    ASSERT_EQ(::symlink(QFile::encodeName(radio.slavePath()).constData(), QFile::encodeName(device).constData()), 0);
    EXPECT_TRUE(waitUntil([&] { return !lamp->showsFault(); }));
    EXPECT_TRUE(form->comport().isOpen());
}
