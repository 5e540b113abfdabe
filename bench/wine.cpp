// SPDX-License-Identifier: GPL-3.0-or-later
// A Windows host under Wine keying the radio: from the host's PostMessageA to
// the frame at the pty, through torvak-wine-bridge and torvak-ptt, beside the
// socket path's own figure from the same run (interleaved). Makes a Wine
// prefix of its own, which takes some seconds.
#include "bench_support.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace torvak::bench;

namespace {

pid_t spawn(const std::vector<std::string>& argv, int in = -1, int out = -1)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (in >= 0)
            ::dup2(in, 0);
        if (out >= 0)
            ::dup2(out, 1);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::perror(args[0]);
        ::_exit(127);
    }
    return pid;
}

int run(const std::vector<std::string>& argv)
{
    int status = 0;
    ::waitpid(spawn(argv), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int main(int, char* argv[])
{
    constexpr int kCommands = 300, kWarmUp = 20;
    const std::string bin = binDirOf(argv[0]);
    Sandbox sandbox;
    RadioPty radio;
    const pid_t program = startProgram(bin, sandbox, radio.path);
    const int link = connectHostLink(sandbox);

    const std::string prefix = sandbox.root + "/wine-prefix";
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
    ::setenv("WINEDEBUG", "-all", 1);
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    ::setenv("XDG_RUNTIME_DIR", sandbox.runtime.c_str(), 1);
    std::printf("making a Wine prefix with the null graphics driver...\n");
    std::fflush(stdout);
    if (run({"wine", "reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"}) != 0) {
        std::fprintf(stderr, "wine did not run\n");
        stopProgram(program);
        return 1;
    }
    run({"wineserver", "-k"});
    run({"wineserver", "-w"});

    const pid_t bridge = spawn({bin + "/torvak-wine-bridge"});
    int toHost[2], fromHost[2];
    if (::pipe(toHost) != 0 || ::pipe(fromHost) != 0)
        return 1;
    const pid_t host = spawn({"wine", bin + "/torvak-test-host.exe.so", "timed", std::to_string(kCommands + kWarmUp)},
                             toHost[0], fromHost[1]);
    ::close(toHost[0]);
    ::close(fromHost[1]);
    FILE* hostOut = ::fdopen(fromHost[0], "r");

    std::vector<double> viaWine, viaSocket;
    for (int i = 0; i < kCommands + kWarmUp; ++i) {
        auto t0 = Clock::now();
        sendRecord(link, 0, i % 2 == 0 ? 1 : 0);
        if (radio.readExactly(7) != 7)
            break;
        const double socketMicros = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();

        if (::write(toHost[1], "\n", 1) != 1)
            break;
        // The first post waits for the window; give it the time Wine needs.
        std::size_t got = radio.readExactly(7);
        for (int tries = 0; got < 7 && i == 0 && tries < 15; ++tries)
            got += radio.readExactly(7 - got);
        const auto arrived = Clock::now();
        char line[64];
        if (got != 7 || !std::fgets(line, sizeof line, hostOut)) {
            std::fprintf(stderr, "post %d did not reach the radio\n", i);
            break;
        }
        const double posted = std::strtod(line, nullptr);
        const double arrivedMicros =
            std::chrono::duration<double, std::micro>(arrived.time_since_epoch()).count();
        if (i >= kWarmUp) {
            viaSocket.push_back(socketMicros);
            viaWine.push_back(arrivedMicros - posted);
        }
    }
    ::close(toHost[1]);
    ::waitpid(host, nullptr, 0);
    ::kill(bridge, SIGTERM);
    run({"wineserver", "-k"});
    ::waitpid(bridge, nullptr, 0);
    ::close(link);
    stopProgram(program);
    if (viaWine.empty()) {
        std::fprintf(stderr, "no figures\n");
        return 1;
    }
    std::printf("%zu alternating tx/rx commands, interleaved\n", viaWine.size());
    printFigures("PostMessageA -> frame at the pty", figures(viaWine));
    printFigures("socket record -> frame at the pty", figures(viaSocket));
    return 0;
}
