// SPDX-License-Identifier: GPL-3.0-or-later
#include "host_link.h"

#include "core/report.h"

#include <QDir>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <array>
#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace torvak {

namespace {

// Whether a runtime directory is fit to hold the socket: ours alone.
Status checkPrivate(const QString& dir)
{
    const std::string name = dir.toStdString();
    if (!QDir::isAbsolutePath(dir))
        return Status::failure("the runtime directory " + name + " is not an absolute path (XDG_RUNTIME_DIR)");
    struct stat st {};
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0)
        return Status::failure("the runtime directory " + name + " does not exist");
    if (!S_ISDIR(st.st_mode))
        return Status::failure("the runtime directory " + name + " is not a directory");
    if (st.st_uid != ::getuid())
        return Status::failure("the runtime directory " + name + " belongs to another user");
    if ((st.st_mode & 077) != 0)
        return Status::failure("the runtime directory " + name + " is open to other users (mode "
                               + QString::number(st.st_mode & 0777, 8).toStdString() + ")");
    return Status::success();
}

// What one read from a host takes at most: 128 records.
constexpr std::size_t kReadChunk = 1024;

const char* kindOf(mode_t mode)
{
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a directory";
    return "not a socket";
}

} // namespace

struct HostLink::Connection {
    explicit Connection(int fd, HostLink* link)
        : fd(fd)
        , notifier(fd, QSocketNotifier::Read)
    {
        QObject::connect(&notifier, &QSocketNotifier::activated, link, [link, fd] { link->readFrom(fd); });
    }
    ~Connection() { ::close(fd); }

    int fd;
    QSocketNotifier notifier;
    bool dropped = false; // closing on the next turn
};

HostLink::HostLink(QObject* parent)
    : QObject(parent)
{
}

HostLink::~HostLink() { removeHook(); }

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
    const QString path = QDir(dir).filePath(QString::fromLatin1(kMessageName));
    const QByteArray native = QFile::encodeName(path);
    if (static_cast<std::size_t>(native.size()) >= sizeof(sockaddr_un::sun_path))
        return Checked<QString>::failed("the socket path " + path.toStdString() + " is too long ("
                                        + std::to_string(native.size()) + " bytes; a Unix socket takes at most "
                                        + std::to_string(sizeof(sockaddr_un::sun_path) - 1) + ")");
    return Checked<QString>::of(path);
}

HostLink::Installed HostLink::installHook()
{
    const Checked<QString> path = registerMessage();
    if (!path.status)
        return {Hook::Failed, path.status.reason()};

    // One instance owns socket and port: whoever holds the lock. A lock left
    // by a process that died is taken over.
    lock_ = std::make_unique<QLockFile>(path.value + QStringLiteral(".lock"));
    if (!lock_->tryLock(0)) {
        const bool held = lock_->error() == QLockFile::LockFailedError;
        lock_.reset();
        if (held)
            return {Hook::AlreadyRunning, "another torvak-ptt holds " + path.value.toStdString() + ".lock"};
        return {Hook::Failed, "cannot take the lock " + path.value.toStdString() + ".lock"};
    }

    // With the lock held, a socket at the path was left by an instance that
    // died. Anything else there is someone's file: never ours to delete.
    const QByteArray native = QFile::encodeName(path.value);
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            return {Hook::Failed, path.value.toStdString() + " is " + kindOf(st.st_mode)
                                      + ", not the host link's socket; it was left alone"};
        ::unlink(native.constData());
    }

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, native.constData(), static_cast<std::size_t>(native.size()));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || ::chmod(native.constData(), 0600) != 0 || ::listen(fd, 64) != 0) {
        const std::string why = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return {Hook::Failed, "cannot listen on " + path.value.toStdString() + ": " + why};
    }
    listener_ = fd;
    path_ = path.value;
    accepting_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(accepting_, &QSocketNotifier::activated, this, &HostLink::acceptConnections);
    return {Hook::Installed, {}};
}

void HostLink::removeHook()
{
    if (listener_ >= 0) {
        delete accepting_;
        accepting_ = nullptr;
        ::close(listener_);
        listener_ = -1;
        ::unlink(QFile::encodeName(path_).constData());
    }
    // Records after a close command are not carried out. The connections go
    // later: removeHook may run inside one of their own reads.
    queue_.clear();
    for (auto& [fd, connection] : connections_)
        dropLater(fd);
}

void HostLink::dropLater(int fd)
{
    // Not now: this may run inside the connection's own notifier. Its
    // descriptor closes on the next turn, and a paused accept goes on then.
    Connection& connection = *connections_.at(fd);
    if (connection.dropped)
        return;
    connection.dropped = true;
    connection.notifier.setEnabled(false);
    QMetaObject::invokeMethod(this, [this, fd] {
        connections_.erase(fd);
        if (accepting_ && !accepting_->isEnabled())
            accepting_->setEnabled(true);
    }, Qt::QueuedConnection);
}

void HostLink::acceptConnections()
{
    while (true) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            auto connection = std::make_unique<Connection>(fd, this);
            connection->notifier.setEnabled(reading_);
            connections_[fd] = std::move(connection);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // Keep listening and keep serving the hosts already connected; new
            // ones wait in the listen queue until a descriptor frees up.
            accepting_->setEnabled(false);
            if (!toldOutOfDescriptors_)
                report("host link: out of file descriptors with " + std::to_string(connections_.size())
                       + " hosts connected; new hosts wait until one leaves");
            toldOutOfDescriptors_ = true;
        }
        return;
    }
}

void HostLink::readFrom(int fd)
{
    // Past the queue's capacity the senders wait in their sockets.
    const std::size_t room = queue_.room();
    if (room == 0) {
        setReading(false);
        return;
    }
    std::array<std::uint8_t, kReadChunk> bytes {};
    const ssize_t n = ::read(fd, bytes.data(), std::min(room, bytes.size()));
    if (n > 0) {
        queue_.feed(fd, {bytes.data(), static_cast<std::size_t>(n)});
        scheduleNext();
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        closeConnection(fd);
    }
}

void HostLink::closeConnection(int fd)
{
    if (const std::size_t left = queue_.close(fd); left != 0)
        report("host link: a sender left after " + std::to_string(left) + " of " + std::to_string(kRecordSize)
               + " bytes of a command; it was dropped");
    dropLater(fd);
}

void HostLink::setReading(bool on)
{
    reading_ = on;
    for (auto& [fd, connection] : connections_)
        if (!connection->dropped)
            connection->notifier.setEnabled(on);
}

void HostLink::scheduleNext()
{
    // One record per turn of the event loop.
    if (scheduled_ || queue_.size() == 0)
        return;
    scheduled_ = true;
    QMetaObject::invokeMethod(this, &HostLink::carryOutNext, Qt::QueuedConnection);
}

void HostLink::carryOutNext()
{
    scheduled_ = false;
    const auto command = queue_.next();
    if (!command)
        return;
    scheduleNext();
    if (!reading_ && queue_.room() >= kReadChunk)
        setReading(true);
    emit hookProc(command->command, command->state);
}

} // namespace torvak
