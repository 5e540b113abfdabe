#include "qt_serial_device.h"

#include "port/radio_port.h"

#include <QFileInfo>

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

std::string openFailure(const QString& path, QSerialPort::SerialPortError error, const QString& detail)
{
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
        return detail.toStdString();
    }
}

} // namespace

QtSerialDevice::QtSerialDevice(QObject* parent)
    : QObject(parent)
{
    port_.setReadBufferSize(RadioPort::kReceiveBufferSize);
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialDevice::drain);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialDevice::onError);
}

Status QtSerialDevice::open(const std::string& path, const LineSettings& settings)
{
    const QString name = QString::fromStdString(path);
    if (name.isEmpty() || !QFileInfo::exists(name))
        return Status::failure("no such device");
    port_.setPortName(name);
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

void QtSerialDevice::close()
{
    if (port_.isOpen())
        port_.close();
}

std::size_t QtSerialDevice::bytesQueued() const
{
    return static_cast<std::size_t>(port_.bytesToWrite());
}

Status QtSerialDevice::write(std::span<const std::uint8_t> bytes)
{
    const auto size = static_cast<qint64>(bytes.size());
    if (port_.write(reinterpret_cast<const char*>(bytes.data()), size) != size)
        return Status::failure("write to the radio port failed: " + port_.errorString().toStdString());
    // No flush() here: when the device takes only part of the buffer, QSerialPort's
    // flush() leaves the rest waiting for a write notification that never comes,
    // and half a frame stays on the wire. Its own write notifier sends it all.
    return Status::success();
}

void QtSerialDevice::drain()
{
    // Replies and the bus echo are never interpreted.
    port_.readAll();
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
    closing_ = true;
    QMetaObject::invokeMethod(this, [this] {
        closing_ = false;
        if (!port_.isOpen())
            return;
        port_.close();
        emit lost(QStringLiteral("the device hung up or was removed"));
    }, Qt::QueuedConnection);
}

} // namespace torvak
