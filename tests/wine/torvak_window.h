/* SPDX-License-Identifier: GPL-3.0-or-later */
/* What a Windows host program needs to reach torvak-ptt: the window titled
 * "TORVAK TenTec PTT V3" (waited for: the first Wine process on a new
 * wineserver takes a while) and the registered "TORVAKFUNC" message. */
#pragma once
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

static HWND torvakWindow(void)
{
    HWND window = NULL;
    for (int i = 0; i < 300 && !(window = FindWindowA(NULL, "TORVAK TenTec PTT V3")); ++i)
        Sleep(100);
    return window;
}
