// SPDX-License-Identifier: GPL-3.0-or-later
// Hamlib's own client (rigctl -m 2) and raw TCP clients against torvak-ptt,
// with radio-sim as the radio.
#include "support/helpers.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <csignal>
#include <set>

using namespace torvak::test;

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// Hamlib's client: what it printed, or "exit N" when it failed.
QString rigctl(quint16 port, const QStringList& commands)
{
    QProcess p;
    p.start(QStringLiteral("rigctl"), QStringList{"-m", "2", "-r", QStringLiteral("127.0.0.1:%1").arg(port)} + commands);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return QStringLiteral("exit %1: ").arg(p.exitCode()) + QString::fromUtf8(p.readAllStandardError());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed() + (err.isEmpty() ? QString() : "\nstderr: " + err);
}

// The TCP ports the process listens on, as "address:port" in /proc's hex.
std::set<QString> listening(qint64 pid)
{
    std::set<QString> inodes, found;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::System))
        if (const QString target = QFile::symLinkTarget(fds.filePath(fd)); target.contains("socket:["))
            inodes.insert(target.section('[', 1).chopped(1));
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile f{QString::fromLatin1(table)};
        f.open(QIODevice::ReadOnly);
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 9 && fields[3] == "0A" && inodes.count(QString::fromLatin1(fields[9])))
                found.insert(QString::fromLatin1(fields[1]));
        }
    }
    return found;
}

struct RigctlEndToEnd : ::testing::Test {
    Sandbox sandbox;
    Radio radio{sandbox.path(QStringLiteral("radio"))};
    quint16 port = freePort();
    RigctlEndToEnd() { sandbox.writeSettings(devicesFor(sandbox)); }
    // What the radio was told to do since the last call: PTT and settings,
    // not the reads a client makes on connecting.
    QString done(int atLeast, int timeoutMs = 3000)
    {
        QStringList kept;
        const auto collect = [&] {
            radio.waitLines(radio.lines.size() + 1, 10);
            kept.clear();
            for (const QString& line : radio.lines)
                if (line == "TX" || line == "RX" || line.startsWith("FE FE 04 E0 05") || line.startsWith("FE FE 04 E0 06"))
                    kept << line;
            return kept.size() >= atLeast;
        };
        (void)QTest::qWaitFor(collect, timeoutMs);
        QTest::qWait(100); // and nothing more
        collect();
        radio.lines.clear();
        return kept.join(u' ');
    }
};

} // namespace

TEST_F(RigctlEndToEnd, HamlibsClientKeysTunesAndReleasesWhenItDies)
{
    Program ptt(sandbox, {}, true, {"--rigctl-port", QString::number(port)});
    ASSERT_TRUE(ptt.says("rigctl clients connect to 127.0.0.1")) << ptt.stderrText().constData();
    const std::tuple<QStringList, const char*, const char*> rows[] = {
        {{"T", "1", "t", "T", "0", "t"}, "1\n0", "TX RX"},
        {{"T", "2", "T", "3", "T", "0"}, "", "TX TX RX"},
        {{"T", "1"}, "", "TX RX"}, // the client ends with the radio keyed: released
        {{"F", "7074000", "f", "m"}, "7074000\nUSB\n2400", "FE FE 04 E0 05 00 40 07 07 00 FD"},
        {{"M", "CW", "500", "m"}, "CW\n500", "FE FE 04 E0 06 03 02 FD"},
    };
    for (const auto& [commands, prints, frames] : rows) {
        EXPECT_EQ(rigctl(port, commands), prints) << qPrintable(commands.join(' '));
        EXPECT_EQ(done(QString(frames).count(' ') + 1), frames) << qPrintable(commands.join(' '));
    }
    // Killed while keyed, after another client came and went; keyed, then a
    // host's receive (its death then sends nothing).
    for (const bool hostReleases : {false, true}) {
        QProcess client;
        client.start(QStringLiteral("rigctl"), {"-m", "2", "-r", QStringLiteral("127.0.0.1:%1").arg(port), "-"});
        client.write("T 1\n");
        EXPECT_EQ(done(1), "TX");
        EXPECT_EQ(rigctl(port, {"t"}), "1");
        if (hostReleases) {
            EXPECT_EQ(torvakfunc({"rx"}), 0);
            EXPECT_EQ(done(1), "RX");
        }
        client.kill();
        client.waitForFinished(3000);
        EXPECT_EQ(done(1, 2000), hostReleases ? "" : "RX") << "within 2 s of the client's death";
    }
    EXPECT_EQ(torvakfunc({"tx"}), 0);
    EXPECT_EQ(rigctl(port, {"T", "0"}), "");
    EXPECT_EQ(done(2), "TX RX");
    // Loopback only: 127.0.0.1 and ::1, and for a client that asks, the lamp's state.
    EXPECT_EQ(listening(ptt.process.processId()),
              (std::set<QString>{QStringLiteral("0100007F:%1").arg(port, 4, 16, QChar('0')).toUpper(),
                                 QStringLiteral("00000000000000000000000001000000:%1").arg(port, 4, 16, QChar('0')).toUpper()}));
}

// No key, nothing on TCP; a port taken is said and the rest runs on; bad
// clients harm nobody else.
TEST_F(RigctlEndToEnd, OffUnlessAskedAndBadClientsHarmNoOne)
{
    {
        Program ptt(sandbox);
        EXPECT_EQ(listening(ptt.process.processId()), std::set<QString>{});
    }
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, port));
    sandbox.writeSettings(devicesFor(sandbox) + "[Rigctl]\nPort=" + QByteArray::number(port) + "\n");
    {
        Program ptt(sandbox);
        EXPECT_TRUE(ptt.says(qPrintable(QStringLiteral("port %1 is in use: is rigctld running?").arg(port))));
        EXPECT_EQ(torvakfunc({"tx"}), 0);
        EXPECT_EQ(done(1), "TX");
    }
    taken.close();
    Program ptt(sandbox);
    ASSERT_TRUE(ptt.says("rigctl clients connect to"));
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 17; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(clients.back()->waitForConnected(2000));
    }
    EXPECT_TRUE(clients.back()->waitForDisconnected(2000)) << "the 17th client is turned away";
    // One floods and never reads; one sends a line too long; the others are answered.
    QByteArray flood;
    for (int i = 0; i < 100000; ++i)
        flood += "t\n";
    clients[0]->write(flood);
    clients[0]->flush();
    clients[1]->write(QByteArray(5000, 'x') + "\nt\n");
    clients[2]->write("f\n");
    const auto answer = [](QTcpSocket& c, int lines) {
        QByteArray got;
        (void)QTest::qWaitFor([&] { return c.waitForReadyRead(10), (got += c.readAll()).count('\n') >= lines; }, 3000);
        return got;
    };
    EXPECT_EQ(answer(*clients[1], 2), "RPRT -1\n0\n");
    EXPECT_EQ(answer(*clients[2], 1), "14074000\n");
    EXPECT_EQ(torvakfunc({"rx"}), 0);
    EXPECT_EQ(done(1), "RX") << "the host link is served too";
}
