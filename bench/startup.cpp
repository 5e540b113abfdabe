// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up (exec to the window mapped), resident memory once idle, and idle
// wake-ups per second, for torvak-ptt beside a minimal Qt Widgets program.
// Needs an X server: scripts/with-x build/bin/bench-startup
#include "bench_support.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace torvak::bench;

namespace {

constexpr int kRuns = 20;

// Waits for the next top-level window to be mapped; false after 10 s.
bool waitForMap(xcb_connection_t* x)
{
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        while (xcb_generic_event_t* e = xcb_poll_for_event(x)) {
            const bool mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
            std::free(e);
            if (mapped)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

// Started by hand, not as the tests start programs: exec is the start of the
// figure. The sandbox is in the environment it inherits.
pid_t launch(const std::string& program, const char* arg)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(program.c_str(), program.c_str(), arg, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// Context switches of every thread: each one is a wake-up.
long wakeups(pid_t pid)
{
    long total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        const std::string status = task.path().string() + "/status";
        total += statusField(status, "voluntary_ctxt_switches") + statusField(status, "nonvoluntary_ctxt_switches");
    }
    return total;
}

struct Candidate {
    const char* name;
    std::string path;
    const char* arg;
    std::vector<double> startupMs;
    long rssKiB = 0;
    double wakeupsPerSecond = 0;
};

// One start, timed to the window mapped; the last one stays up to be watched idle.
void startOnce(xcb_connection_t* x, Candidate& p, bool watchIdle)
{
    const auto t0 = Clock::now();
    const pid_t pid = launch(p.path, p.arg);
    if (!waitForMap(x)) {
        std::fprintf(stderr, "%s did not map a window\n", p.path.c_str());
        std::exit(1);
    }
    p.startupMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (watchIdle) {
        std::this_thread::sleep_for(std::chrono::seconds(2)); // settle into idle
        p.rssKiB = statusField("/proc/" + std::to_string(pid) + "/status", "VmRSS");
        const long before = wakeups(pid);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        p.wakeupsPerSecond = (wakeups(pid) - before) / 10.0;
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (!x || xcb_connection_has_error(x)) {
        std::fprintf(stderr, "bench-startup needs an X server: scripts/with-x %s\n", argv[0]);
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    const std::string dir = QCoreApplication::applicationDirPath().toStdString();
    Sandbox sandbox;
    Pty radio;
    sandbox.writeSettings(com1(radio.slavePath));

    std::vector<Candidate> programs{{"minimal Qt", dir + "/bench-minimal-qt", nullptr, {}},
                                  {"minimal Qt + a caption", dir + "/bench-minimal-qt", "--text", {}},
                                  {"torvak-ptt", dir + "/torvak-ptt", nullptr, {}}};
    // Interleaved, so that drift on a shared machine falls on all three alike.
    for (int i = 0; i < kRuns; ++i)
        for (Candidate& p : programs)
            startOnce(x, p, i + 1 == kRuns);

    std::printf("%d starts each, interleaved; start-up is exec to the window mapped\n", kRuns);
    for (const Candidate& p : programs) {
        const Figures f = figures(p.startupMs);
        std::printf("%-22s start-up median %6.1f ms (min %6.1f, max %6.1f)  RSS idle %6ld KiB  idle wake-ups %4.1f /s\n",
                    p.name, f.median, f.min, f.max, p.rssKiB, p.wakeupsPerSecond);
    }
    const Candidate& ptt = programs[2];
    for (int i = 0; i < 2; ++i)
        std::printf("torvak-ptt against %-22s start-up %.2fx, memory %.2fx (target <= 1.25x)\n", programs[i].name,
                    figures(ptt.startupMs).median / figures(programs[i].startupMs).median,
                    static_cast<double>(ptt.rssKiB) / static_cast<double>(programs[i].rssKiB));
    xcb_disconnect(x);
    return 0;
}
