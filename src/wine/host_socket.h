/* SPDX-License-Identifier: GPL-3.0-or-later */
#pragma once

/* The Linux side of the bridge: one kept connection to torvak-ptt's socket.
 * Kept apart from the Windows code, since Unix and Windows headers clash. */

#include <stddef.h>
#include <stdint.h>

/* Where torvak-ptt listens: $XDG_RUNTIME_DIR/TORVAKFUNC. Returns 0, or -1
 * with the reason in `why`. */
int host_socket_path(char* path, size_t size, char* why, size_t whySize);

/* Hands one record (command word, state word) to torvak-ptt without ever
 * waiting on it. Returns 0, or -1 with the reason in `why`: the record is
 * then dropped, never kept for later. */
int host_socket_forward(const char* path, int32_t command, int32_t state, char* why, size_t whySize);
