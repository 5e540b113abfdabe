// SPDX-License-Identifier: GPL-3.0-or-later
#include "helpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <pty.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace torvak::test {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

int connectUnix(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    if (native.size() >= static_cast<qsizetype>(sizeof addr.sun_path)) {
        ::close(fd);
        return -1;
    }
    std::memcpy(addr.sun_path, native.constData(), native.size());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeInPieces(int fd, const QByteArray& bytes, std::mt19937& rng, int maxPiece)
{
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype n = std::min<qsizetype>(1 + rng() % maxPiece, bytes.size() - at);
        if (::write(fd, bytes.constData() + at, n) != n)
            return false;
        at += n;
    }
    return true;
}

Pty::Pty()
{
    char name[256] = {};
    struct termios raw {};
    cfmakeraw(&raw);
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        qFatal("openpty failed");
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    slavePath_ = QString::fromLocal8Bit(name);
}

Pty::~Pty() { hangUp(); }

QByteArray Pty::read(int atLeast, int timeoutMs)
{
    QByteArray got;
    waitUntil([&] {
        char buf[4096];
        ssize_t n;
        while (master_ >= 0 && (n = ::read(master_, buf, sizeof buf)) > 0)
            got.append(buf, n);
        return got.size() >= atLeast;
    }, timeoutMs);
    return got;
}

void Pty::write(const QByteArray& bytes)
{
    if (master_ >= 0 && ::write(master_, bytes.constData(), bytes.size()) != bytes.size())
        qWarning("short write to the pty master");
}

namespace {

termios lineOf(int fd)
{
    termios t {};
    ::tcgetattr(fd, &t); // a pty master reads its slave's settings
    return t;
}

} // namespace

unsigned Pty::lineSpeed() const
{
    const termios t = lineOf(master_);
    return cfgetospeed(&t);
}

unsigned Pty::lineFlags() const { return lineOf(master_).c_cflag; }

void Pty::hangUp()
{
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}

Sandbox::Sandbox()
    : oldRuntime_(qgetenv("XDG_RUNTIME_DIR"))
    , oldConfig_(qgetenv("XDG_CONFIG_HOME"))
{
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(configDir());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir()));
}

Sandbox::~Sandbox()
{
    qputenv("XDG_RUNTIME_DIR", oldRuntime_);
    qputenv("XDG_CONFIG_HOME", oldConfig_);
}

void Sandbox::writeSettings(const QByteArray& text) const
{
    QFile f(settingsPath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
        qFatal("cannot write the test settings file");
}

QByteArray Sandbox::readSettings() const
{
    QFile f(settingsPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace torvak::test
