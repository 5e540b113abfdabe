// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench_support.h"

#include "core/host_command.h"

#include <pty.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace torvak::bench {

Sandbox::Sandbox()
{
    char tmpl[] = "/tmp/torvak-bench.XXXXXX";
    root = ::mkdtemp(tmpl);
    runtime = root + "/run";
    config = root + "/config";
    ::mkdir(runtime.c_str(), 0700);
    ::mkdir(config.c_str(), 0700);
}

Sandbox::~Sandbox() { std::filesystem::remove_all(root); }

RadioPty::RadioPty()
{
    char name[256] = {};
    struct termios raw {};
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        std::exit(1);
    }
    // Not inherited by the program: closing them must hang the line up.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    path = name;
}

RadioPty::~RadioPty()
{
    ::close(master);
    ::close(slave);
}

std::size_t RadioPty::readExactly(std::size_t count)
{
    std::size_t got = 0;
    char buf[512];
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (got < count && Clock::now() < deadline) {
        struct pollfd p {master, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::read(master, buf, std::min(sizeof buf, count - got));
        if (n > 0)
            got += static_cast<std::size_t>(n);
    }
    return got;
}

pid_t startProgram(const std::string& binDir, const Sandbox& sandbox, const std::string& device,
                   const std::string& moreSettings)
{
    std::ofstream(sandbox.config + "/VARN.conf") << "[Devices]\nCOM1=" << device << "\n" << moreSettings;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_RUNTIME_DIR", sandbox.runtime.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", sandbox.config.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // What the program reports (refused frames among it) goes to a file.
        const int log = ::open((sandbox.root + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(log, 2);
        const std::string program = binDir + "/torvak-ptt";
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        std::perror("exec torvak-ptt");
        ::_exit(127);
    }
    const std::string socket = sandbox.runtime + "/TORVAKFUNC";
    for (int i = 0; i < 100 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return pid;
}

void stopProgram(pid_t pid)
{
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

int connectHostLink(const Sandbox& sandbox)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    const std::string path = sandbox.runtime + "/TORVAKFUNC";
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("connect to the host link");
        std::exit(1);
    }
    return fd;
}

bool sendRecord(int fd, int command, int state)
{
    const Record r = encodeRecord(HostCommand{command, state});
    return ::write(fd, r.data(), r.size()) == static_cast<ssize_t>(r.size());
}

std::string binDirOf(const char* argv0)
{
    return std::filesystem::absolute(argv0).parent_path().string();
}

Figures figures(std::vector<double> s)
{
    std::sort(s.begin(), s.end());
    const auto at = [&](double q) { return s[std::min(s.size() - 1, static_cast<std::size_t>(q * s.size()))]; };
    return {s.front(), at(0.5), at(0.99), s.back()};
}

void printFigures(const char* label, const Figures& f)
{
    std::printf("%-34s min %8.1f  median %8.1f  p99 %8.1f  max %8.1f  (us)\n", label, f.min, f.median,
                f.p99, f.max);
}

} // namespace torvak::bench
