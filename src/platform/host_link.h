// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/command_queue.h"
#include "core/status.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include <sys/types.h>

class QFileSystemWatcher;
class QSocketNotifier;

namespace torvak {

// The host's way in: a per-user Unix socket named "TORVAKFUNC" in the runtime
// directory. Each 8-byte record (command word, state word, little-endian)
// becomes one hostCommand signal on the user-interface thread.
//
// On Windows the host sent a registered window message; here findSocketPath
// says where the socket is, installHook takes the instance lock and listens.
// Records from all connections go through one queue in the order they were
// read, one per turn of the event loop, so the radio port sends each frame
// between records. Reading is fair: a round takes from every readable
// connection what it held when the round began, and the next round waits
// until this one is carried out, so a host that floods holds another back by
// one socket buffer at most.
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
    static Checked<QString> findSocketPath();
    // Whether a torvak-ptt holds the lock now (it is let go at once).
    static bool instanceRunning();
    // Where the one-instance lock lives: the runtime directory, or where that
    // is unset or unfit, a private folder of the user's cache.
    static Checked<QString> lockDirectory();

    // Takes the one-instance lock, then listens, replacing a socket left by
    // an instance that died. Anything else at the socket's path is left alone.
    // The lock is taken in any runtime directory of the user's, even one
    // unfit for the socket: one instance runs, whatever the socket's fate.
    Installed installHook();

    QString socketPath() const { return path_; }
    bool isListening() const { return listener_ >= 0; }
    // After a failed installHook: tries again whenever the runtime directory
    // changes (the file in the socket's way removed, the directory's mode
    // mended), until the link is up.
    void retryWhenTheDirectoryChanges();

    // Stops taking commands; the socket file goes away if it is still the
    // one bound here. The lock stays until the link is destroyed, so no
    // second instance takes the port meanwhile.
    void removeHook();

    // A command from another source (a rigctl client, the lamp, the transmit
    // limit) joins the hosts' records in their one order, after every record
    // the hosts had handed to the kernel before it.
    void submit(std::function<void()> carryOut);
    QString lockPath() const { return lockPath_; }

signals:
    // One command to carry out: a host's record, or one submitted.
    void hostCommand(std::int32_t command, std::int32_t state);
    // A host left and its descriptor is closed.
    void descriptorsFreed();
    // A retry took: host commands arrive now. Or it did not, and why.
    void cameUp();
    void stillDown(const QString& reason);

private:
    struct Connection;

    Installed takeLock(const QString& path);
    void acceptConnections();
    void readReady();
    void readRound();
    void readHeld(std::uint64_t id);
    void closeConnection(std::uint64_t id);
    void dropLater(std::uint64_t id);
    void setReading(bool on);
    void scheduleNext();
    void carryOutNext();

    QString path_, lockPath_;
    int lock_ = -1;
    int listener_ = -1;
    dev_t socketDevice_ = 0;
    ino_t socketInode_ = 0;
    QSocketNotifier* accepting_ = nullptr;
    QFileSystemWatcher* retry_ = nullptr;
    // The hosts' connections, as one epoll set.
    int ready_ = -1;
    QSocketNotifier* arriving_ = nullptr;
    // By the number the epoll set knows each by.
    std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
    std::uint64_t accepted_ = 0;
    CommandQueue queue_{[this] { readRound(); },
                        [this](const HostCommand& c) { emit hostCommand(c.command, c.state); }};
    bool scheduled_ = false;
    bool toldOutOfDescriptors_ = false;
};

} // namespace torvak
