// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the Qt-side tests share: a private runtime and config directory, a
// pseudo-terminal as the radio, host connections, and the built programs.
#include "core/host_command.h"
#include "core/ptt_frame.h"
#include "support/frames.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <poll.h>
#include <pty.h>
#include <string>
#include <csignal>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; } // for failures

namespace torvak::test {

// A private runtime and config directory, set in the environment.
struct Sandbox {
    QTemporaryDir dir;
    QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR"), oldConfig = qgetenv("XDG_CONFIG_HOME"), oldCache = qgetenv("XDG_CACHE_HOME");
    Sandbox()
    {
        QDir(path({})).mkpath(QStringLiteral("config"));
        QDir(path({})).mkdir(QStringLiteral("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(QStringLiteral("run"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(QStringLiteral("config"))));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(path(QStringLiteral("cache"))));
    }
    ~Sandbox()
    {
        qputenv("XDG_RUNTIME_DIR", oldRuntime);
        qputenv("XDG_CONFIG_HOME", oldConfig);
        qputenv("XDG_CACHE_HOME", oldCache);
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString socketPath() const { return path(QStringLiteral("run/TORVAKFUNC")); }
    QString settingsPath() const { return path(QStringLiteral("config/VARN.conf")); }
    void writeSettings(const QByteArray& text) const
    {
        QFile f(settingsPath());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
            qFatal("cannot write the test settings file");
    }
    QByteArray readSettings() const
    {
        QFile f(settingsPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QByteArray stored(const char* key) const // the text after "key=", or nothing
    {
        for (const QByteArray& line : readSettings().split('\n'))
            if (line.startsWith(QByteArray(key) + '='))
                return line.mid(qstrlen(key) + 1);
        return {};
    }
};

// A pseudo-terminal standing in for the radio's line: the program opens the
// slave path; the test reads and writes the master. The slave is held so the
// line stays up between opens.
struct Pty {
    int master = -1, slave = -1;
    QString slavePath;
    Pty()
    {
        char name[256] = {};
        termios raw {};
        cfmakeraw(&raw);
        if (::openpty(&master, &slave, name, &raw, nullptr) != 0)
            qFatal("openpty failed");
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        // Not inherited by programs started meanwhile: closing them must hang the line up.
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        slavePath = QString::fromLocal8Bit(name);
    }
    ~Pty()
    {
        ::close(slave);
        ::close(master);
    }
    bool answers = false; // like a CI-V radio: the bus echo, then FB for each frame
    // What the program wrote, once there are atLeast bytes or the time is up.
    // Between looks the event loop runs (the program may be in this process)
    // and the master is polled, so bytes are seen as they come: the
    // benchmarks time frames with it too.
    QByteArray read(int atLeast = 1, int timeoutMs = 2000)
    {
        QByteArray got;
        const QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
        for (;;) {
            char buf[4096];
            for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) {
                got.append(buf, n);
                if (answers)
                    write(QByteArray(buf, n) + QByteArray("\xFE\xFE\xE0\x04\xFB\xFD", 6).repeated(QByteArray(buf, n).count('\xFD')));
            }
            if (got.size() >= atLeast || deadline.hasExpired())
                return got;
            pollfd ready{master, POLLIN, 0};
            ::poll(&ready, 1, static_cast<int>(std::min<qint64>(10, deadline.remainingTime())));
            if (QCoreApplication::instance()) {
                // For a while, not one pass: a program in this process may
                // carry out one command a turn.
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            }
        }
    }
    void write(const QByteArray& bytes) const
    {
        if (::write(master, bytes.constData(), bytes.size()) != bytes.size())
            qWarning("short write to the pty master");
    }
    int unread() const // what the radio sent that nobody has read yet
    {
        int n = -1;
        ::ioctl(slave, FIONREAD, &n);
        return n;
    }
    unsigned lineSpeed() const
    {
        termios t {};
        ::tcgetattr(master, &t); // a pty master reads its slave's settings
        return cfgetospeed(&t);
    }
};

// A host program's end of the link: -1 when nobody takes the connection.
// Binding instead leaves the socket a program that died leaves behind.
inline int connectUnix(const QString& path, int socketFlags = 0, decltype(::connect)* how = ::connect)
{
    sockaddr_un addr {AF_UNIX, {}};
    const QByteArray native = QFile::encodeName(path).left(sizeof addr.sun_path - 1);
    std::memcpy(addr.sun_path, native.constData(), native.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | socketFlags, 0);
    if (how(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && how == ::connect)
        return fd;
    ::close(fd);
    return -1;
}

inline QByteArray records(std::initializer_list<HostCommand> commands)
{
    QByteArray out;
    for (const HostCommand& c : commands)
        out.append(reinterpret_cast<const char*>(encodeRecord(c).data()), kRecordSize);
    return out;
}

// Hands all these bytes to the kernel, however many writes that takes; false
// when the connection fails first.
inline bool sendAll(int fd, const QByteArray& bytes)
{
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + sent, static_cast<std::size_t>(bytes.size() - sent));
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// A host's commands, each as a record.
inline bool sendRecords(int fd, std::initializer_list<HostCommand> commands) { return sendAll(fd, records(commands)); }

// The PTT frames on a wire as "T R ...", as a CI-V radio takes them.
inline std::string framesOf(const QByteArray& wire)
{
    std::string out;
    for (const auto& [name, at] : framesOn({reinterpret_cast<const std::uint8_t*>(wire.constData()), static_cast<std::size_t>(wire.size())}))
        out += (out.empty() ? "" : " ") + (name[0] == 'q' ? "?" : name);
    return out;
}

inline QByteArray bytesOf(const Frame& f) { return QByteArray(reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size())); }

// Its exit code once it ends, -1 if it crashed or is still running after timeoutMs.
inline int exitCodeOf(QProcess& p, int timeoutMs = 5000)
{
    return p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A program run to its end: its exit code (-1 if it crashed or hung) and
// all it printed, stdout then stderr.
struct Ran {
    int code;
    QString out;
};
inline Ran run(QStringList command, int timeoutMs = 5000, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(command.takeFirst(), command);
    const int code = exitCodeOf(p, timeoutMs);
    p.kill();
    p.waitForFinished(1000);
    return {code, QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

inline QString bin(const char* name) { return QCoreApplication::applicationDirPath() + u'/' + QLatin1String(name); }

// The simulated radio on a link: every line it prints after its device path.
struct Radio {
    QProcess process;
    QStringList lines;
    explicit Radio(const QString& link, const QStringList& options = {})
    {
        process.start(bin("radio-sim"), QStringList{QStringLiteral("--link"), link} + options);
        waitLines(1);
        lines.clear();
    }
    ~Radio()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
    QStringList waitLines(int count, int timeoutMs = 3000) // the caller checks what came
    {
        (void)QTest::qWaitFor([&] {
            for (process.waitForReadyRead(5); process.canReadLine();)
                lines << QString::fromUtf8(process.readLine()).trimmed();
            return lines.size() >= count;
        }, timeoutMs);
        return lines;
    }
};

// torvak-ptt on the offscreen platform, run by command (such as prlimit) if
// given; its stderr goes to a file in the sandbox, so that however much it
// says it never waits for a reader (the benchmarks start it this way too).
// A program started here ends with whoever started it, also one that crashed.
inline void endsWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

struct Program {
    QProcess process;
    QString errFile;
    explicit Program(const Sandbox& sandbox, QStringList command = {}, bool waitForLink = true, const QStringList& arguments = {})
    {
        static int started = 0;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TORVAK_PTT_NO_DIALOGS"), QStringLiteral("1"));
        process.setProcessEnvironment(env);
        errFile = sandbox.path(QStringLiteral("stderr-%1.log").arg(++started));
        process.setStandardErrorFile(errFile);
        endsWithParent(process);
        command << bin("torvak-ptt") << arguments;
        process.start(command.takeFirst(), command);
        if (waitForLink && !QTest::qWaitFor([&] { return QFile::exists(sandbox.socketPath()); }, 5000))
            qWarning("torvak-ptt made no socket: %s", stderrText().constData());
    }
    ~Program()
    {
        process.kill();
        process.waitForFinished(3000);
    }
    QByteArray stderrText() const
    {
        QFile f(errFile);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool says(const char* text) { return QTest::qWaitFor([&] { return stderrText().contains(text); }, 3000); }
    bool endsWithZero() { return exitCodeOf(process) == 0; }
};

inline int torvakfunc(const QStringList& args, QString* said = nullptr) // its exit code, -1 if it hung
{
    const Ran ran = run(QStringList{bin("torvakfunc")} + args);
    if (said)
        *said = ran.out;
    return ran.code;
}

// Whether the process sleeps, waiting for something to do, rather than runs.
inline bool asleep(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.open(QIODevice::ReadOnly) && stat.readAll().split(')').value(1).startsWith(" S");
}

// A Wine prefix of its own (the null graphics driver, so no display is
// needed; no Mono or Gecko to offer), made at construction and removed with
// everything running in it at the end.
struct WinePrefix {
    QString path;
    bool made = false;
    explicit WinePrefix(const QString& where) : path(where)
    {
        QDir(path).removeRecursively();
        made = run({"wine", "reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"}) == 0;
        stop(); // its desktop started with the default driver
    }
    ~WinePrefix()
    {
        stop();
        QDir(path).removeRecursively();
    }
    QProcessEnvironment env() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), path);
        env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
        env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
        return env;
    }
    void start(QProcess& p, QStringList command) const
    {
        p.setProcessEnvironment(env());
        p.start(command.takeFirst(), command);
    }
    int run(const QStringList& command) const { return test::run(command, 120000, env()).code; } // its exit code, -1 if it hung
    void stop() const
    {
        run({"wineserver", "-k"});
        run({"wineserver", "-w"});
    }
};

// Settings that put COM1 on the link "radio" in the sandbox.
inline QByteArray devicesFor(const Sandbox& sandbox) { return "[Devices]\nCOM1=" + sandbox.path(QStringLiteral("radio")).toUtf8() + "\n"; }

// A sandbox whose COM1 is the simulated radio: the built programs' fixture.
struct SimulatedRadio {
    Sandbox sandbox;
    Radio radio{sandbox.path(QStringLiteral("radio"))};
    SimulatedRadio() { sandbox.writeSettings(devicesFor(sandbox)); }
};

} // namespace torvak::test
