// SPDX-License-Identifier: GPL-3.0-or-later
// A Windows host under Wine keying the radio: from the host's PostMessageA to
// the frame at the pty, through torvak-wine-bridge and torvak-ptt, beside the
// socket path's own figure from the same run (interleaved). Makes a Wine
// prefix of its own, which takes some seconds.
#include "bench_support.h"

#include <cstdio>

#include <unistd.h>

using namespace torvak::bench;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    constexpr int kCommands = 300, kWarmUp = 20;
    Sandbox sandbox;
    Pty radio;
    sandbox.writeSettings(com1(radio.slavePath));
    Program program(sandbox);
    const int link = connectUnix(sandbox.socketPath());

    std::printf("making a Wine prefix with the null graphics driver...\n");
    std::fflush(stdout);
    WinePrefix wine(sandbox.path(QStringLiteral("wine-prefix")));
    if (!wine.made) {
        std::fprintf(stderr, "wine did not run\n");
        return 1;
    }
    QProcess bridge, host;
    wine.start(bridge, {bin("torvak-wine-bridge")});
    wine.start(host, {"wine", bin("torvak-timed-host.exe.so"), QString::number(kCommands + kWarmUp)});

    std::vector<double> viaWine, viaSocket;
    for (int i = 0; i < kCommands + kWarmUp; ++i) {
        auto t0 = Clock::now();
        sendRecords(link, {{0, i % 2 == 0 ? 1 : 0}});
        if (radio.read(7).size() != 7)
            break;
        const double socketMicros = microsSince(t0);

        host.write("\n");
        // The first post waits for the window; give it the time Wine needs.
        const QByteArray frame = radio.read(7, i == 0 ? 30000 : 2000);
        const auto arrived = Clock::now();
        if (frame.size() != 7 || !(host.canReadLine() || host.waitForReadyRead(5000))) {
            std::fprintf(stderr, "post %d did not reach the radio\n", i);
            break;
        }
        const double posted = host.readLine().trimmed().toDouble();
        const double arrivedMicros = std::chrono::duration<double, std::micro>(arrived.time_since_epoch()).count();
        if (i >= kWarmUp) {
            viaSocket.push_back(socketMicros);
            viaWine.push_back(arrivedMicros - posted);
        }
    }
    host.closeWriteChannel();
    host.waitForFinished();
    ::close(link);
    if (viaWine.empty()) {
        std::fprintf(stderr, "no figures\n");
        return 1;
    }
    std::printf("%zu alternating tx/rx commands, interleaved\n", viaWine.size());
    printFigures("PostMessageA -> frame at the pty", figures(viaWine));
    printFigures("socket record -> frame at the pty", figures(viaSocket));
    return 0;
}
