// SPDX-License-Identifier: GPL-3.0-or-later
// The host link over a real Unix socket in a private runtime directory.
#include "../support/helpers.h"
#include "core/host_command.h"
#include "platform/host_link.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <random>
#include <thread>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace torvak;
using namespace torvak::test;

namespace {

struct Received {
    std::vector<HostCommand> commands;
    explicit Received(HostLink& link)
    {
        QObject::connect(&link, &HostLink::hookProc, [this](std::int32_t c, std::int32_t s) {
            commands.push_back({c, s});
        });
    }
};

QByteArray recordsOf(const std::vector<HostCommand>& commands)
{
    QByteArray out;
    for (const auto& c : commands) {
        const Record r = encodeRecord(c);
        out.append(reinterpret_cast<const char*>(r.data()), r.size());
    }
    return out;
}

// A host program's end of a connection.
struct Host {
    int fd;
    explicit Host(const HostLink& link) : fd(connectUnix(link.socketPath())) { EXPECT_GE(fd, 0); }
    ~Host() { ::close(fd); }
    void send(const QByteArray& bytes) const { ASSERT_EQ(::write(fd, bytes.constData(), bytes.size()), bytes.size()); }
};

} // namespace

TEST(HostLink, RecordsArriveWholeAndInOrderHoweverTheyAreCut)
{
    Sandbox sandbox;
    HostLink link;
    ASSERT_EQ(link.installHook().hook, HostLink::Hook::Installed);
    Received got(link);

    // The socket file is the user's alone.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(link.socketPath()).constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u) << std::oct << st.st_mode;
    EXPECT_EQ(link.socketPath(), sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC"));

    // One record in three pieces, then two records in one write.
    Host a(link);
    const QByteArray first = recordsOf({{0, 1}});
    a.send(first.left(3));
    settle(30);
    a.send(first.mid(3, 2));
    settle(30);
    EXPECT_TRUE(got.commands.empty()) << "no command from part of a record";
    a.send(first.mid(5));
    a.send(recordsOf({{0, 0}, {7, -9}}));
    ASSERT_TRUE(waitUntil([&] { return got.commands.size() == 3; }));
    EXPECT_EQ(got.commands, (std::vector<HostCommand>{{0, 1}, {0, 0}, {7, -9}}));

    // Two senders interleaved byte-wise: each record is carried out in the
    // order its last byte was read, whichever connection it came on.
    got.commands.clear();
    Host b(link);
    const QByteArray fromA = recordsOf({{0, 1}, {0, 0}});
    const QByteArray fromB = recordsOf({{0, 100}, {0, 200}});
    for (int i = 0; i < fromA.size(); ++i) {
        a.send(fromA.mid(i, 1));
        settle(2);
        b.send(fromB.mid(i, 1));
        settle(2);
    }
    ASSERT_TRUE(waitUntil([&] { return got.commands.size() == 4; }));
    EXPECT_EQ(got.commands, (std::vector<HostCommand>{{0, 1}, {0, 100}, {0, 0}, {0, 200}}));

    // A burst on one connection, then a receive on another: the receive comes
    // last, not between the burst's records.
    for (int round = 0; round < 20; ++round) {
        got.commands.clear();
        a.send(recordsOf({{0, 1}, {0, 0}, {0, 1}, {0, 0}, {0, 1}}));
        b.send(recordsOf({{0, 0}}));
        ASSERT_TRUE(waitUntil([&] { return got.commands.size() == 6; }));
        ASSERT_EQ(got.commands.back(), (HostCommand{0, 0})) << "round " << round;
    }
}

TEST(HostLink, PartialRecordsAndNoiseNeverBecomePhantomCommands)
{
    Sandbox sandbox;
    HostLink link;
    ASSERT_EQ(link.installHook().hook, HostLink::Hook::Installed);
    Received got(link);

    // A sender that leaves mid-record: the five bytes are dropped, not carried
    // over into the next connection.
    {
        Host s(link);
        s.send(recordsOf({{0, 1}}) + recordsOf({{0, 0}}).left(5));
    }
    Host next(link);
    next.send(recordsOf({{0, 0}}));
    ASSERT_TRUE(waitUntil([&] { return got.commands.size() == 2; }));
    settle(50);
    EXPECT_EQ(got.commands, (std::vector<HostCommand>{{0, 1}, {0, 0}}));

    // Random bytes in random pieces: exactly one command per 8 bytes, no crash.
    got.commands.clear();
    std::mt19937 rng(5);
    QByteArray noise(4003, '\0');
    for (auto& ch : noise)
        ch = static_cast<char>(rng());
    for (int at = 0; at < noise.size();) {
        const int n = 1 + static_cast<int>(rng() % 40);
        next.send(noise.mid(at, n));
        at += n;
    }
    ASSERT_TRUE(waitUntil([&] { return got.commands.size() == 500; }));
    settle(50);
    EXPECT_EQ(got.commands.size(), 500u);
}

// One instance owns the socket: the lock decides, and a socket left by one
// that died is replaced. Whatever else is at the path, or a runtime directory
// unfit for the socket, is refused by name and left as it was.
TEST(HostLink, TheSocketPathAndRuntimeDirectoryTable)
{
    struct Case {
        const char* name;
        std::function<void(const QString& runtime)> prepare;
        HostLink::Hook hook;
        const char* reason;
    };
    const auto chmodRuntime = [](mode_t mode) {
        return [mode](const QString& dir) { ::chmod(QFile::encodeName(dir).constData(), mode); };
    };
    const Case cases[] = {
        {"empty", [](const QString&) {}, HostLink::Hook::Installed, ""},
        {"stale socket", [](const QString& dir) {
             const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un addr {};
             addr.sun_family = AF_UNIX;
             const QByteArray native = QFile::encodeName(dir + QStringLiteral("/TORVAKFUNC"));
             std::memcpy(addr.sun_path, native.constData(), native.size());
             ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
             ::close(fd);
         }, HostLink::Hook::Installed, ""},
        {"regular file", [](const QString& dir) {
             QFile f(dir + QStringLiteral("/TORVAKFUNC"));
             f.open(QIODevice::WriteOnly);
             f.write("someone's notes");
         }, HostLink::Hook::Failed, "is a regular file"},
        {"FIFO", [](const QString& dir) { ::mkfifo(QFile::encodeName(dir + QStringLiteral("/TORVAKFUNC")).constData(), 0600); },
         HostLink::Hook::Failed, "is a FIFO"},
        {"open to others", chmodRuntime(0777), HostLink::Hook::Failed, "open to other users"},
        {"readable by the group", chmodRuntime(0750), HostLink::Hook::Failed, "open to other users"},
        {"missing", [](const QString&) { qputenv("XDG_RUNTIME_DIR", "/nonexistent/torvak"); },
         HostLink::Hook::Failed, "does not exist"},
        {"relative", [](const QString&) { qputenv("XDG_RUNTIME_DIR", "run"); }, HostLink::Hook::Failed,
         "not an absolute path"},
        {"too long", [](const QString& dir) {
             const QString deep = dir + u'/' + QString(100, u'd');
             QDir().mkpath(deep);
             ::chmod(QFile::encodeName(deep).constData(), 0700);
             qputenv("XDG_RUNTIME_DIR", QFile::encodeName(deep));
         }, HostLink::Hook::Failed, "too long"},
    };
    for (const Case& c : cases) {
        Sandbox sandbox;
        c.prepare(sandbox.runtimeDir());
        const QString path = sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC");
        struct stat before {};
        const bool existed = ::lstat(QFile::encodeName(path).constData(), &before) == 0;
        HostLink link;
        const HostLink::Installed got = link.installHook();
        EXPECT_EQ(got.hook, c.hook) << c.name << ": " << got.reason;
        EXPECT_NE(got.reason.find(c.reason), std::string::npos) << c.name << ": " << got.reason;
        struct stat after {};
        if (c.hook == HostLink::Hook::Installed) {
            ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &after), 0) << c.name;
            EXPECT_TRUE(S_ISSOCK(after.st_mode)) << c.name;
            EXPECT_EQ(after.st_mode & 077, 0u) << c.name << ": the socket is the user's alone";
            Received received(link);
            Host host(link);
            host.send(recordsOf({{0, 1}}));
            EXPECT_TRUE(waitUntil([&] { return received.commands.size() == 1; })) << c.name;

            // A second instance leaves the first alone.
            HostLink second;
            EXPECT_EQ(second.installHook().hook, HostLink::Hook::AlreadyRunning) << c.name;
            host.send(recordsOf({{0, 0}}));
            EXPECT_TRUE(waitUntil([&] { return received.commands.size() == 2; })) << c.name;
        } else if (existed) {
            ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &after), 0) << c.name << ": deleted";
            EXPECT_EQ(after.st_ino, before.st_ino) << c.name;
        } else {
            EXPECT_FALSE(QFileInfo::exists(path)) << c.name;
        }
    }
}

TEST(HostLink, NothingIsCarriedOutOnceUnhooked)
{
    Sandbox sandbox;
    HostLink link;
    ASSERT_EQ(link.installHook().hook, HostLink::Hook::Installed);
    Received got(link);
    Host s(link);
    s.send(recordsOf({{0, 1}}));
    EXPECT_TRUE(waitUntil([&] { return got.commands.size() == 1; }));
    s.send(recordsOf({{0, 0}}).left(4));
    link.removeHook();
    ASSERT_EQ(::write(s.fd, recordsOf({{0, 0}}).mid(4).constData(), 4), 4);
    settle(100);
    EXPECT_EQ(got.commands.size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC")));
}

TEST(HostLink, TwentyConcurrentSendersEachGetEveryRecordOnceAndInOrder)
{
    Sandbox sandbox;
    HostLink link;
    ASSERT_EQ(link.installHook().hook, HostLink::Hook::Installed);
    Received got(link);

    constexpr int kSenders = 20, kEach = 500;
    std::atomic<int> finished{0};
    std::vector<std::thread> senders;
    const QString path = link.socketPath();
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            const int fd = connectUnix(path);
            std::vector<HostCommand> mine;
            for (int i = 0; i < kEach; ++i)
                mine.push_back({100 + s, i}); // a command word ptt ignores, tagged
            std::mt19937 rng(s);
            writeInPieces(fd, recordsOf(mine), rng, 19);
            ::close(fd);
            ++finished;
        });
    }
    EXPECT_TRUE(waitUntil([&] {
        return finished == kSenders && got.commands.size() == std::size_t(kSenders * kEach);
    }, 30000));
    for (auto& t : senders)
        t.join();
    settle(50);

    ASSERT_EQ(got.commands.size(), std::size_t(kSenders * kEach));
    std::vector<int> next(kSenders, 0);
    for (const HostCommand& c : got.commands) {
        const int s = c.command - 100;
        ASSERT_TRUE(s >= 0 && s < kSenders);
        ASSERT_EQ(c.state, next[s]) << "sender " << s;
        ++next[s];
    }
}
