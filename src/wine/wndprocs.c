/* SPDX-License-Identifier: GPL-3.0-or-later */
/* torvak-wine-bridge: the window Windows host programs key the radio
 * through. Inside the host's Wine prefix it is the hidden window titled
 * "TORVAK TenTec PTT V3" that takes the registered message "TORVAKFUNC", and
 * it hands each (wParam, lParam) to torvak-ptt over its Linux socket. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "host_socket.h"

static const char kTitle[] = "TORVAK TenTec PTT V3";
static const char kMessageName[] = "TORVAKFUNC";

/* Written once at start-up, as the original program did. */
static UINT messageId;
static WNDPROC previousProc;
static char socketPath[128];

/* The host's words are 32-bit on every Windows; on 64-bit the parameters
 * are wider, and only their low 32 bits are the host's. */
static int32_t low32(UINT_PTR word) { return (int32_t)(uint32_t)word; }

static LRESULT CALLBACK HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == messageId) {
        char why[256];
        if (host_socket_forward(socketPath, low32(wParam), low32((UINT_PTR)lParam), why, sizeof why) != 0)
            fprintf(stderr, "torvak-wine-bridge: command (%d, %d) dropped: %s\n", (int)low32(wParam),
                    (int)low32((UINT_PTR)lParam), why);
    }
    return CallWindowProcA(previousProc, window, message, wParam, lParam);
}

/* Puts the new procedure in front of the window's own; returns the old one. */
static WNDPROC InstallHook(HWND window, WNDPROC proc)
{
    const WNDPROC previous = (WNDPROC)GetWindowLongPtrA(window, GWLP_WNDPROC);
    SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)proc);
    return previous;
}

int main(void)
{
    char why[256];
    if (host_socket_path(socketPath, sizeof socketPath, why, sizeof why) != 0) {
        fprintf(stderr, "torvak-wine-bridge: %s\n", why);
        return 1;
    }
    /* Two windows with this title would forward every broadcast twice. The
     * named mutex settles two bridges started at once. */
    CreateMutexA(NULL, TRUE, "torvak-wine-bridge");
    if (GetLastError() == ERROR_ALREADY_EXISTS || FindWindowA(NULL, kTitle)) {
        fprintf(stderr, "torvak-wine-bridge: a window titled \"%s\" already exists in this Wine prefix; "
                        "one bridge is enough\n", kTitle);
        return 1;
    }

    messageId = RegisterWindowMessageA(kMessageName);
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "TorvakPttBridge";
    RegisterClassA(&windowClass);
    /* Never shown: FindWindowA and HWND_BROADCAST reach it, the desk shows
     * only torvak-ptt's own window. */
    const HWND window = CreateWindowExA(0, windowClass.lpszClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                        CW_USEDEFAULT, 100, 100, NULL, NULL, windowClass.hInstance, NULL);
    if (!window) {
        fprintf(stderr, "torvak-wine-bridge: Wine could not make a window (error %lu); with no X display, set "
                        "the prefix's graphics driver to null\n", (unsigned long)GetLastError());
        return 1;
    }
    previousProc = InstallHook(window, HookProc);
    fprintf(stderr, "torvak-wine-bridge: forwarding \"%s\" messages to %s\n", kMessageName, socketPath);

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
