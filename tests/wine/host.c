/* SPDX-License-Identifier: GPL-3.0-or-later */
/* A Windows host program, as the ones torvak-ptt serves: it finds the window
 * titled "TORVAK TenTec PTT V3" and sends it the registered "TORVAKFUNC"
 * message, the command word in wParam and the state word in lParam.
 *
 *   host post|send|broadcast WPARAM,LPARAM ...   each pair in order */
#include "torvak_window.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char* argv[])
{
    const UINT id = RegisterWindowMessageA("TORVAKFUNC");
    const HWND window = torvakWindow();
    if (!window || argc < 2) {
        fprintf(stderr, "host: no window titled TORVAK TenTec PTT V3, or nothing to send\n");
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        char* comma = NULL;
        const WPARAM command = strtoull(argv[i], &comma, 0);
        const LPARAM state = (LPARAM)strtoull(comma + 1, NULL, 0);
        if (strcmp(argv[1], "send") == 0)
            SendMessageA(window, id, command, state);
        else if (strcmp(argv[1], "broadcast") == 0)
            PostMessageA(HWND_BROADCAST, id, command, state); /* the radio tells whether the bridge had it */
        else if (!PostMessageA(window, id, command, state))
            return 1;
    }
    return 0;
}
