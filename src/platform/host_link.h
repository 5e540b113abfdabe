// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/command_queue.h"
#include "core/status.h"

#include <QLockFile>
#include <QObject>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>

class QSocketNotifier;

namespace torvak {

// The host's way in: a per-user Unix socket named "TORVAKFUNC" in the runtime
// directory. Each 8-byte record (command word, state word, little-endian)
// becomes one hookProc call on the user-interface thread.
//
// On Windows the host's registered window message reached a replacement
// window procedure; here registerMessage finds the socket's path, installHook
// takes the instance lock and listens, and hookProc is the signal each record
// raises. Records from all connections go through one queue in the order they
// were read, one per turn of the event loop, so the radio port sends each
// frame between records.
class HostLink : public QObject {
    Q_OBJECT
public:
    static constexpr char kMessageName[] = "TORVAKFUNC";

    enum class Hook { Installed, AlreadyRunning, Failed };
    struct Installed {
        Hook hook;
        std::string reason; // why it is not Installed
    };

    explicit HostLink(QObject* parent = nullptr);
    ~HostLink() override;

    // Where the socket lives. Refused when the runtime directory is missing,
    // relative, not a directory, or open to other users (the radio is not to
    // be keyed by anyone but its operator), or when the path is too long for
    // a Unix socket.
    static Checked<QString> registerMessage();

    // Takes the one-instance lock, then listens, replacing a socket left by
    // an instance that died. Anything else at the socket's path is left alone.
    Installed installHook();

    QString socketPath() const { return path_; }
    bool isListening() const { return listener_ >= 0; }
    // Stops taking commands; the socket file goes away. The lock stays until
    // the link is destroyed, so no second instance takes the port meanwhile.
    void removeHook();

signals:
    // One complete record from the host.
    void hookProc(std::int32_t command, std::int32_t state);

private:
    struct Connection;

    void acceptConnections();
    void readFrom(int fd);
    void closeConnection(int fd);
    void dropLater(int fd);
    void setReading(bool on);
    void scheduleNext();
    void carryOutNext();

    QString path_;
    std::unique_ptr<QLockFile> lock_;
    int listener_ = -1;
    QSocketNotifier* accepting_ = nullptr;
    std::map<int, std::unique_ptr<Connection>> connections_;
    // Few records read ahead: a host behind a flood waits for no more than these.
    CommandQueue queue_{256};
    bool reading_ = true;
    bool scheduled_ = false;
    bool toldOutOfDescriptors_ = false;
};

} // namespace torvak
