// SPDX-License-Identifier: GPL-3.0-or-later
// radio-sim: a TenTec-style CI-V transceiver on a pseudo-terminal, for the
// demo and the tests. Prints its device path, then every frame it receives:
// "TX", "RX", or the bytes in hex. Echoes everything as the CI-V bus does and
// answers each frame addressed to it: its frequency (03h), mode and filter
// (04h) and split (0Fh) when asked, OK (FE FE E0 04 FB FD) to everything else
// it takes, and NG (FA) to a frequency, mode or VFO it cannot set. --fault
// plays what goes wrong with a real radio: ng (it answers FA), no-answer (it
// is off: only the bus echoes), other-address (its CI-V address is not 04h),
// silent (no interface: no echo, no answer), noise (a wrong line speed).
#include "core/ptt_frame.h"

#include <pty.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr unsigned char kPreamble = 0xFE;
constexpr unsigned char kEnd = 0xFD;
constexpr unsigned char kOwnAddress = 0x04;
constexpr std::array<unsigned char, 6> kOk{0xFE, 0xFE, 0xE0, 0x04, 0xFB, 0xFD};
constexpr std::array<unsigned char, 6> kNg{0xFE, 0xFE, 0xE0, 0x04, 0xFA, 0xFD};

enum class Fault { None, Ng, NoAnswer, OtherAddress, Silent, Noise };
constexpr std::size_t kLongestFrame = 64;

volatile std::sig_atomic_t stopping = 0;

void stop(int) { stopping = 1; }

std::string hex(const std::vector<unsigned char>& bytes)
{
    std::string out;
    char part[4];
    for (unsigned char b : bytes) {
        std::snprintf(part, sizeof part, out.empty() ? "%02X" : " %02X", b);
        out += part;
    }
    return out;
}

void writeAll(int fd, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // nobody reads the line: the bus drops it
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Collects bytes into frames and reports each one.
class Bus {
public:
    Bus(int master, Fault fault) : master_(master), fault_(fault) {}

    void receive(const unsigned char* data, std::size_t size)
    {
        if (fault_ == Fault::Noise) { // what a wrong line speed makes of the echo
            std::vector<unsigned char> garbled(data, data + size);
            for (unsigned char& b : garbled)
                b = static_cast<unsigned char>((b >> 1) | 0x80) ^ 0x15;
            writeAll(master_, garbled.data(), garbled.size());
        } else if (fault_ != Fault::Silent) {
            writeAll(master_, data, size); // the bus echo
        }
        for (std::size_t i = 0; i < size; ++i)
            take(data[i]);
    }

private:
    void take(unsigned char byte)
    {
        pending_.push_back(byte);
        if (byte != kEnd && pending_.size() < kLongestFrame)
            return;
        report();
        pending_.clear();
    }

    void report()
    {
        const bool framed = pending_.size() >= 5 && pending_[0] == kPreamble && pending_[1] == kPreamble
            && pending_.back() == kEnd;
        if (!framed) {
            std::printf("junk %s\n", hex(pending_).c_str());
            return;
        }
        const auto is = [this](const torvak::Frame& f) { return std::equal(pending_.begin(), pending_.end(), f.begin(), f.end()); };
        std::printf("%s\n", is(torvak::kTransmitFrame) ? "TX" : is(torvak::kReceiveFrame) ? "RX" : hex(pending_).c_str());
        const bool answers = fault_ == Fault::None || fault_ == Fault::Ng;
        if (pending_[2] != kOwnAddress || !answers)
            return;
        if (fault_ == Fault::Ng)
            return writeAll(master_, kNg.data(), kNg.size());
        const std::vector<unsigned char> data(pending_.begin() + 5, pending_.end() - 1);
        std::vector<unsigned char> answer{0xFE, 0xFE, 0xE0, 0x04, pending_[4]};
        bool taken = true;
        switch (pending_[4]) {
        case 0x03: // the frequency: ten digits of BCD, lowest first
            if (!data.empty())
                taken = false;
            for (unsigned long long rest = frequency_, i = 0; i < 5; ++i, rest /= 100)
                answer.push_back(static_cast<unsigned char>((rest / 10 % 10) << 4 | rest % 10));
            break;
        case 0x04:
            taken = data.empty();
            answer.insert(answer.end(), {mode_, filter_});
            break;
        case 0x0F:
            if (data.empty()) {
                answer.push_back(split_);
                break;
            }
            taken = data.size() == 1 && data[0] <= 1;
            split_ = taken ? data[0] : split_;
            answer.clear();
            break;
        case 0x05:
            taken = setFrequency(data);
            answer.clear();
            break;
        case 0x06:
            taken = !data.empty() && data.size() <= 2 && data[0] <= 0x08 && data[0] != 0x06
                && (data.size() == 1 || (data[1] >= 1 && data[1] <= 3));
            if (taken) {
                mode_ = data[0];
                filter_ = data.size() == 2 ? data[1] : 2;
            }
            answer.clear();
            break;
        case 0x07:
            taken = data.size() == 1 && data[0] <= 1;
            answer.clear();
            break;
        default:
            answer.clear();
        }
        if (!taken)
            return writeAll(master_, kNg.data(), kNg.size());
        if (answer.empty())
            return writeAll(master_, kOk.data(), kOk.size());
        answer.push_back(kEnd);
        writeAll(master_, answer.data(), answer.size());
    }

    // Five bytes of BCD, lowest digits first, in the bands it tunes.
    bool setFrequency(const std::vector<unsigned char>& bcd)
    {
        if (bcd.size() != 5)
            return false;
        unsigned long long hertz = 0;
        for (std::size_t i = 5; i-- > 0;) {
            if ((bcd[i] >> 4) > 9 || (bcd[i] & 0x0F) > 9)
                return false;
            hertz = hertz * 100 + (bcd[i] >> 4) * 10 + (bcd[i] & 0x0F);
        }
        if (hertz < 30000 || hertz > 30000000)
            return false;
        frequency_ = hertz;
        return true;
    }

    int master_;
    Fault fault_;
    std::vector<unsigned char> pending_;
    unsigned long long frequency_ = 14074000;
    unsigned char mode_ = 0x01, filter_ = 0x02; // USB, its normal filter
    unsigned char split_ = 0;
};

// What --link points at, or nothing when it is not a link.
std::string linkTarget(const std::string& link)
{
    char target[256] = {};
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

int usage(FILE* to = stderr)
{
    std::fprintf(to, "usage: radio-sim [--link PATH] [--fault ng|no-answer|other-address|silent|noise]\n");
    return to == stderr ? 2 : 0;
}

} // namespace

int main(int argc, char* argv[])
{
    std::string link;
    Fault fault = Fault::None;
    const std::pair<std::string_view, Fault> faults[] = {{"ng", Fault::Ng}, {"no-answer", Fault::NoAnswer},
        {"other-address", Fault::OtherAddress}, {"silent", Fault::Silent}, {"noise", Fault::Noise}};
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return usage(stdout);
        } else if (arg == "--link" && i + 1 < argc) {
            link = argv[++i];
        } else if (arg == "--fault" && i + 1 < argc) {
            const std::string_view name = argv[++i];
            const auto* f = std::find_if(std::begin(faults), std::end(faults), [&](const auto& p) { return p.first == name; });
            if (f == std::end(faults))
                return usage();
            fault = f->second;
        } else {
            return usage();
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    int master = -1;
    int slave = -1; // held open so the line never hangs up while the program reopens it
    char name[256] = {};
    struct termios raw {};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        std::perror("radio-sim: openpty");
        return 1;
    }
    if (!link.empty()) {
        // Only a link to a pseudo-terminal, as an earlier run left, is replaced.
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode) || linkTarget(link).rfind("/dev/pts/", 0) != 0) {
                std::fprintf(stderr, "radio-sim: %s exists and is not a link to a pseudo-terminal; "
                                     "it was left alone\n", link.c_str());
                return 1;
            }
            ::unlink(link.c_str());
        }
        if (::symlink(name, link.c_str()) != 0) {
            std::perror("radio-sim: symlink");
            return 1;
        }
    }

    struct sigaction sa {};
    sa.sa_handler = stop;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", name);
    Bus bus(master, fault);
    std::array<unsigned char, 512> buffer{};
    while (!stopping) {
        struct pollfd pfd {master, POLLIN, 0};
        if (::poll(&pfd, 1, 500) <= 0)
            continue;
        const ssize_t n = ::read(master, buffer.data(), buffer.size());
        if (n > 0)
            bus.receive(buffer.data(), static_cast<std::size_t>(n));
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
    if (!link.empty() && linkTarget(link) == name)
        ::unlink(link.c_str());
    ::close(slave);
    ::close(master);
    return 0;
}
