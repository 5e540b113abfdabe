// SPDX-License-Identifier: GPL-3.0-or-later
// The radio port over QSerialPort, on a pseudo-terminal standing in for the radio.
#include "../support/helpers.h"
#include "platform/qt_serial_device.h"
#include "port/radio_port.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <QThread>

#include <thread>

#include <sys/resource.h>
#include <unistd.h>

using namespace torvak;
using namespace torvak::test;

namespace {

QByteArray bytesOf(const Frame& f) { return QByteArray(reinterpret_cast<const char*>(f.data()), f.size()); }

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(SerialPty, FramesReachTheRadioAndItsRepliesAreDrained)
{
    Pty radio;
    QtSerialDevice device;
    RadioPort port(device, [&](int) { return radio.slavePath().toStdString(); });
    // A pseudo-terminal only carries 8 data bits without parity: other line
    // settings are refused at open, with the reason.
    ASSERT_TRUE(port.setSettings("4800,e,7,2"));
    Status opened = port.open();
    EXPECT_FALSE(opened);
    EXPECT_NE(opened.reason().find("does not accept these line settings"), std::string::npos);
    EXPECT_FALSE(port.isOpen());

    ASSERT_TRUE(port.setSettings("4800,n,8,2"));
    opened = port.open();
    ASSERT_TRUE(opened) << opened.reason();

    ASSERT_TRUE(port.writeFrame(kTransmitFrame, false));
    ASSERT_TRUE(port.writeFrame(kReceiveFrame, true));
    EXPECT_EQ(radio.read(14), bytesOf(kTransmitFrame) + bytesOf(kReceiveFrame));

    // Far more than the 1024-byte receive buffer: all of it is read and dropped,
    // and the port keeps working.
    for (int i = 0; i < 8; ++i)
        radio.write(QByteArray(1000, '\xFB'));
    settle(200);
    EXPECT_TRUE(port.isOpen());
    ASSERT_TRUE(port.writeFrame(kTransmitFrame, false));
    EXPECT_EQ(radio.read(7), bytesOf(kTransmitFrame));
    EXPECT_EQ(radio.read(1, 100), QByteArray()) << "nothing but the frames reaches the radio";
}

TEST(SerialPty, ARadioThatDisappearsClosesThePortWithoutSpinning)
{
    auto radio = std::make_unique<Pty>();
    QtSerialDevice device;
    QSignalSpy lost(&device, &QtSerialDevice::lost);
    RadioPort port(device, [&](int) { return radio->slavePath().toStdString(); });
    ASSERT_TRUE(port.open());
    ASSERT_TRUE(port.writeFrame(kTransmitFrame, false));
    radio->read(7);

    radio->hangUp();
    ASSERT_TRUE(waitUntil([&] { return !port.isOpen(); }));
    EXPECT_EQ(lost.count(), 1);

    // A hung-up line that still polled "readable" would burn a whole core here.
    const double before = cpuSeconds();
    settle(1000);
    EXPECT_LT(cpuSeconds() - before, 0.5);

    const Status written = port.writeFrame(kTransmitFrame, false);
    EXPECT_FALSE(written);
    EXPECT_EQ(written.reason(), "the radio port is not open");
}

TEST(SerialPty, OpenFailuresSayWhy)
{
    QtSerialDevice device;
    std::string path = "/dev/does-not-exist-torvak";
    RadioPort port(device, [&](int) { return path; });
    Status s = port.open();
    EXPECT_FALSE(s);
    EXPECT_NE(s.reason().find("no such device"), std::string::npos) << s.reason();

    // The same device twice: the second open finds it busy.
    Pty radio;
    path = radio.slavePath().toStdString();
    ASSERT_TRUE(port.open());
    QtSerialDevice other;
    RadioPort second(other, [&](int) { return path; });
    s = second.open();
    EXPECT_FALSE(s);
    EXPECT_FALSE(second.isOpen());
    EXPECT_NE(s.reason().find("busy"), std::string::npos) << s.reason();

    // Files and devices that are no serial line.
    for (const std::string& notALine : {QCoreApplication::applicationFilePath().toStdString(), std::string("/dev/null")}) {
        RadioPort wrong(other, [&](int) { return notALine; });
        s = wrong.open();
        EXPECT_NE(s.reason().find("not a serial device"), std::string::npos) << notALine << ": " << s.reason();
    }
}

// A line that stops taking bytes (a pty nobody reads): a transmit is refused
// rather than sent late, a receive replaces the stale frames and goes out
// once the line drains, and closing lets queued bytes out first.
TEST(SerialPty, AStalledLineEndsOnTheLastReceive)
{
    Pty radio;
    QtSerialDevice device;
    RadioPort port(device, [&](int) { return radio.slavePath().toStdString(); });
    ASSERT_TRUE(port.open());
    int handed = 0;
    while (device.bytesQueued() == 0 && handed < 100000) {
        ASSERT_TRUE(port.writeFrame(handed % 2 ? kReceiveFrame : kTransmitFrame, false));
        ++handed;
    }
    ASSERT_GT(device.bytesQueued(), 0u) << "the pty never filled";
    EXPECT_FALSE(port.writeFrame(kTransmitFrame, false));
    ASSERT_TRUE(port.writeFrame(kReceiveFrame, true));

    const QByteArray wire = radio.read(1 << 30, 1000);
    EXPECT_TRUE(wire.endsWith(bytesOf(kReceiveFrame))) << "ends " << wire.right(14).toHex(' ').constData();
    EXPECT_LT(wire.size(), handed * 7) << "stale frames were thrown away";

    // Stalled again: the receive queued at close still reaches the radio.
    while (device.bytesQueued() == 0 && handed-- > 0)
        ASSERT_TRUE(port.writeFrame(kTransmitFrame, false));
    ASSERT_TRUE(port.writeFrame(kReceiveFrame, true));
    std::thread reader([&] {
        QThread::msleep(100);
        QByteArray got;
        char buf[4096];
        for (int i = 0; i < 200 && !got.endsWith(bytesOf(kReceiveFrame)); ++i) {
            const ssize_t n = ::read(radio.masterFd(), buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
            else
                QThread::msleep(5);
        }
        EXPECT_TRUE(got.endsWith(bytesOf(kReceiveFrame)));
    });
    port.close();
    reader.join();
}
