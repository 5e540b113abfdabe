// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "port/serial_device.h"

#include <QObject>
#include <QSerialPort>

namespace torvak {

// The radio's serial device over QSerialPort. Reads whatever the radio sends
// as it arrives, and closes itself when the device goes away
// (telling its owner through lost).
class QtSerialDevice : public QObject, public SerialDevice {
    Q_OBJECT
public:
    explicit QtSerialDevice(QObject* parent = nullptr);
    ~QtSerialDevice() override;

    Status open(const std::string& path, const LineSettings& settings) override;
    std::size_t close() override;
    bool isOpen() const override { return port_.isOpen(); }
    std::size_t bytesQueued() const override;
    Status write(std::span<const std::uint8_t> bytes) override;
    void discardQueued() override;

    // The processes other than this one that have this file open, as
    // "PID (name), ...", from /proc; and a process's name.
    static std::string holdersOf(const QString& device);
    static QString nameOf(const QString& pid);

private:
    // Hung up, unplugged or gone from its path; not merely read empty.
    bool deviceGone() const;
    void drain();
    void written();
    void onError(QSerialPort::SerialPortError error);
    Status applySettings(const LineSettings& settings);

    QSerialPort port_;
    QString path_; // as opened: the port's own name drops "/dev/"
    LineSettings settings_;
    bool closing_ = false;
    bool toldShared_ = false;
};

} // namespace torvak
