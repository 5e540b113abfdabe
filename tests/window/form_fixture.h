// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Form1 as the program builds it, on a real settings file in a temporary
// XDG_CONFIG_HOME, with a pty as the radio on COM1.
#include "../unit/fakes.h"
#include "platform/qt_settings_store.h"
#include "support/helpers.h"
#include "ui/form1.h"
#include "ui/lamp.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace torvak::test {

struct FormFixture : ::testing::Test {
    Sandbox sandbox;
    Pty radio;
    std::unique_ptr<QtSettingsStore> store;
    RecordingBox messages;
    HostLink link;
    std::unique_ptr<Form1> form;

    QByteArray devices() const { return "[Devices]\nCOM1=" + radio.slavePath().toUtf8() + "\n"; }

    // Starts the window on this settings file, as the program does.
    void start(const QByteArray& settings)
    {
        sandbox.writeSettings(settings);
        store = std::make_unique<QtSettingsStore>();
        form = std::make_unique<Form1>(*store, messages);
        ASSERT_EQ(form->load(link), Form1::Start::Loaded);
        form->show();
    }

    template <typename T>
    T* child(const char* name) const
    {
        T* w = form->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    static bool underWindowManager() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

    // What the window manager says of the window. (QWidget::winId() can go
    // stale when Qt re-creates the native window; the QWindow's id does not.)
    QString netWmState() const
    {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(form->windowHandle()->winId()),
                                               QStringLiteral("_NET_WM_STATE"), QStringLiteral("WM_STATE")});
        xprop.waitForFinished(3000);
        return QString::fromUtf8(xprop.readAllStandardOutput());
    }
};

} // namespace torvak::test

// Window-manager tests skip without an X server, except under scripts/with-x,
// which promises one: there a missing window manager is a failure.
#define REQUIRE_WINDOW_MANAGER()                                                              \
    do {                                                                                      \
        if (!underWindowManager()) {                                                          \
            if (qEnvironmentVariableIsSet("TORVAK_EXPECT_WM"))                                \
                FAIL() << "scripts/with-x promised an X server, but Qt runs on "              \
                       << QGuiApplication::platformName().toStdString();                      \
            GTEST_SKIP() << "needs an X server with a window manager (scripts/with-x)";       \
        }                                                                                     \
    } while (false)
