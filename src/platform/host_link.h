#pragma once

#include "core/status.h"

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <cstdint>

namespace torvak {

// The host's way in: a per-user Unix socket named "TORVAKFUNC" in the runtime
// directory. Each 8-byte record (command word, state word, little-endian)
// becomes one hookProc call on the user-interface thread, in arrival order.
class HostLink : public QObject {
    Q_OBJECT
public:
    static constexpr char kMessageName[] = "TORVAKFUNC";

    enum class Hook { Installed, AlreadyRunning, Failed };

    explicit HostLink(QObject* parent = nullptr);

    // Where the socket lives. Refused when the runtime directory is missing,
    // not a directory, or open to other users: the radio is not to be keyed
    // by anyone but its operator.
    static Checked<QString> registerMessage();

    // Starts listening, replacing a socket left by a crashed instance. A live
    // instance is left untouched and reported as AlreadyRunning.
    Hook installHook(QString* reason = nullptr);

    QString socketPath() const { return server_.fullServerName(); }
    bool isListening() const { return server_.isListening(); }
    // Stops taking commands; the socket file goes away.
    void removeHook();

signals:
    // One complete record from the host.
    void hookProc(std::int32_t command, std::int32_t state);

private:
    void acceptConnections();

    QLocalServer server_;
};

} // namespace torvak
