// The host link over a real Unix socket in a private runtime directory.
#include "../support/helpers.h"
#include "core/host_command.h"
#include "platform/host_link.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <gtest/gtest.h>

#include <atomic>
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

std::unique_ptr<QLocalSocket> connectTo(const HostLink& link)
{
    auto s = std::make_unique<QLocalSocket>();
    s->connectToServer(link.socketPath());
    EXPECT_TRUE(s->waitForConnected(2000)) << s->errorString().toStdString();
    return s;
}

void send(QLocalSocket& s, const QByteArray& bytes)
{
    s.write(bytes);
    s.flush();
}

} // namespace

TEST(HostLink, RecordsArriveWholeAndInOrderHoweverTheyAreCut)
{
    Sandbox sandbox;
    HostLink link;
    ASSERT_EQ(link.installHook(), HostLink::Hook::Installed);
    Received got(link);

    // The socket file is the user's alone.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(link.socketPath()).constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u) << std::oct << st.st_mode;
    EXPECT_EQ(link.socketPath(), sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC"));

    // One record in three pieces, then two records in one write.
    auto a = connectTo(link);
    const QByteArray first = recordsOf({{0, 1}});
    send(*a, first.left(3));
    settle(30);
    send(*a, first.mid(3, 2));
    settle(30);
    EXPECT_TRUE(got.commands.empty()) << "no command from part of a record";
    send(*a, first.mid(5));
    send(*a, recordsOf({{0, 0}, {7, -9}}));
    ASSERT_TRUE(waitUntil([&] { return got.commands.size() == 3; }));
    EXPECT_EQ(got.commands, (std::vector<HostCommand>{{0, 1}, {0, 0}, {7, -9}}));

    // Two senders interleaved byte-wise: each one's records stay whole and in order.
    got.commands.clear();
    auto b = connectTo(link);
    const QByteArray fromA = recordsOf({{0, 1}, {0, 0}});
    const QByteArray fromB = recordsOf({{0, 100}, {0, 200}});
    for (int i = 0; i < fromA.size(); ++i) {
        send(*a, fromA.mid(i, 1));
        send(*b, fromB.mid(i, 1));
        settle(2);
    }
    ASSERT_TRUE(waitUntil([&] { return got.commands.size() == 4; }));
    std::vector<HostCommand> seenA, seenB;
    for (const auto& c : got.commands)
        (c.state >= 100 ? seenB : seenA).push_back(c);
    EXPECT_EQ(seenA, (std::vector<HostCommand>{{0, 1}, {0, 0}}));
    EXPECT_EQ(seenB, (std::vector<HostCommand>{{0, 100}, {0, 200}}));
}

TEST(HostLink, PartialRecordsAndNoiseNeverBecomePhantomCommands)
{
    Sandbox sandbox;
    HostLink link;
    ASSERT_EQ(link.installHook(), HostLink::Hook::Installed);
    Received got(link);

    // A sender that leaves mid-record: the five bytes are dropped, not carried
    // over into the next connection.
    {
        auto s = connectTo(link);
        send(*s, recordsOf({{0, 1}}) + recordsOf({{0, 0}}).left(5));
        s->disconnectFromServer();
    }
    auto next = connectTo(link);
    send(*next, recordsOf({{0, 0}}));
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
        send(*next, noise.mid(at, n));
        at += n;
    }
    ASSERT_TRUE(waitUntil([&] { return got.commands.size() == 500; }));
    settle(50);
    EXPECT_EQ(got.commands.size(), 500u);
}

TEST(HostLink, AStaleSocketIsReplacedAndALiveOneIsLeftAlone)
{
    Sandbox sandbox;
    const QString path = sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC");
    {
        // What a crashed instance leaves behind: a socket file nobody listens on.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        std::memcpy(addr.sun_path, native.constData(), native.size());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
        ASSERT_TRUE(QFileInfo::exists(path));
    }

    HostLink first;
    ASSERT_EQ(first.installHook(), HostLink::Hook::Installed);
    Received got(first);

    HostLink second;
    QString why;
    EXPECT_EQ(second.installHook(&why), HostLink::Hook::AlreadyRunning);
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(second.isListening());

    // The first still takes commands.
    auto s = connectTo(first);
    send(*s, recordsOf({{0, 1}}));
    EXPECT_TRUE(waitUntil([&] { return got.commands.size() == 1; }));

    // Once unhooked, nothing more is carried out.
    send(*s, recordsOf({{0, 0}}).left(4));
    first.removeHook();
    send(*s, recordsOf({{0, 0}}).mid(4));
    settle(100);
    EXPECT_EQ(got.commands.size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(HostLink, RefusesARuntimeDirectoryOthersCanReach)
{
    Sandbox sandbox;
    ASSERT_TRUE(QFile::setPermissions(sandbox.runtimeDir(), QFile::ReadOwner | QFile::WriteOwner
                                          | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther
                                          | QFile::WriteOther));
    HostLink link;
    QString why;
    EXPECT_EQ(link.installHook(&why), HostLink::Hook::Failed);
    EXPECT_TRUE(why.contains(QStringLiteral("open to other users"))) << why.toStdString();
    EXPECT_FALSE(QFileInfo::exists(sandbox.runtimeDir() + QStringLiteral("/TORVAKFUNC")));

    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(sandbox.path(QStringLiteral("missing"))));
    HostLink nowhere;
    EXPECT_EQ(nowhere.installHook(&why), HostLink::Hook::Failed);
    EXPECT_TRUE(why.contains(QStringLiteral("does not exist"))) << why.toStdString();
}

TEST(HostLink, TwentyConcurrentSendersEachGetEveryRecordOnceAndInOrder)
{
    Sandbox sandbox;
    HostLink link;
    ASSERT_EQ(link.installHook(), HostLink::Hook::Installed);
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
