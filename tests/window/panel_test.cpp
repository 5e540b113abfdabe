// SPDX-License-Identifier: GPL-3.0-or-later
// The options panel and the two window options, under a real window manager.
#include "form_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

using namespace torvak;
using namespace torvak::test;

namespace {

struct Panel : FormFixture {
    QPushButton* toggle() const { return child<QPushButton>("Command1"); }
    QList<QWidget*> options() const
    {
        return {child<QWidget>("Combo1"), child<QWidget>("Text1"), child<QWidget>("Check1"),
                child<QWidget>("Check2")};
    }
    void click(QWidget* w) const { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(5, w->height() / 2)); }
    QByteArray stored(const char* key) const
    {
        for (const QByteArray& line : sandbox.readSettings().split('\n'))
            if (line.startsWith(QByteArray(key) + '='))
                return line.mid(qstrlen(key) + 1);
        return {};
    }
};

} // namespace

TEST_F(Panel, MoreAndLessExpandAndCollapseToExactlyTheSameWidth)
{
    start(devices());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    const int collapsed = form->width();
    const int height = form->height();
    EXPECT_EQ(collapsed, 79);

    QTest::mouseClick(toggle(), Qt::LeftButton);
    EXPECT_EQ(toggle()->text(), QStringLiteral("&Less<<"));
    // At least the designed width: the settings box plus the frame beyond it.
    EXPECT_GE(form->width(), 257 + static_cast<int>(form->borderTwips() / 15));
    for (QWidget* w : options()) {
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
        EXPECT_LE(w->geometry().right(), form->width()) << w->objectName().toStdString() << " is cut off";
        EXPECT_GE(w->width(), w->sizeHint().width() - 1) << w->objectName().toStdString();
    }

    QTest::mouseClick(toggle(), Qt::LeftButton);
    EXPECT_EQ(toggle()->text(), QStringLiteral("&More>>"));
    EXPECT_EQ(form->width(), collapsed);
    EXPECT_EQ(form->height(), height);
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the user cannot resize it";

    // Collapsed, the option controls take neither focus nor access keys.
    for (QWidget* w : options())
        EXPECT_FALSE(w->isEnabled());
    QTest::keyClick(form.get(), Qt::Key_N, Qt::AltModifier);
    QTest::keyClick(form.get(), Qt::Key_T, Qt::AltModifier);
    QTest::keyClick(form.get(), Qt::Key_P, Qt::AltModifier);
    QTest::keyClick(form.get(), Qt::Key_S, Qt::AltModifier);
    for (QWidget* w : options())
        EXPECT_FALSE(w->hasFocus()) << w->objectName().toStdString();
    EXPECT_FALSE(child<QCheckBox>("Check1")->isChecked());
    EXPECT_FALSE(child<QCheckBox>("Check2")->isChecked());
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : form.get(), Qt::Key_Tab);
        for (QWidget* w : options())
            EXPECT_FALSE(w->hasFocus()) << w->objectName().toStdString();
    }
    EXPECT_EQ(sandbox.readSettings(), devices());

    // Expanded, the access keys reach them.
    QTest::keyClick(form.get(), Qt::Key_M, Qt::AltModifier);
    ASSERT_TRUE(waitUntil([&] { return toggle()->text() == QStringLiteral("&Less<<"); }));
    QTest::keyClick(form.get(), Qt::Key_P, Qt::AltModifier);
    EXPECT_TRUE(child<QWidget>("Combo1")->hasFocus());
}

TEST_F(Panel, TopKeepsTheWindowAboveAtOnceAndIsStored)
{
    REQUIRE_WINDOW_MANAGER();
    start(devices());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const WId id = form->windowHandle()->winId();
    const QPoint where = form->pos();
    QTest::mouseClick(toggle(), Qt::LeftButton);
    auto* top = child<QCheckBox>("Check2");

    click(top);
    EXPECT_TRUE(waitUntil([&] { return netWmState().contains(QStringLiteral("_NET_WM_STATE_ABOVE")); }))
        << netWmState().toStdString();
    EXPECT_EQ(stored("Top"), "1");
    EXPECT_EQ(form->windowHandle()->winId(), id) << "the live window, not a new one";

    click(top);
    EXPECT_TRUE(waitUntil([&] { return !netWmState().contains(QStringLiteral("_NET_WM_STATE_ABOVE")); }))
        << netWmState().toStdString();
    EXPECT_EQ(stored("Top"), "0");
    EXPECT_EQ(form->windowHandle()->winId(), id);
    EXPECT_EQ(form->pos(), where) << "not moved";
}

TEST_F(Panel, RunMinimizedIsStoredAndTakesEffectAtTheNextStart)
{
    REQUIRE_WINDOW_MANAGER();
    start(devices());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QTest::mouseClick(toggle(), Qt::LeftButton);
    click(child<QCheckBox>("Check1"));
    click(child<QCheckBox>("Check2"));
    EXPECT_EQ(stored("Min"), "1");
    settle(200);
    EXPECT_FALSE(netWmState().contains(QStringLiteral("Iconic"))) << "nothing changes now";
    EXPECT_FALSE(form->windowState() & Qt::WindowMinimized);

    // The next starts: each option on its own and both together.
    struct Case {
        const char* win;
        bool iconic, above;
    };
    for (const Case c : {Case{"Min=1\nTop=0\n", true, false}, Case{"Min=0\nTop=1\n", false, true},
                         Case{"Min=1\nTop=1\n", true, true}}) {
        form.reset();
        link.removeHook();
        const QByteArray text = devices() + "[Win]\n" + c.win;
        start(text);
        EXPECT_TRUE(waitUntil([&] {
            const QString state = netWmState();
            return state.contains(QStringLiteral("Iconic")) == c.iconic
                && state.contains(QStringLiteral("Normal")) == !c.iconic
                && state.contains(QStringLiteral("_NET_WM_STATE_ABOVE")) == c.above;
        })) << c.win << netWmState().toStdString();
        EXPECT_EQ(form->width(), 79) << c.win << "collapsed";
        EXPECT_EQ(sandbox.readSettings(), text) << "start-up stores nothing";
    }
}

TEST_F(Panel, NoCaptionIsClippedAtALargerFont)
{
    const QFont desktop = QApplication::font();
    QApplication::setFont(QFont(desktop.family(), 14)); // a common low-vision setting
    start(devices());
    // scripts/screenshot asks for pictures of the window at this font.
    const QString shots = qEnvironmentVariable("TORVAK_SHOTS");
    if (!shots.isEmpty())
        form->grab().save(shots + QStringLiteral("/14pt-collapsed.png"));
    QTest::mouseClick(toggle(), Qt::LeftButton);
    if (!shots.isEmpty())
        form->grab().save(shots + QStringLiteral("/14pt-expanded.png"));
    const QRect client = form->rect();
    // Each caption's text against its control: check boxes and the list
    // also need room for their box and arrow, which their size hint has.
    const auto needs = [](QWidget* w) {
        const QFontMetrics fm = w->fontMetrics();
        QString text = w->property("text").toString();
        if (auto* list = qobject_cast<QComboBox*>(w))
            return QSize(list->sizeHint().width(), fm.height());
        if (qobject_cast<QCheckBox*>(w))
            return QSize(w->sizeHint().width(), fm.height());
        return QSize(fm.horizontalAdvance(text.remove(u'&')), fm.height());
    };
    for (const char* name : {"Label1", "Combo1", "Label2", "Text1", "Check1", "Check2", "Command1"}) {
        auto* w = child<QWidget>(name);
        EXPECT_GE(w->width(), needs(w).width()) << name;
        EXPECT_GE(w->height(), needs(w).height()) << name;
        EXPECT_TRUE(client.contains(w->geometry())) << name << " lies outside the window";
    }
    // A label ends above the control it names.
    EXPECT_LE(child<QWidget>("Label1")->geometry().bottom(), child<QWidget>("Combo1")->y());
    EXPECT_LE(child<QWidget>("Label2")->geometry().bottom(), child<QWidget>("Text1")->y());
    EXPECT_GT(form->height(), 107) << "the window grows with its text";
    QApplication::setFont(desktop);
}
