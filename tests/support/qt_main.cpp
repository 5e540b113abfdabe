// SPDX-License-Identifier: GPL-3.0-or-later
// GoogleTest main for tests that need Qt's event loop and widgets.
#include <QApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char* argv[])
{
    // A program under test that drops a connection must fail a test, not end
    // the whole run with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // The windowless tests run anywhere; the window tests set their own platform.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("torvak-ptt"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
