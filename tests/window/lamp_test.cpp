// SPDX-License-Identifier: GPL-3.0-or-later
// The lamp and host commands through the real window, with a pty as the radio.
#include "form_fixture.h"

#include <QComboBox>
#include <QMouseEvent>
#include <QWheelEvent>

using namespace torvak;
using namespace torvak::test;

namespace {

const QByteArray kTx("\xFE\xFE\x04\xE0\x16\x01\xFD", 7);
const QByteArray kRx("\xFE\xFE\x04\xE0\x16\x02\xFD", 7);

struct Window : FormFixture {
    void SetUp() override
    {
        start(devices());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    Lamp* lamp() const { return form->findChild<Lamp*>(QStringLiteral("Shape1")); }
    bool red() const { return lamp()->fillColour() == kTransmitRed; }
    void clickLamp() const
    {
        auto* target = form->findChild<QWidget*>(QStringLiteral("Label3"));
        QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
    }
};

} // namespace

TEST_F(Window, LampClicksAndHostCommandsPutTheirFramesOnTheWire)
{
    EXPECT_FALSE(red()) << "starts green";
    EXPECT_EQ(radio.read(1, 100), QByteArray()) << "start-up sends nothing";

    clickLamp();
    EXPECT_EQ(radio.read(7), kTx);
    EXPECT_TRUE(red());
    clickLamp();
    EXPECT_EQ(radio.read(7), kRx);
    EXPECT_FALSE(red());

    form->ptt(0, 1);
    form->ptt(0, 1);
    EXPECT_EQ(radio.read(14), kTx + kTx);
    EXPECT_TRUE(red());
    for (auto [c, s] : {std::pair{0, 2}, {2, 1}, {-1, 0}})
        form->ptt(c, s);
    EXPECT_EQ(radio.read(1, 100), QByteArray());
    EXPECT_TRUE(red());
    form->ptt(0, 0);
    EXPECT_EQ(radio.read(7), kRx);
    EXPECT_FALSE(red());
}

TEST_F(Window, AFrameThatCannotBeSentLeavesTheLampAndIsShownOnIt)
{
    form->ptt(0, 1);
    EXPECT_EQ(radio.read(7), kTx);
    form->comport().close();
    form->ptt(0, 0);
    EXPECT_TRUE(red()) << "the receive did not go out";
    clickLamp();
    EXPECT_TRUE(red());
    EXPECT_TRUE(lamp()->showsFault());
    EXPECT_TRUE(form->findChild<QWidget*>(QStringLiteral("Label3"))->toolTip().contains(
        QStringLiteral("not open")));
    EXPECT_TRUE(messages.shown.empty()) << "no modal box per failed command";
    EXPECT_TRUE(form->isVisible());

    ASSERT_TRUE(form->comport().open());
    form->ptt(0, 0);
    EXPECT_EQ(radio.read(7), kRx);
    EXPECT_FALSE(red());
    EXPECT_FALSE(lamp()->showsFault());
}

TEST_F(Window, EachInputActsOnceAndOnlyWhereItIsMeant)
{
    // A double-click on the lamp is one click: it toggles once. The widget gets
    // press, release, then the second press as a double-click, and release.
    auto* target = form->findChild<QWidget*>(QStringLiteral("Label3"));
    const QPointF at = target->rect().center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                    QEvent::MouseButtonRelease}) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton,
                          down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
    }
    EXPECT_EQ(radio.read(7), kTx);
    EXPECT_EQ(radio.read(1, 100), QByteArray());
    EXPECT_TRUE(red());

    // The wheel over the port list changes the port only once it has the focus.
    QTest::mouseClick(form->findChild<QWidget*>(QStringLiteral("Command1")), Qt::LeftButton);
    auto* list = form->findChild<QComboBox*>(QStringLiteral("Combo1"));
    const auto wheel = [list] {
        QWheelEvent down(QPointF(5, 5), list->mapToGlobal(QPointF(5, 5)), {}, QPoint(0, -120), Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(list, &down);
    };
    const QByteArray before = sandbox.readSettings();
    wheel();
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_EQ(sandbox.readSettings(), before);
    list->setFocus(Qt::TabFocusReason);
    wheel();
    EXPECT_EQ(list->currentIndex(), 1);
    EXPECT_TRUE(sandbox.readSettings().contains("ComPort=2"));
}

TEST_F(Window, TheCloseCommandEndsTheWindowWithoutAFrame)
{
    form->ptt(0, 1);
    EXPECT_EQ(radio.read(7), kTx);
    form->ptt(1, 1);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(link.isListening()) << "nothing keys the radio once the window goes";
    EXPECT_EQ(radio.read(1, 200), QByteArray());
}
