// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <random>

namespace torvak::test {

// Runs the event loop until the condition holds or the time is up (bounded
// both ways); returns the condition.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 3000);

// Runs the event loop for a while, to let anything that should not happen happen.
void settle(int ms = 100);

// A plain client of a Unix stream socket, as a host program in any language
// would be: -1 when nobody listens.
int connectUnix(const QString& path);

// Writes the bytes in pieces of 1 to maxPiece bytes; false if the peer went away.
bool writeInPieces(int fd, const QByteArray& bytes, std::mt19937& rng, int maxPiece);

// A pseudo-terminal standing in for the radio's serial line: the program
// opens the slave path; the test reads and writes the master.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    QString slavePath() const { return slavePath_; }
    // Everything the program has written so far (waits up to timeoutMs for at
    // least `atLeast` bytes, running the event loop meanwhile).
    QByteArray read(int atLeast = 1, int timeoutMs = 2000);
    void write(const QByteArray& bytes);
    // The line's speed and control flags as the program set them.
    unsigned lineSpeed() const;
    unsigned lineFlags() const;
    // The radio disappears: the program's side hangs up.
    void hangUp();
    int masterFd() const { return master_; }

private:
    int master_ = -1;
    int slave_ = -1; // held so the line does not hang up between opens
    QString slavePath_;
};

// A private runtime and config directory for one test, set in the environment.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    QString runtimeDir() const { return dir_.filePath(QStringLiteral("run")); }
    QString configDir() const { return dir_.filePath(QStringLiteral("config")); }
    QString settingsPath() const { return configDir() + QStringLiteral("/VARN.conf"); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    // Writes the settings file as an operator would by hand.
    void writeSettings(const QByteArray& text) const;
    QByteArray readSettings() const;

private:
    QTemporaryDir dir_;
    QByteArray oldRuntime_, oldConfig_;
};

} // namespace torvak::test
