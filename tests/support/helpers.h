// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the Qt-side tests share: a private runtime and config directory, a
// pseudo-terminal as the radio, host connections, and the built programs.
#include "core/host_command.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <string>

namespace torvak::test {

// A private runtime and config directory, set in the environment.
struct Sandbox {
    QTemporaryDir dir;
    QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    Sandbox();
    ~Sandbox();
    QString path(const QString& name) const { return dir.filePath(name); }
    QString socketPath() const { return path(QStringLiteral("run/TORVAKFUNC")); }
    QString settingsPath() const { return path(QStringLiteral("config/VARN.conf")); }
    void writeSettings(const QByteArray& text) const;
    QByteArray readSettings() const;
    QByteArray stored(const char* key) const; // the text after "key=", or nothing
};

// A pseudo-terminal standing in for the radio's line: the program opens the
// slave path; the test reads and writes the master.
struct Pty {
    int master = -1, slave = -1; // the slave is held so the line stays up between opens
    QString slavePath;
    Pty();
    ~Pty() { hangUp(); }
    // What the program wrote: waits up to timeoutMs for at least atLeast bytes.
    QByteArray read(int atLeast = 1, int timeoutMs = 2000);
    void write(const QByteArray& bytes) const;
    int unread() const; // what the radio sent that nobody has read yet
    unsigned lineSpeed() const;
    void hangUp(); // the radio disappears
};

// A host program's end of the link: -1 when nobody takes the connection.
int connectUnix(const QString& path, int socketFlags = 0);
QByteArray records(std::initializer_list<HostCommand> commands);
// The PTT frames on a wire as "T R ...", as a CI-V radio takes them: a frame
// cut short by the next preamble is dropped, anything else shows as "?".
std::string framesOf(const QByteArray& wire);

QString bin(const char* name); // the programs built beside the tests

// The simulated radio on a link: every line it prints after its device path.
struct Radio {
    QProcess process;
    QStringList lines;
    explicit Radio(const QString& link);
    ~Radio();
    QStringList waitLines(int count, int timeoutMs = 3000);
};

// torvak-ptt on the offscreen platform, run by command (such as prlimit) if given.
struct Program {
    QProcess process;
    QByteArray err;
    explicit Program(const Sandbox& sandbox, QStringList command = {}, bool waitForLink = true);
    ~Program();
    QByteArray stderrText() { return err += process.readAllStandardError(); }
    bool says(const char* text) { return QTest::qWaitFor([&] { return stderrText().contains(text); }, 3000); }
    bool endsWithZero();
};

int torvakfunc(const QStringList& args, QString* err = nullptr); // its exit code, -1 if it hung

// Settings that put COM1 on the link "radio" in the sandbox.
inline QByteArray devicesFor(const Sandbox& sandbox)
{
    return "[Devices]\nCOM1=" + sandbox.path(QStringLiteral("radio")).toUtf8() + "\n";
}

} // namespace torvak::test
