// Host command to frame on the wire: 1000 alternating tx/rx commands through
// the socket, timed from the host's send to the whole frame at the pty master,
// beside the floor: the same 7 bytes written straight into the pty.
#include "bench_support.h"

#include <cstdio>

#include <unistd.h>

using namespace torvak::bench;

int main(int, char* argv[])
{
    constexpr int kCommands = 1000;
    Sandbox sandbox;
    RadioPty radio;
    const pid_t program = startProgram(binDirOf(argv[0]), sandbox, radio.path);
    const int link = connectHostLink(sandbox);

    std::vector<double> command, floor;
    const unsigned char frame[7] = {0xFE, 0xFE, 0x04, 0xE0, 0x16, 0x01, 0xFD};
    for (int i = 0; i < kCommands + 50; ++i) { // the first 50 warm up
        auto t0 = Clock::now();
        sendRecord(link, 0, i % 2 == 0 ? 1 : 0);
        if (radio.readExactly(7) != 7) {
            std::fprintf(stderr, "frame %d did not arrive\n", i);
            return 1;
        }
        const double c = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();

        t0 = Clock::now();
        if (::write(radio.slave, frame, sizeof frame) != sizeof frame || radio.readExactly(7) != 7)
            return 1;
        const double f = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        if (i >= 50) {
            command.push_back(c);
            floor.push_back(f);
        }
    }
    ::close(link);
    stopProgram(program);

    std::printf("%d alternating tx/rx commands\n", kCommands);
    const Figures c = figures(command), f = figures(floor);
    printFigures("host command -> frame at the pty", c);
    printFigures("floor: 7 bytes straight into pty", f);
    std::printf("median over floor %.1f us (target <= 100), p99 over floor %.1f us (target <= 300)\n",
                c.median - f.median, c.p99 - f.p99);
    return 0;
}
