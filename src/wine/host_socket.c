/* SPDX-License-Identifier: GPL-3.0-or-later */
#include "host_socket.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static int kept = -1; /* the one connection, so records arrive in message order */

int host_socket_path(char* path, size_t size, char* why, size_t whySize)
{
    /* The rule torvak-ptt takes: XDG_RUNTIME_DIR, or the login session's
     * /run/user/UID when it is unset. */
    char session[64];
    const char* dir = getenv("XDG_RUNTIME_DIR");
    if (!dir || !dir[0]) {
        snprintf(session, sizeof session, "/run/user/%u", (unsigned)getuid());
        dir = session;
    }
    if (dir[0] != '/') {
        snprintf(why, whySize, "XDG_RUNTIME_DIR is not an absolute path: torvak-ptt's socket cannot be found");
        return -1;
    }
    const int n = snprintf(path, size, "%s/TORVAKFUNC", dir);
    if (n < 0 || (size_t)n >= size || (size_t)n >= sizeof(((struct sockaddr_un*)0)->sun_path)) {
        snprintf(why, whySize, "the socket path under %s is too long for a Unix socket", dir);
        return -1;
    }
    return 0;
}

/* Connects at once or not at all: a host that sends its message with
 * SendMessage waits for us, so nothing here may block. */
static int connectNow(const char* path, char* why, size_t whySize)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        snprintf(why, whySize, "cannot make a socket: %s", strerror(errno));
        return -1;
    }
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, path, sizeof addr.sun_path - 1);
    if (connect(fd, (struct sockaddr*)&addr, sizeof addr) != 0) {
        const int error = errno;
        close(fd);
        if (error == ENOENT || error == ECONNREFUSED)
            snprintf(why, whySize, "torvak-ptt is not running (nothing listens on %s)", path);
        else if (error == EAGAIN)
            snprintf(why, whySize, "torvak-ptt is too busy to take a connection");
        else
            snprintf(why, whySize, "cannot reach torvak-ptt at %s: %s", path, strerror(error));
        return -1;
    }
    return fd;
}

int host_socket_forward(const char* path, int32_t command, int32_t state, char* why, size_t whySize)
{
    unsigned char record[8];
    for (int i = 0; i < 4; ++i) {
        record[i] = (unsigned char)((uint32_t)command >> (8 * i));
        record[4 + i] = (unsigned char)((uint32_t)state >> (8 * i));
    }
    /* A kept connection to an instance that has ended fails at once; then
     * one new connection, to an instance that may have started since. */
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (kept < 0 && (kept = connectNow(path, why, whySize)) < 0)
            return -1;
        const ssize_t n = send(kept, record, sizeof record, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == (ssize_t)sizeof record)
            return 0;
        const int error = n < 0 ? errno : EIO;
        close(kept);
        kept = -1;
        if (error == EAGAIN) {
            snprintf(why, whySize, "torvak-ptt is not reading its socket");
            return -1;
        }
        snprintf(why, whySize, "the connection to torvak-ptt broke: %s", strerror(error));
    }
    return -1;
}
