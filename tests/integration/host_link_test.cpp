// SPDX-License-Identifier: GPL-3.0-or-later
// The host link over a real Unix socket in a private runtime directory.
#include "platform/device_watcher.h"
#include "platform/host_link.h"
#include "platform/qt_serial_device.h"
#include "port/radio_link.h"
#include "support/fakes.h"
#include "support/helpers.h"

#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace torvak;
using namespace torvak::test;

namespace {

struct Received : std::vector<HostCommand> {
    QSignalSpy spy;
    explicit Received(HostLink& link) : spy(&link, &HostLink::hostCommand)
    {
        QObject::connect(&link, &HostLink::hostCommand, [this](std::int32_t c, std::int32_t s) { push_back({c, s}); });
    }
    bool reach(std::size_t n) // one record per turn of the event loop: waited for one by one
    {
        while (size() < n)
            if (!spy.wait(3000))
                return false;
        return true;
    }
};

void send(int fd, const QByteArray& bytes) { ASSERT_TRUE(sendAll(fd, bytes)); }

} // namespace

// Records arrive whole however they are cut, once each, in the order their
// last byte was read, whichever connection they came on; part of a record
// from a sender that left is dropped, not carried into the next connection.
TEST(HostLink, RecordsArriveWholeOnceAndInReadOrder)
{
    Sandbox sandbox;
    HostLink link;
    ASSERT_EQ(link.installHook().hook, HostLink::Hook::Installed);
    Received got(link);
    const int a = connectUnix(sandbox.socketPath()), b = connectUnix(sandbox.socketPath());
    const QByteArray fromA = records({{0, 1}, {0, 0}}), fromB = records({{0, 100}, {7, -9}});
    // Each byte is read by the link (the kernel holds none of it) before the next goes.
    const auto readByLink = [&](int fd, std::size_t commands) {
        return QTest::qWaitFor([&] {
            int unread = -1;
            return ::ioctl(fd, SIOCOUTQ, &unread) == 0 && unread == 0 && got.size() == commands;
        }, 2000);
    };
    for (int i = 0; i < fromA.size(); ++i) {
        send(a, fromA.mid(i, 1));
        EXPECT_TRUE(readByLink(a, std::size_t((i + 1) / 8 + i / 8))) << "a command from part of a record, or none from a whole one";
        send(b, fromB.mid(i, 1));
        EXPECT_TRUE(readByLink(b, std::size_t((i + 1) / 8 * 2)));
    }
    ASSERT_TRUE(got.reach(4));
    EXPECT_EQ(got, (std::vector<HostCommand>{{0, 1}, {0, 100}, {0, 0}, {7, -9}}));
    got.clear();
    send(a, records({{0, 1}, {7, 7}}).left(13));
    ::close(a);
    const int next = connectUnix(sandbox.socketPath());
    send(next, records({{0, 0}}));
    send(next, records({{0, 2}})); // after the half record would have come back
    ASSERT_TRUE(got.reach(3));
    EXPECT_EQ(got, (std::vector<HostCommand>{{0, 1}, {0, 0}, {0, 2}})) << "the half record came back";
    for (int fd : {b, next})
        ::close(fd);

    // A burst handed to the kernel before another host's receive is carried
    // out before it, however far past the read-ahead bound it goes, even when
    // that host connected first and both wait when the link looks.
    const auto taken = [&] { // a connection the link has accepted: none waits in the listening queue
        const int fd = connectUnix(sandbox.socketPath());
        EXPECT_TRUE(QTest::qWaitFor([&] { return run({"ss", "-Hxl", "src", sandbox.socketPath()}).out.section(u' ', 2, 2, QString::SectionSkipEmpty) == "0"; }, 2000));
        return fd;
    };
    for (const int burst : {150, 1000}) {
        got.clear();
        const int b = taken(), a = taken();
        QByteArray many;
        for (int i = 0; i < burst; ++i)
            many += records({{0, i % 2 == 0 ? 0 : 1}});
        // One record a turn: whatever else the window has to do runs between them.
        std::size_t atNextTurn = 0;
        QObject::connect(&link, &HostLink::hostCommand, &link, [&] { QTimer::singleShot(0, [&] { atNextTurn = got.size(); }); }, Qt::SingleShotConnection);
        send(a, many);
        send(b, records({{0, 0}}));
        ASSERT_TRUE(got.reach(burst + 1)) << burst;
        EXPECT_TRUE(QTest::qWaitFor([&] { return atNextTurn > 0; }, 1000));
        EXPECT_LT(atNextTurn, 3u) << burst << ": records were carried out together, and the window waited for them";
        EXPECT_EQ(got.back(), (HostCommand{0, 0})) << burst << ": the receive did not come last";
        EXPECT_EQ(got[burst - 1], (HostCommand{0, 1})) << burst;
        for (int fd : {a, b})
            ::close(fd);
    }
}

// One instance owns the socket: the lock decides, in any runtime directory
// of the user's or, without one, in a private folder of the user's cache; a
// socket or lock left by one that died is taken over.
// Anything else at either path, or a runtime directory unfit for the socket,
// is refused by name and left as it was.
TEST(HostLink, TheSocketPathAndRuntimeDirectoryTable)
{
    using Hook = HostLink::Hook;
    const auto env = [](const QByteArray& dir) { return [dir](const QByteArray&) { qputenv("XDG_RUNTIME_DIR", dir); }; };
    const auto chmodTo = [](mode_t mode) { return [mode](const QByteArray& path) { ::chmod(path.left(path.lastIndexOf('/')).constData(), mode); }; };
    const std::string session = "/run/user/" + std::to_string(::getuid());
    // Unset, the login session's folder would be used: where it is there, it
    // is the operator's own, and the row is not tried in it.
    const bool sessionThere = ::access(session.c_str(), F_OK) == 0;
    const std::tuple<const char*, std::function<void(const QByteArray&)>, Hook, bool> cases[] = { // ..., a second instance is refused
        {"", [](const QByteArray&) {}, Hook::Installed, true},
        {"", [](const QByteArray& path) { connectUnix(QFile::decodeName(path), 0, ::bind); }, Hook::Installed, true}, // a stale socket
        {"", [](const QByteArray& path) { QFile(QFile::decodeName(path + ".lock")).open(QIODevice::WriteOnly); }, Hook::Installed, true},
        {"is a regular file", [](const QByteArray& path) { QFile(QFile::decodeName(path)).open(QIODevice::WriteOnly); }, Hook::Failed, true},
        {"is a FIFO", [](const QByteArray& path) { ::mkfifo(path.constData(), 0600); }, Hook::Failed, true},
        {"TORVAKFUNC.lock: it is a directory; remove it", [](const QByteArray& path) { ::mkdir(path + ".lock", 0700); }, Hook::Failed, false},
        {"TORVAKFUNC.lock: it is a symbolic link", [](const QByteArray& path) { QFile::link("/tmp", QFile::decodeName(path + ".lock")); }, Hook::Failed, false},
        {"open to other users", chmodTo(0777), Hook::Failed, true},
        {"open to other users (mode 755)", chmodTo(0755), Hook::Failed, true},
        // Without a runtime directory the lock lives in a private folder: still one instance.
        {"does not exist", [](const QByteArray&) { // and the lock's folder, found open to others, is made private
             const QByteArray lockFolder = qgetenv("XDG_CACHE_HOME") + "/torvak-ptt";
             QDir().mkpath(QFile::decodeName(lockFolder));
             ::chmod(lockFolder.constData(), 0755);
             qputenv("XDG_RUNTIME_DIR", "/nonexistent/torvak");
         }, Hook::Failed, true},
        {"not an absolute path", env("run"), Hook::Failed, true},
        {session.c_str(), env(""), Hook::Failed, true}, // unset
        {"too long", [](const QByteArray& path) {
             const QByteArray deep = path.left(path.lastIndexOf('/') + 1) + QByteArray(100, 'd');
             ::mkdir(deep.constData(), 0700);
             qputenv("XDG_RUNTIME_DIR", deep);
         }, Hook::Failed, true},
    };
    for (const auto& [reason, prepare, hook, locked] : cases) {
        if (reason == session && sessionThere)
            continue;
        Sandbox sandbox;
        const QByteArray path = QFile::encodeName(sandbox.socketPath());
        prepare(path);
        struct stat before {}, after {};
        const bool existed = ::lstat(path.constData(), &before) == 0;
        HostLink link;
        const HostLink::Installed got = link.installHook();
        EXPECT_EQ(got.hook, hook) << reason << ": " << got.reason;
        EXPECT_NE(got.reason.find(reason), std::string::npos) << got.reason;
        HostLink second;
        EXPECT_EQ(second.installHook().hook == Hook::AlreadyRunning, locked) << reason;
        struct stat lockFolder {};
        const bool lockFolderMade = ::stat(QFile::encodeName(sandbox.path(QStringLiteral("cache/torvak-ptt"))).constData(), &lockFolder) == 0;
        EXPECT_TRUE(!lockFolderMade || (lockFolder.st_mode & 077) == 0) << reason << ": the lock's folder is open to others";
        if (hook == Hook::Installed) {
            ASSERT_EQ(::stat(path.constData(), &after), 0);
            EXPECT_TRUE(S_ISSOCK(after.st_mode));
            EXPECT_EQ(after.st_mode & 077, 0u) << "the socket is the user's alone";
            Received received(link);
            const int host = connectUnix(sandbox.socketPath());
            send(host, records({{0, 1}}));
            EXPECT_TRUE(received.reach(1)) << "a second instance took the socket";
            ::close(host);
            // Another socket put where ours was is not ours to delete.
            ::unlink(path.constData());
            connectUnix(QFile::decodeName(path), 0, ::bind);
            link.removeHook();
            EXPECT_EQ(::lstat(path.constData(), &after), 0) << reason;
        } else {
            EXPECT_EQ(::lstat(path.constData(), &after) == 0 && after.st_ino == before.st_ino, existed) << reason;
        }
    }
}

// The host link, the port's owner and a pseudo-terminal radio together.
struct LinkedRadio {
    Sandbox sandbox;
    Pty radio;
    QtSerialDevice device;
    DeviceWatcher watch;
    MemoryStore store;
    TestView view;
    RadioLink radioLink{device, watch, store, view};
    HostLink link;
    LinkedRadio()
    {
        radio.answers = true;
        store.values["Devices/COM1"] = radio.slavePath.toStdString();
        if (link.installHook().hook != HostLink::Hook::Installed)
            ADD_FAILURE() << "no host link";
        QObject::connect(&link, &HostLink::hostCommand, [this](std::int32_t c, std::int32_t s) {
            if (c == kCommandPtt)
                radioLink.sendPtt(s ? PttState::Transmit : PttState::Receive);
        });
        radioLink.start();
    }
    // The frames the radio got until this one came last, as "T R ..."; bounded.
    QString until(const QString& last, int timeoutMs = 10000)
    {
        QString frames;
        const QDeadlineTimer deadline(timeoutMs);
        while (!frames.endsWith(last) && !deadline.hasExpired())
            frames += (frames.isEmpty() ? "" : " ") + QString::fromStdString(framesOf(radio.read(7, 50)));
        return frames.simplified();
    }
};

// A host that never stops writing holds another back by one socket buffer at
// most: the other's transmit and receive reach the radio while it floods.
TEST(HostLink, AFloodStarvesNoOtherHost)
{
    LinkedRadio rig;
    std::atomic<bool> flooding{true};
    const int a = connectUnix(rig.sandbox.socketPath()), b = connectUnix(rig.sandbox.socketPath());
    std::thread flood([&] {
        const QByteArray ignored = records({{7, 7}}).repeated(512);
        const QDeadlineTimer deadline(5000);
        for (pollfd out{a, POLLOUT, 0}; flooding && !deadline.hasExpired();)
            if (::poll(&out, 1, 10) > 0 && ::write(a, ignored.constData(), ignored.size()) < 0)
                break;
        flooding = false;
    });
    send(b, records({{0, 1}}));
    const QString keyed = rig.until(QStringLiteral("T"));
    send(b, records({{0, 0}}));
    const QString released = rig.until(QStringLiteral("R"));
    const bool stillFlooding = flooding.exchange(false);
    flood.join();
    EXPECT_EQ(keyed + " " + released, "T R");
    EXPECT_TRUE(stillFlooding) << "the other host was heard only once the flood stopped";
    for (const int fd : {a, b})
        ::close(fd);
}
