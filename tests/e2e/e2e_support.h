// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The built programs, driven as an operator or a host program would.
#include "support/helpers.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

namespace torvak::e2e {

using namespace torvak::test;

inline QString bin(const char* name)
{
    // The programs are built beside the tests.
    return QCoreApplication::applicationDirPath() + u'/' + QLatin1String(name);
}

// Settings that put COM1 on the simulated radio's link in the sandbox.
inline QByteArray devicesFor(const Sandbox& sandbox)
{
    return "[Devices]\nCOM1=" + sandbox.path(QStringLiteral("radio")).toUtf8() + "\n";
}

// The simulated radio: its device path, and every line it prints.
struct Radio {
    QProcess process;
    QString device;
    QStringList lines;

    explicit Radio(const QString& link)
    {
        process.start(bin("radio-sim"), {QStringLiteral("--link"), link});
        EXPECT_TRUE(process.waitForStarted(3000));
        EXPECT_TRUE(waitUntil([&] { return poll() >= 1; }));
        device = lines.value(0);
        lines.clear();
    }
    ~Radio()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
    int poll()
    {
        process.waitForReadyRead(10);
        while (process.canReadLine())
            lines << QString::fromUtf8(process.readLine()).trimmed();
        return lines.size();
    }
    QStringList waitLines(int count, int timeoutMs = 3000)
    {
        waitUntil([&] { return poll() >= count; }, timeoutMs);
        return lines;
    }
};

struct ProgramOptions {
    bool onScreen = false;  // a real window on $DISPLAY instead of offscreen
    bool expectLink = true; // wait for the host link's socket
    QStringList runAs{};    // a command to run it under, such as setpriv
};

struct Program {
    using Options = ProgramOptions;
    QProcess process;
    QByteArray err;

    explicit Program(const Sandbox& sandbox, Options options = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!options.onScreen)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TORVAK_PTT_NO_DIALOGS"), QStringLiteral("1"));
        process.setProcessEnvironment(env);
        QStringList command = options.runAs;
        command << bin("torvak-ptt");
        process.start(command.takeFirst(), command);
        EXPECT_TRUE(process.waitForStarted(3000));
        if (options.expectLink) {
            EXPECT_TRUE(waitUntil([&] { return QFile::exists(sandbox.runtimeDir() + "/TORVAKFUNC"); }, 5000));
        }
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    // Everything it has said on stderr so far.
    QByteArray stderrText()
    {
        err += process.readAllStandardError();
        return err;
    }
    // Waits until stderr says this, or the time is up.
    bool says(const char* text, int timeoutMs = 3000)
    {
        return waitUntil([&] { return stderrText().contains(text); }, timeoutMs);
    }
    // CPU seconds the program has used so far.
    double cpuSeconds() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(process.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QList<QByteArray> fields = stat.readAll().split(' ');
        return (fields.value(13).toDouble() + fields.value(14).toDouble()) / ::sysconf(_SC_CLK_TCK);
    }
};

inline int torvakfunc(const QStringList& args, QString* err = nullptr, const QStringList& runAs = {})
{
    QProcess p;
    QStringList command = runAs;
    command << bin("torvakfunc") << args;
    p.start(command.takeFirst(), command);
    p.waitForFinished(5000);
    if (err)
        *err = QString::fromUtf8(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace torvak::e2e
