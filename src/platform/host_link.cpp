#include "host_link.h"

#include "core/host_command.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <iostream>

#include <sys/stat.h>
#include <unistd.h>

namespace torvak {

namespace {

// Whether a runtime directory is fit to hold the socket: ours alone.
Status checkPrivate(const QString& dir)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(dir);
    if (::lstat(native.constData(), &st) != 0)
        return Status::failure("the runtime directory " + dir.toStdString() + " does not exist");
    if (!S_ISDIR(st.st_mode))
        return Status::failure("the runtime directory " + dir.toStdString() + " is not a directory");
    if (st.st_uid != ::getuid())
        return Status::failure("the runtime directory " + dir.toStdString() + " belongs to another user");
    if ((st.st_mode & 077) != 0)
        return Status::failure("the runtime directory " + dir.toStdString()
                               + " is open to other users (mode "
                               + QString::number(st.st_mode & 0777, 8).toStdString() + ")");
    return Status::success();
}

// One host connection: its bytes become records, whatever way they were cut.
// It carries out one record per turn of the event loop, so the radio port
// sends each frame out between records instead of a burst piling up in its
// send buffer, and several hosts take turns.
class HostConnection : public QObject {
public:
    // Enough for a few thousand records; past it the sender waits.
    static constexpr qint64 kReadBuffer = 64 * 1024;

    HostConnection(QLocalSocket* socket, HostLink* link)
        : QObject(link)
        , link_(link)
        , socket_(socket)
    {
        socket_->setParent(this);
        socket_->setReadBufferSize(kReadBuffer);
        connect(socket_, &QLocalSocket::readyRead, this, &HostConnection::next);
        connect(socket_, &QLocalSocket::disconnected, this, [this] {
            closed_ = true;
            next();
        });
        next();
    }

private:
    void next()
    {
        if (scheduled_)
            return;
        std::array<char, kRecordSize> bytes {};
        const qint64 n = socket_->read(bytes.data(), static_cast<qint64>(kRecordSize - reader_.pendingBytes()));
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        // A close command unhooks the link: records after it are not carried out.
        reader_.feed({data, static_cast<std::size_t>(std::max<qint64>(n, 0))}, [this](const HostCommand& c) {
            if (link_->isListening())
                emit link_->hookProc(c.command, c.state);
        });
        if (socket_->bytesAvailable() > 0) {
            scheduled_ = true;
            QMetaObject::invokeMethod(this, [this] {
                scheduled_ = false;
                next();
            }, Qt::QueuedConnection);
        } else if (closed_) {
            finish();
        }
    }

    void finish()
    {
        if (finished_)
            return;
        finished_ = true;
        if (reader_.pendingBytes() != 0)
            std::cerr << "torvak-ptt: host link: a sender left after " << reader_.pendingBytes()
                      << " of " << kRecordSize << " bytes of a command; it was dropped\n";
        deleteLater();
    }

    HostLink* link_;
    QLocalSocket* socket_;
    RecordReader reader_;
    bool scheduled_ = false;
    bool closed_ = false;
    bool finished_ = false;
};

} // namespace

HostLink::HostLink(QObject* parent)
    : QObject(parent)
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &HostLink::acceptConnections);
}

Checked<QString> HostLink::registerMessage()
{
    // The directory the session gave us, exactly: never a fallback Qt picks
    // when the given one is unfit.
    const QString given = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString dir = given.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                                        : given;
    if (dir.isEmpty())
        return Checked<QString>::failed("no usable runtime directory (XDG_RUNTIME_DIR)");
    if (const Status ok = checkPrivate(dir); !ok)
        return Checked<QString>{ok, {}};
    return Checked<QString>::of(QDir(dir).filePath(QString::fromLatin1(kMessageName)));
}

HostLink::Hook HostLink::installHook(QString* reason)
{
    const Checked<QString> path = registerMessage();
    if (!path.status) {
        if (reason)
            *reason = QString::fromStdString(path.status.reason());
        return Hook::Failed;
    }

    QLocalSocket probe;
    probe.connectToServer(path.value);
    if (probe.waitForConnected(1000)) {
        probe.disconnectFromServer();
        if (reason)
            *reason = QStringLiteral("another torvak-ptt already listens on ") + path.value;
        return Hook::AlreadyRunning;
    }
    // Nobody answers: whatever is there was left by an instance that died.
    QLocalServer::removeServer(path.value);
    if (!server_.listen(path.value)) {
        if (reason)
            *reason = server_.errorString();
        return Hook::Failed;
    }
    return Hook::Installed;
}

void HostLink::removeHook()
{
    server_.close();
    // Later: removeHook may be called from inside a connection's own read.
    for (QObject* connection : children())
        connection->deleteLater();
}

void HostLink::acceptConnections()
{
    while (QLocalSocket* socket = server_.nextPendingConnection())
        new HostConnection(socket, this);
}

} // namespace torvak
