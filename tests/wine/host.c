/* SPDX-License-Identifier: GPL-3.0-or-later */
/* A Windows host program, as the ones torvak-ptt serves: it finds the window
 * titled "TORVAK TenTec PTT V3" and sends it the registered "TORVAKFUNC"
 * message with (command word, state word) in (wParam, lParam).
 *
 *   host post|send|broadcast STATE...  (0, STATE) for each, in order
 *   host close                         (1, 0)
 *   host wide                          transmit with bits above the low 32
 *                                      set in both words
 *   host flood N                       N posts alternating transmit, receive
 *   host timed N                       for each line on stdin, one post; prints
 *                                      the monotonic time in microseconds just
 *                                      before it, for the latency benchmark
 * With send it prints how long each SendMessageA took, in milliseconds. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double nowMicros(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

int main(int argc, char* argv[])
{
    if (argc < 2)
        return 2;
    const UINT id = RegisterWindowMessageA("TORVAKFUNC");
    /* The first Wine process on a new wineserver takes a while: look for the
     * window for up to 30 seconds. */
    HWND window = NULL;
    for (int i = 0; i < 300 && !(window = FindWindowA(NULL, "TORVAK TenTec PTT V3")); ++i)
        Sleep(100);
    if (!window) {
        fprintf(stderr, "host: no window titled TORVAK TenTec PTT V3\n");
        return 1;
    }
    const char* mode = argv[1];
    if (strcmp(mode, "close") == 0)
        return PostMessageA(window, id, 1, 0) ? 0 : 1;
    if (strcmp(mode, "wide") == 0)
        return PostMessageA(window, id, (WPARAM)1 << 32, ((LPARAM)1 << 32) | 1) ? 0 : 1;
    if (strcmp(mode, "flood") == 0 && argc == 3) {
        for (int i = 0; i < atoi(argv[2]); ++i)
            if (!PostMessageA(window, id, 0, i % 2 == 0 ? 1 : 0))
                return 1;
        return 0;
    }
    if (strcmp(mode, "timed") == 0 && argc == 3) {
        setvbuf(stdout, NULL, _IOLBF, 0);
        char line[16];
        for (int i = 0; i < atoi(argv[2]) && fgets(line, sizeof line, stdin); ++i) {
            printf("%.1f\n", nowMicros());
            PostMessageA(window, id, 0, i % 2 == 0 ? 1 : 0);
        }
        return 0;
    }
    for (int i = 2; i < argc; ++i) {
        const LPARAM state = atoi(argv[i]);
        if (strcmp(mode, "post") == 0) {
            if (!PostMessageA(window, id, 0, state))
                return 1;
        } else if (strcmp(mode, "send") == 0) {
            const double t0 = nowMicros();
            SendMessageA(window, id, 0, state);
            printf("sent in %.1f ms\n", (nowMicros() - t0) / 1000);
        } else if (strcmp(mode, "broadcast") == 0) {
            /* FALSE when any top-level window of the prefix refused it; the
             * frames on the radio tell whether the bridge's window had it. */
            if (!PostMessageA(HWND_BROADCAST, id, 0, state))
                fprintf(stderr, "host: a window refused the broadcast (error %lu)\n", (unsigned long)GetLastError());
        } else {
            return 2;
        }
    }
    return 0;
}
