// SPDX-License-Identifier: GPL-3.0-or-later
// A raw listening socket watched by QSocketNotifier, not QLocalServer: when
// accept fails, Qt's server closes its listener and deletes the socket file,
// so running out of file descriptors once would end the host link for good.
// Here the listener stays, accepting pauses, and hosts are served again as
// descriptors free up.
#include "host_link.h"

#include "core/report.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace torvak {

namespace {

// The runtime directory the session gave us, exactly, never a fallback
// somewhere else when the given one is unfit: XDG_RUNTIME_DIR, or where a
// login session keeps it when that is unset. torvakfunc and the Wine bridge
// take the same rule. It must be an absolute path to a directory of the
// user's; the lock lives there.
Checked<QString> runtimeDirectory(struct stat& st)
{
    const QString given = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString dir = given.isEmpty() ? QStringLiteral("/run/user/") + QString::number(::getuid()) : given;
    const std::string name = dir.toStdString();
    if (!QDir::isAbsolutePath(dir))
        return Checked<QString>::failed("the runtime directory " + name + " is not an absolute path (XDG_RUNTIME_DIR)");
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0)
        return Checked<QString>::failed("the runtime directory " + name + " does not exist");
    if (!S_ISDIR(st.st_mode))
        return Checked<QString>::failed("the runtime directory " + name + " is not a directory");
    if (st.st_uid != ::getuid())
        return Checked<QString>::failed("the runtime directory " + name + " belongs to another user");
    return Checked<QString>::of(dir);
}

// Beside the socket: the lock that says which instance owns socket and port.
QString lockPathIn(const QString& runtimeDirectory)
{
    return QDir(runtimeDirectory).filePath(QString::fromLatin1(HostLink::kMessageName) + QStringLiteral(".lock"));
}

const char* kindOf(mode_t mode)
{
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a directory";
    return "not a socket";
}

} // namespace

struct HostLink::Connection {
    explicit Connection(int fd) : fd(fd) {}
    ~Connection() { ::close(fd); }

    int fd;
    bool dropped = false; // closing on the next turn
};

HostLink::HostLink(QObject* parent)
    : QObject(parent)
{
}

HostLink::~HostLink()
{
    removeHook();
    delete arriving_; // before the descriptor it watches
    for (const int fd : {ready_, lock_})
        if (fd >= 0)
            ::close(fd);
}

Checked<QString> HostLink::findSocketPath()
{
    struct stat st {};
    const Checked<QString> dir = runtimeDirectory(st);
    if (!dir.status)
        return dir;
    // Ours alone: the radio is not to be keyed by anyone but its operator.
    if ((st.st_mode & 077) != 0)
        return Checked<QString>::failed("the runtime directory " + dir.value.toStdString()
                                        + " is open to other users (mode "
                                        + QString::number(st.st_mode & 0777, 8).toStdString() + ")");
    const QString path = QDir(dir.value).filePath(QString::fromLatin1(kMessageName));
    const QByteArray native = QFile::encodeName(path);
    if (static_cast<std::size_t>(native.size()) >= sizeof(sockaddr_un::sun_path))
        return Checked<QString>::failed("the socket path " + path.toStdString() + " is too long ("
                                        + std::to_string(native.size()) + " bytes; a Unix socket takes at most "
                                        + std::to_string(sizeof(sockaddr_un::sun_path) - 1) + ")");
    return Checked<QString>::of(path);
}

Checked<QString> HostLink::lockDirectory()
{
    struct stat st {};
    if (Checked<QString> dir = runtimeDirectory(st); dir.status)
        return dir;
    // No runtime directory of the user's: still one instance, locked in a
    // folder of the user's own that nobody else can reach.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/torvak-ptt");
    const QByteArray native = QFile::encodeName(dir);
    QDir().mkpath(dir);
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()
        || ((st.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0))
        return Checked<QString>::failed("no private folder for the one-instance lock: " + dir.toStdString()
                                        + " is not a folder of the user's own");
    return Checked<QString>::of(dir);
}

bool HostLink::instanceRunning()
{
    const Checked<QString> dir = lockDirectory();
    if (!dir.status)
        return false;
    const QByteArray path = QFile::encodeName(lockPathIn(dir.value));
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

HostLink::Installed HostLink::takeLock(const QString& path)
{
    // A lock the kernel holds for the process: it goes with the process, so
    // a lock file left by one that died, empty or not, is simply taken.
    const std::string name = path.toStdString();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        std::string why = std::strerror(errno);
        if (errno == EISDIR)
            why = "it is a directory";
        else if (errno == ELOOP)
            why = "it is a symbolic link";
        else if (fd >= 0)
            why = S_ISREG(st.st_mode) ? "it belongs to another user" : std::string("it is ") + kindOf(st.st_mode);
        if (fd >= 0)
            ::close(fd);
        return {Hook::Failed, "cannot use the lock file " + name + ": " + why + "; remove it and start again"};
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        const std::string why = std::strerror(errno);
        ::close(fd);
        if (held)
            return {Hook::AlreadyRunning, "another torvak-ptt holds " + name};
        return {Hook::Failed, "cannot lock " + name + ": " + why};
    }
    // Who holds it, for the curious; the lock holds without it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    [[maybe_unused]] const bool noted = ::ftruncate(fd, 0) == 0 && ::write(fd, pid.data(), pid.size()) > 0;
    lock_ = fd;
    return {Hook::Installed, {}};
}

HostLink::Installed HostLink::installHook()
{
    // One instance owns socket and port: whoever holds the lock, wherever
    // the runtime directory stands.
    struct stat st {};
    if (lock_ < 0) {
        const Checked<QString> dir = lockDirectory();
        if (!dir.status)
            return {Hook::Failed, dir.status.reason()};
        if (Installed locked = takeLock(lockPathIn(dir.value)); locked.hook != Hook::Installed)
            return locked;
        lockPath_ = lockPathIn(dir.value);
        if (const Checked<QString> runtime = runtimeDirectory(st); !runtime.status)
            report(runtime.status.reason() + ": the one-instance lock is " + lockPath_.toStdString());
    }

    const Checked<QString> path = findSocketPath();
    if (!path.status)
        return {Hook::Failed, path.status.reason()};
    // The hosts' connections are watched through one epoll set: it hands
    // them over in the order their bytes came, which tells whose came first.
    if (ready_ < 0) {
        ready_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (ready_ < 0)
            return {Hook::Failed, std::string("cannot watch the host link: ") + std::strerror(errno)};
        arriving_ = new QSocketNotifier(ready_, QSocketNotifier::Read, this);
        connect(arriving_, &QSocketNotifier::activated, this, &HostLink::readReady);
    }

    // With the lock held, a socket at the path was left by an instance that
    // died. Anything else there is someone's file: never ours to delete.
    const QByteArray native = QFile::encodeName(path.value);
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
        || ::chmod(native.constData(), 0600) != 0 || ::listen(fd, 64) != 0 || ::lstat(native.constData(), &st) != 0) {
        const std::string why = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return {Hook::Failed, "cannot listen on " + path.value.toStdString() + ": " + why};
    }
    // What is at the path when we leave is removed only if it is still this.
    socketDevice_ = st.st_dev;
    socketInode_ = st.st_ino;
    listener_ = fd;
    path_ = path.value;
    arriving_->setEnabled(true);
    accepting_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(accepting_, &QSocketNotifier::activated, this, &HostLink::acceptConnections);
    return {Hook::Installed, {}};
}

void HostLink::retryWhenTheDirectoryChanges()
{
    struct stat st {};
    const Checked<QString> dir = runtimeDirectory(st);
    if (!dir.status || retry_)
        return;
    retry_ = new QFileSystemWatcher({dir.value}, this);
    connect(retry_, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (listener_ >= 0)
            return;
        const Installed again = installHook();
        if (again.hook != Hook::Installed) {
            emit stillDown(QString::fromStdString(again.reason));
            return;
        }
        retry_->deleteLater();
        retry_ = nullptr;
        emit cameUp();
    });
}

void HostLink::removeHook()
{
    if (listener_ >= 0) {
        delete accepting_;
        accepting_ = nullptr;
        ::close(listener_);
        listener_ = -1;
        const QByteArray native = QFile::encodeName(path_);
        struct stat st {};
        if (::lstat(native.constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == socketDevice_
            && st.st_ino == socketInode_)
            ::unlink(native.constData());
    }
    // Records after a close command are not carried out. The connections go
    // later: removeHook may run inside one of their own reads.
    if (arriving_)
        arriving_->setEnabled(false);
    queue_.clear();
    for (auto& [id, connection] : connections_)
        dropLater(id);
}

void HostLink::dropLater(std::uint64_t id)
{
    // Not now: this may run inside a connection's notifier. Its descriptor
    // closes on the next turn, and a paused accept goes on then.
    Connection& connection = *connections_.at(id);
    if (connection.dropped)
        return;
    connection.dropped = true;
    ::epoll_ctl(ready_, EPOLL_CTL_DEL, connection.fd, nullptr);
    QMetaObject::invokeMethod(this, [this, id] {
        connections_.erase(id);
        if (accepting_ && !accepting_->isEnabled())
            accepting_->setEnabled(true);
        emit descriptorsFreed();
    }, Qt::QueuedConnection);
}

void HostLink::acceptConnections()
{
    while (true) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            epoll_event watched {};
            watched.events = EPOLLIN;
            watched.data.u64 = ++accepted_;
            connections_[accepted_] = std::make_unique<Connection>(fd);
            ::epoll_ctl(ready_, EPOLL_CTL_ADD, fd, &watched);
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

void HostLink::readReady()
{
    // The next round waits until this one is carried out: a host that never
    // stops writing holds another back by what it held at one round at most.
    if (queue_.size() > 0) {
        setReading(false);
        return;
    }
    readRound();
}

void HostLink::readRound()
{
    // Every readable connection, in the order their bytes came (as epoll hands
    // them over), gives what it held when the round began, and no more.
    if (ready_ < 0)
        return;
    std::array<epoll_event, 64> ready {};
    const int n = ::epoll_wait(ready_, ready.data(), static_cast<int>(ready.size()), 0);
    for (int i = 0; i < n; ++i) {
        const auto it = connections_.find(ready[static_cast<std::size_t>(i)].data.u64);
        if (it != connections_.end() && !it->second->dropped)
            readHeld(it->first);
    }
}

void HostLink::readHeld(std::uint64_t id)
{
    const int fd = connections_.at(id)->fd;
    int held = 0;
    if (::ioctl(fd, FIONREAD, &held) != 0)
        held = 0;
    std::array<std::uint8_t, 16384> bytes; // filled by read, never zeroed first
    // Readable with nothing held: the host left (the read says 0) or failed.
    std::size_t left = held > 0 ? static_cast<std::size_t>(held) : 1;
    while (left > 0) {
        const ssize_t n = ::read(fd, bytes.data(), std::min(left, bytes.size()));
        if (n > 0) {
            queue_.feed(id, {bytes.data(), static_cast<std::size_t>(n)});
            left -= std::min(left, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN)
            closeConnection(id);
        break;
    }
    scheduleNext();
}

void HostLink::closeConnection(std::uint64_t id)
{
    if (const std::size_t left = queue_.close(id); left != 0)
        report("host link: a sender left after " + std::to_string(left) + " of " + std::to_string(kRecordSize)
               + " bytes of a command; it was dropped");
    dropLater(id);
}

void HostLink::setReading(bool on)
{
    if (arriving_ && listener_ >= 0)
        arriving_->setEnabled(on);
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
    if (!queue_.carryOutNext())
        return;
    scheduleNext();
    // This round is carried out: the next may begin.
    if (queue_.size() == 0)
        setReading(true);
}

void HostLink::submit(std::function<void()> carryOut)
{
    queue_.submit(std::move(carryOut));
    scheduleNext();
}

} // namespace torvak
