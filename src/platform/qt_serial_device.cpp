// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_serial_device.h"

#include "core/report.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>

#include <sys/stat.h>
#include <unistd.h>

namespace torvak {

namespace {

QSerialPort::Parity toQt(Parity parity)
{
    switch (parity) {
    case Parity::Even: return QSerialPort::EvenParity;
    case Parity::Odd: return QSerialPort::OddParity;
    case Parity::Mark: return QSerialPort::MarkParity;
    case Parity::Space: return QSerialPort::SpaceParity;
    case Parity::None: break;
    }
    return QSerialPort::NoParity;
}

// Whether the process can open one more file now.
bool descriptorsShort()
{
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EMFILE || errno == ENFILE;
}

std::string openFailure(const QString& path, QSerialPort::SerialPortError error, const QString& detail)
{
    // QSerialPort names a failed lock file "permission" or "busy": out of
    // descriptors it is neither.
    if (descriptorsShort())
        return "out of file descriptors";
    const QByteArray native = QFile::encodeName(path);
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return "no such device";
    case QSerialPort::PermissionError:
        // QSerialPort says "permission" both for modes and for a port in use.
        if (::access(native.constData(), R_OK | W_OK) != 0)
            return "permission denied: is the user in the dialout group?";
        return "the device is busy: another program has it open";
    default:
        break;
    }
    // What the system said, in this program's words.
    const std::pair<int, const char*> words[] = {
        {ENOTTY, "not a serial device"}, // a file or a device without a line discipline: termios refuses it
        {EMFILE, "out of file descriptors"}, {ENFILE, "out of file descriptors"},
        {EBUSY, "the device is busy: another program has it open"},
        {ENOENT, "no such device"}, {ENXIO, "no such device (the adapter is gone)"}, {ENODEV, "no such device"},
        {EACCES, "permission denied: is the user in the dialout group?"},
        {EIO, "the device does not answer (an input/output error)"},
    };
    for (const auto& [code, said] : words)
        if (detail == QString::fromLocal8Bit(std::strerror(code)))
            return said;
    return detail.toStdString();
}

} // namespace

QtSerialDevice::QtSerialDevice(QObject* parent)
    : QObject(parent)
{
    port_.setReadBufferSize(kReceiveBufferSize);
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialDevice::drain);
    connect(&port_, &QSerialPort::bytesWritten, this, &QtSerialDevice::written);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialDevice::onError);
}

Status QtSerialDevice::open(const std::string& path, const LineSettings& settings)
{
    const QString name = QString::fromStdString(path);
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return Status::failure("no such device");
    if (!S_ISCHR(st.st_mode))
        return Status::failure("not a serial device");
    port_.setPortName(name);
    path_ = name;
    if (!port_.open(QIODevice::ReadWrite))
        return Status::failure(openFailure(name, port_.error(), port_.errorString()));

    // Opening must never key the radio: some interfaces key on RTS, and many
    // take their power from DTR. A pseudo-terminal has neither line; that is fine.
    port_.setRequestToSend(false);
    port_.setDataTerminalReady(true);

    const Status applied = applySettings(settings);
    if (!applied)
        port_.close();
    port_.clearError();
    settings_ = settings;
    toldShared_ = false;
    return applied;
}

Status QtSerialDevice::applySettings(const LineSettings& s)
{
    const bool ok = port_.setBaudRate(s.baud) && port_.setParity(toQt(s.parity))
        && port_.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits))
        && port_.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop)
        && port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!ok)
        return Status::failure("the device does not accept these line settings: "
                               + port_.errorString().toStdString());
    return Status::success();
}

QtSerialDevice::~QtSerialDevice() { close(); }

std::size_t QtSerialDevice::close()
{
    if (!port_.isOpen())
        return 0;
    qint64 left = 0;
    // Closing throws away whatever is still queued: a receive among it would
    // never reach the radio. Let it out first, for as long as the line needs.
    if (const qint64 queued = port_.bytesToWrite(); queued > 0) {
        // What the line needs at its speed, with the margin an answer gets.
        const int budgetMs = answerDeadline(settings_, static_cast<int>(queued));
        const QDeadlineTimer deadline(budgetMs);
        while (port_.bytesToWrite() > 0 && !deadline.hasExpired()
               && port_.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
        }
        if ((left = port_.bytesToWrite()) > 0)
            report("the radio port was closed with " + std::to_string(left)
                   + " bytes the line did not take in " + std::to_string(budgetMs)
                   + " ms; they were not sent");
    }
    port_.close();
    return static_cast<std::size_t>(left);
}

std::size_t QtSerialDevice::bytesQueued() const
{
    return static_cast<std::size_t>(port_.bytesToWrite());
}

Status QtSerialDevice::write(std::span<const std::uint8_t> bytes)
{
    const char* data = reinterpret_cast<const char*>(bytes.data());
    auto size = static_cast<qint64>(bytes.size());
    // Nothing queued ahead: the device gets the frame in this turn, not on the
    // write notifier's next one.
    if (port_.bytesToWrite() == 0) {
        const ssize_t n = ::write(port_.handle(), data, static_cast<std::size_t>(size));
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return Status::failure(std::string("write to the radio port failed: ") + std::strerror(errno));
        if (n > 0) {
            data += n;
            size -= n;
        }
    }
    // What the device did not take waits in the send buffer. No flush() here:
    // when the device takes only part of it, QSerialPort's flush() leaves the
    // rest waiting for a notification that never comes. Its own write
    // notifier sends it all.
    if (size > 0 && port_.write(data, size) != size)
        return Status::failure("write to the radio port failed: " + port_.errorString().toStdString());
    return Status::success();
}

void QtSerialDevice::discardQueued()
{
    // Both QSerialPort's buffer and the driver's output queue.
    port_.clear(QSerialPort::Output);
}

void QtSerialDevice::drain()
{
    const QByteArray bytes = port_.readAll();
    if (!bytes.isEmpty() && received)
        received({reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())});
}

void QtSerialDevice::written()
{
    if (port_.bytesToWrite() == 0 && drained)
        drained();
}

QString QtSerialDevice::nameOf(const QString& pid)
{
    QFile comm(QStringLiteral("/proc/") + pid + QStringLiteral("/comm"));
    return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
}

std::string QtSerialDevice::holdersOf(const QString& device)
{
    std::string holders;
    const QString self = QString::number(::getpid());
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        if (pid == self)
            continue;
        for (const QFileInfo& fd : QDir(QStringLiteral("/proc/") + pid + QStringLiteral("/fd")).entryInfoList(QDir::Files | QDir::System)) {
            if (fd.symLinkTarget() != device)
                continue;
            holders += (holders.empty() ? "" : ", ") + pid.toStdString() + " (" + nameOf(pid).toStdString() + ")";
            break;
        }
    }
    return holders;
}

bool QtSerialDevice::deviceGone() const
{
    const int fd = port_.handle();
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 0) == 1 && (ready.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        return true;
    termios line {};
    struct stat st {};
    return ::tcgetattr(fd, &line) != 0 || ::stat(QFile::encodeName(path_).constData(), &st) != 0;
}

void QtSerialDevice::onError(QSerialPort::SerialPortError error)
{
    // A hung-up device keeps reporting "readable" with nothing to read (a read
    // error, or the device gone): close it rather than spin on it. Closing is
    // queued, as QSerialPort is still inside its own read when it reports.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    if (!port_.isOpen() || closing_)
        return;
    // A read that found nothing where the device said there was something:
    // another reader took it. The device is there; the port stays open.
    if (!deviceGone()) {
        port_.clearError();
        if (!std::exchange(toldShared_, true) && shared)
            shared(holdersOf(QFileInfo(path_).canonicalFilePath()));
        return;
    }
    closing_ = true;
    QMetaObject::invokeMethod(this, [this] {
        closing_ = false;
        if (!port_.isOpen())
            return;
        // What was still queued never reaches the radio.
        const auto unsent = static_cast<std::size_t>(port_.bytesToWrite());
        port_.close();
        if (lost)
            lost(unsent);
    }, Qt::QueuedConnection);
}

} // namespace torvak
