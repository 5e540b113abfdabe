// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "port/serial_device.h"

#include <QObject>
#include <QSerialPort>

namespace torvak {

// The radio's serial device over QSerialPort. Reads and drops whatever the
// radio sends as it arrives, and closes itself when the device goes away.
class QtSerialDevice : public QObject, public SerialDevice {
    Q_OBJECT
public:
    explicit QtSerialDevice(QObject* parent = nullptr);
    ~QtSerialDevice() override;

    Status open(const std::string& path, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    std::size_t bytesQueued() const override;
    Status write(std::span<const std::uint8_t> bytes) override;
    void discardQueued() override;

signals:
    // The device went away while open (unplugged, hung up); the port is closed.
    void lost(const QString& reason);

private:
    void drain();
    void onError(QSerialPort::SerialPortError error);
    Status applySettings(const LineSettings& settings);

    QSerialPort port_;
    LineSettings settings_;
    bool closing_ = false;
};

} // namespace torvak
