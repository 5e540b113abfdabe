/* SPDX-License-Identifier: GPL-3.0-or-later */
/* A Windows host for the Wine latency benchmark: for each line on stdin (N at
 * most) it posts transmit and receive in turn to the window titled
 * "TORVAK TenTec PTT V3", printing the monotonic time in microseconds just
 * before each post.
 *
 *   timed-host N */
#include "../tests/wine/torvak_window.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char* argv[])
{
    const UINT id = RegisterWindowMessageA("TORVAKFUNC");
    const HWND window = torvakWindow();
    if (!window || argc != 2) {
        fprintf(stderr, "timed-host: no window titled TORVAK TenTec PTT V3, or no count\n");
        return 1;
    }
    setvbuf(stdout, NULL, _IOLBF, 0);
    char line[16];
    struct timespec t;
    for (int i = 0; i < atoi(argv[1]) && fgets(line, sizeof line, stdin); ++i) {
        clock_gettime(CLOCK_MONOTONIC, &t);
        printf("%.1f\n", t.tv_sec * 1e6 + t.tv_nsec / 1e3);
        PostMessageA(window, id, 0, i % 2 == 0 ? 1 : 0);
    }
    return 0;
}
