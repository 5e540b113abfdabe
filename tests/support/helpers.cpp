// SPDX-License-Identifier: GPL-3.0-or-later
#include "helpers.h"

#include <QCoreApplication>
#include <QDir>

#include <pty.h>

#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace torvak::test {

Sandbox::Sandbox()
{
    QDir(path({})).mkpath(QStringLiteral("config"));
    QDir(path({})).mkdir(QStringLiteral("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(QStringLiteral("run"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(QStringLiteral("config"))));
}

Sandbox::~Sandbox()
{
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
    qputenv("XDG_CONFIG_HOME", oldConfig);
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

QByteArray Sandbox::stored(const char* key) const
{
    for (const QByteArray& line : readSettings().split('\n'))
        if (line.startsWith(QByteArray(key) + '='))
            return line.mid(qstrlen(key) + 1);
    return {};
}

Pty::Pty()
{
    char name[256] = {};
    termios raw {};
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0)
        qFatal("openpty failed");
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    slavePath = QString::fromLocal8Bit(name);
}

QByteArray Pty::read(int atLeast, int timeoutMs)
{
    QByteArray got;
    const auto take = [&] {
        char buf[4096];
        for (ssize_t n; master >= 0 && (n = ::read(master, buf, sizeof buf)) > 0;)
            got.append(buf, n);
        return got.size() >= atLeast;
    };
    if (!take())
        QTest::qWaitFor(take, timeoutMs);
    return got;
}

void Pty::write(const QByteArray& bytes) const
{
    if (::write(master, bytes.constData(), bytes.size()) != bytes.size())
        qWarning("short write to the pty master");
}

int Pty::unread() const
{
    int n = -1;
    ::ioctl(slave, FIONREAD, &n);
    return n;
}

unsigned Pty::lineSpeed() const
{
    termios t {};
    ::tcgetattr(master, &t); // a pty master reads its slave's settings
    return cfgetospeed(&t);
}

void Pty::hangUp()
{
    for (int* fd : {&slave, &master})
        if (*fd >= 0)
            ::close(std::exchange(*fd, -1));
}

int connectUnix(const QString& path, int socketFlags)
{
    sockaddr_un addr {AF_UNIX, {}};
    const QByteArray native = QFile::encodeName(path).left(sizeof addr.sun_path - 1);
    std::memcpy(addr.sun_path, native.constData(), native.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | socketFlags, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
        return fd;
    ::close(fd);
    return -1;
}

QByteArray records(std::initializer_list<HostCommand> commands)
{
    QByteArray out;
    for (const HostCommand& c : commands)
        out.append(reinterpret_cast<const char*>(encodeRecord(c).data()), kRecordSize);
    return out;
}

std::string framesOf(const QByteArray& wire)
{
    const QByteArray tx("\xFE\xFE\x04\xE0\x16\x01\xFD", 7), rx("\xFE\xFE\x04\xE0\x16\x02\xFD", 7);
    std::string out;
    for (qsizetype at = wire.indexOf("\xFE\xFE"); at >= 0; at = wire.indexOf("\xFE\xFE", at + 2))
        if (const QByteArray f = wire.mid(at, 7); !f.mid(2).contains('\xFE'))
            out += std::string(out.empty() ? "" : " ") + (f == tx ? "T" : f == rx ? "R" : "?");
    return out;
}

QString bin(const char* name) { return QCoreApplication::applicationDirPath() + u'/' + QLatin1String(name); }

Radio::Radio(const QString& link)
{
    process.start(bin("radio-sim"), {QStringLiteral("--link"), link});
    waitLines(1);
    lines.clear(); // its device path
}

Radio::~Radio()
{
    process.terminate();
    process.waitForFinished(3000);
}

QStringList Radio::waitLines(int count, int timeoutMs)
{
    QTest::qWaitFor([&] {
        for (process.waitForReadyRead(5); process.canReadLine();)
            lines << QString::fromUtf8(process.readLine()).trimmed();
        return lines.size() >= count;
    }, timeoutMs);
    return lines;
}

Program::Program(const Sandbox& sandbox, QStringList command, bool waitForLink)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TORVAK_PTT_NO_DIALOGS"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    command << bin("torvak-ptt");
    process.start(command.takeFirst(), command);
    if (waitForLink && !QTest::qWaitFor([&] { return QFile::exists(sandbox.socketPath()); }, 5000))
        qWarning("torvak-ptt made no socket: %s", stderrText().constData());
}

Program::~Program()
{
    process.kill();
    process.waitForFinished(3000);
}

bool Program::endsWithZero()
{
    return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

int torvakfunc(const QStringList& args, QString* err)
{
    QProcess p;
    p.start(bin("torvakfunc"), args);
    p.waitForFinished(5000);
    if (err)
        *err = QString::fromUtf8(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace torvak::test
