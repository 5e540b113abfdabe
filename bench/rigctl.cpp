// SPDX-License-Identifier: GPL-3.0-or-later
// "T 1" / "T 0" from a Hamlib NET rigctl client to the PTT frame at the
// radio: torvak-ptt's endpoint against Hamlib's own rigctld for the same
// radio (-m 3051, Ten-Tec Omni VI Plus, the same frames), and the host
// record path beside them, interleaved in one run. Each radio is a pty whose
// far end echoes every frame and answers it, as a CI-V bus and radio do.
// Then what a client that floods \dump_state and never reads costs in memory.
#include "bench_support.h"
#include "core/ptt_frame.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace torvak::bench;

namespace {

// The radio: notes when each PTT frame's last byte arrived, echoes each
// frame and answers OK, or its frequency when asked (03h).
class AnsweringRadio {
public:
    AnsweringRadio() : thread_([this] { run(); }) {}
    ~AnsweringRadio()
    {
        stop_ = true;
        thread_.join();
    }
    QString path() const { return pty_.slavePath; }
    // When the next PTT frame arrived, or nothing within 2 s.
    std::optional<Clock::time_point> nextPtt()
    {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::seconds(2), [this] { return !ptt_.empty(); }))
            return std::nullopt;
        const Clock::time_point at = ptt_.front();
        ptt_.pop_front();
        return at;
    }

private:
    void run()
    {
        std::vector<std::uint8_t> frame;
        while (!stop_) {
            struct pollfd p {pty_.master, POLLIN, 0};
            std::uint8_t byte;
            if (::poll(&p, 1, 50) <= 0 || ::read(pty_.master, &byte, 1) != 1)
                continue;
            frame.push_back(byte);
            if (byte != 0xFD)
                continue;
            if (frame.size() >= 6 && frame[4] == 0x16) {
                std::lock_guard lock(mutex_);
                ptt_.push_back(Clock::now());
                arrived_.notify_one();
            }
            std::vector<std::uint8_t> back = frame;
            const std::vector<std::uint8_t> ok{0xFE, 0xFE, 0xE0, 0x04, 0xFB, 0xFD},
                frequency{0xFE, 0xFE, 0xE0, 0x04, 0x03, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD};
            const auto& answer = frame.size() == 6 && frame[4] == 0x03 ? frequency : ok;
            back.insert(back.end(), answer.begin(), answer.end());
            if (::write(pty_.master, back.data(), back.size()) < 0)
                std::perror("radio");
            frame.clear();
        }
    }

    Pty pty_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Clock::time_point> ptt_;
    std::thread thread_;
};

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// A rigctl client's connection, once the server takes it (up to 10 s).
int connectTcp(int port)
{
    for (int i = 0; i < 200; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return fd;
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "nothing listens on port %d\n", port);
    std::exit(1);
}

// Sends "T n", then reads the answer line so the next command starts clean.
std::optional<double> keyOverRigctl(int fd, AnsweringRadio& radio, int ptt)
{
    const std::string line = "T " + std::to_string(ptt) + "\n";
    const auto t0 = Clock::now();
    if (::send(fd, line.data(), line.size(), 0) != static_cast<ssize_t>(line.size()))
        return std::nullopt;
    const auto at = radio.nextPtt();
    for (char c = 0; c != '\n';)
        if (::recv(fd, &c, 1, 0) != 1)
            return std::nullopt;
    if (!at)
        return std::nullopt;
    return std::chrono::duration<double, std::micro>(*at - t0).count();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const bool fast = quick(argc, argv);
    const int kRounds = fast ? 30 : 300;
    Sandbox sandbox;
    AnsweringRadio ours, theirs;
    const int ourPort = freePort(), theirPort = freePort();
    sandbox.writeSettings(com1(ours.path(), "[Rigctl]\nPort=" + QByteArray::number(ourPort) + "\n"));
    Program program(sandbox);
    QProcess rigctld;
    endsWithParent(rigctld);
    rigctld.start(QStringLiteral("rigctld"), {"-m", "3051", "-r", theirs.path(), "-s", "9600", "-t", QString::number(theirPort)});
    if (!rigctld.waitForStarted()) {
        std::fprintf(stderr, "rigctld did not start (Debian: libhamlib-utils)\n");
        return 1;
    }
    const int ourClient = connectTcp(ourPort), theirClient = connectTcp(theirPort), host = connectUnix(sandbox.socketPath());

    std::vector<double> endpoint, hamlib, record;
    for (int i = 0; i < kRounds + 20; ++i) { // the first 20 warm up
        const int ptt = i % 2 == 0 ? 1 : 0;
        const auto e = keyOverRigctl(ourClient, ours, ptt);
        const auto h = keyOverRigctl(theirClient, theirs, ptt);
        const auto t0 = Clock::now();
        const bool sent = sendRecords(host, {{0, ptt}});
        const auto r = ours.nextPtt();
        if (!e || !h || !sent || !r) {
            std::fprintf(stderr, "round %d: a frame did not arrive (endpoint %d, rigctld %d, host %d)\n", i, !!e, !!h, !!r);
            return 1;
        }
        if (i >= 20) {
            endpoint.push_back(*e);
            hamlib.push_back(*h);
            record.push_back(std::chrono::duration<double, std::micro>(*r - t0).count());
        }
    }
    ::close(theirClient);
    ::close(host);
    rigctld.terminate();
    rigctld.waitForFinished();

    // A client that asks for \dump_state over and over and never reads: what
    // the endpoint holds for it must stay bounded, so it stops reading such a
    // client once the kernel's buffers and its own backlog are full.
    const std::string once = "\\dump_state\n";
    if (::send(ourClient, once.data(), once.size(), 0) != static_cast<ssize_t>(once.size()))
        return 1;
    std::size_t answer = 0;
    for (std::string got; !got.ends_with("done\n");) {
        char buf[4096];
        const ssize_t n = ::recv(ourClient, buf, sizeof buf, 0);
        if (n <= 0)
            return 1;
        got.append(buf, n);
        answer = got.size();
    }
    ::close(ourClient);
    const std::string flood = [&] { std::string f; for (int i = 0; i < (fast ? 10000 : 100000); ++i) f += once; return f; }();
    const std::string rss = "/proc/" + std::to_string(program.process.processId()) + "/status";
    const long before = statusField(rss, "VmRSS");
    const int greedy = connectTcp(ourPort);
    std::size_t taken = 0;
    for (const auto end = Clock::now() + std::chrono::seconds(3); taken < flood.size() && Clock::now() < end;) {
        const ssize_t n = ::send(greedy, flood.data() + taken, flood.size() - taken, MSG_DONTWAIT);
        if (n > 0)
            taken += static_cast<std::size_t>(n);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long after = statusField(rss, "VmRSS");
    ::close(greedy);

    std::printf("%d alternating T 1 / T 0, interleaved; microseconds from send to the frame at the radio\n", kRounds);
    const Figures e = figures(endpoint), h = figures(hamlib), r = figures(record);
    printFigures("torvak-ptt rigctl endpoint", e);
    printFigures("hamlib rigctld -m 3051", h);
    printFigures("torvak-ptt host record", r);
    std::printf("rigctld over the endpoint: median %.1fx (goal >= 5x)\n", h.median / e.median);
    std::printf("endpoint over the host record: median %.2fx (goal <= 2x)\n", e.median / r.median);
    std::printf("a client that sends \\dump_state %zu times (%.1f MB of answers) and never reads: %zu of its %zu bytes sent, "
                "torvak-ptt's resident memory grew %ld KiB (goal < 1024)\n",
                flood.size() / once.size(), double(flood.size() / once.size() * answer) / 1e6, taken, flood.size(), after - before);
    if (before <= 0 || after <= 0)
        notMeasured("torvak-ptt's resident memory");
    return exitStatus();
}
