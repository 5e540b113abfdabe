// SPDX-License-Identifier: GPL-3.0-or-later
// The radio port over QSerialPort on a pseudo-terminal standing in for the
// radio. A pty has no modem lines and takes no parity, so what the port asks
// of the line is recorded on its way to the kernel instead.
#include "platform/device_watcher.h"
#include "platform/qt_serial_device.h"
#include "support/fakes.h"
#include "support/helpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>

#include <cstdarg>
#include <functional>
#include <thread>

using namespace torvak;
using namespace torvak::test;
using ::testing::HasSubstr;

namespace {

std::vector<std::pair<unsigned long, int>> lineCalls; // (ioctl request, modem lines), or (0, control flags)

template <typename F>
F* real(const char* name) { return reinterpret_cast<F*>(::dlsym(RTLD_NEXT, name)); }


} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) __THROW
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET)
        lineCalls.emplace_back(request, *static_cast<int*>(arg));
    static auto* forward = real<int(int, unsigned long, void*)>("ioctl");
    return forward(fd, request, arg);
}

// While set, the next read of this device by anyone but the test's own end
// finds nothing, as when another reader took the bytes first.
dev_t stealFrom = 0;
int stealKeep = -1;
extern "C" ssize_t read(int fd, void* bytes, size_t n)
{
    static auto* forward = real<ssize_t(int, void*, size_t)>("read");
    struct stat st {};
    if (stealFrom != 0 && fd != stealKeep && ::fstat(fd, &st) == 0 && st.st_rdev == stealFrom) {
        stealFrom = 0;
        return 0;
    }
    return forward(fd, bytes, n);
}

extern "C" int tcsetattr(int fd, int action, const termios* t) __THROW
{
    lineCalls.emplace_back(0, static_cast<int>(t->c_cflag));
    static auto* forward = real<int(int, int, const termios*)>("tcsetattr");
    return forward(fd, action, t);
}

// Each settings text as the line is asked for it at open (a pty drops the
// parity it was asked for, so the first ask counts); RTS is never raised
// (some interfaces key on it) and DTR is (many take their power from it).
TEST(SerialLine, EachOpenAsksTheLineForItsSettingsAndNeverKeys)
{
    for (const auto& [settings, parity, size, twoStops] : {std::tuple{"9600,n,8,1", 0, CS8, false}, {"4800,n,8,2", 0, CS8, true},
                                                            {"4800,e,8,1", PARENB, CS8, false}, {"1200,o,8,1", PARENB | PARODD, CS8, false},
                                                            {"9600,m,8,1", PARENB | PARODD | CMSPAR, CS8, false}, {"9600,s,8,1", PARENB | CMSPAR, CS8, false}}) {
        Pty radio;
        QtSerialDevice device;
        RadioPort port(device);
        ASSERT_TRUE(port.setSettings(settings));
        lineCalls.clear();
        port.open(radio.slavePath.toStdString());
        int asked = -1, sizes = 0;
        bool stops = false, dtr = false;
        for (const auto& [request, bits] : lineCalls) {
            if (request == 0 && asked < 0 && (bits & PARENB))
                asked = bits & (PARENB | PARODD | CMSPAR);
            sizes |= request == 0 && (bits & CSIZE) == size;
            stops |= request == 0 && (bits & CSTOPB);
            EXPECT_FALSE(request != TIOCMBIC && request != 0 && (bits & TIOCM_RTS)) << settings << ": RTS raised";
            dtr |= request == TIOCMBIS && (bits & TIOCM_DTR);
        }
        EXPECT_TRUE(dtr) << settings;
        EXPECT_EQ(std::max(asked, 0), parity) << settings;
        EXPECT_TRUE(parity || (sizes && stops == twoStops)) << settings; // past a refused parity nothing more is asked
    }
}

// Frames reach the radio whole and its replies are read; a line that stops
// taking bytes sends every frame handed over whole once it drains, refuses a
// transmit meanwhile, and ends on a receive with the stale frames thrown
// away; closing lets what is queued out first.
TEST(SerialLine, FramesGoOutWholeAndTheLineEndsOnTheLastReceive)
{
    Pty radio;
    QtSerialDevice device;
    DeviceWatcher watch;
    MemoryStore store;
    store.values["Devices/COM1"] = radio.slavePath.toStdString();
    TestView view;
    RadioLink link(device, watch, store, view);
    link.start();
    ASSERT_TRUE(link.isOpen());
    const auto sent = [&](PttState state) { // handed to the port, so the lamp shows it
        view.colour = Rgb{};
        link.sendPtt(state);
        return view.colour == (state == PttState::Transmit ? kTransmitRed : kReceiveGreen);
    };
    ASSERT_TRUE(sent(PttState::Transmit) && sent(PttState::Receive));
    EXPECT_EQ(framesOf(radio.read(14)), "T R");
    for (int i = 0; i < 8; ++i)
        radio.write(QByteArray(1000, '\xFB'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return radio.unread() == 0; }, 2000)) << radio.unread() << " bytes unread";
    struct stat slave {}; // another reader takes what the radio says: it is said, and the port stays open
    ::fstat(radio.slave, &slave);
    stealFrom = slave.st_rdev, stealKeep = radio.slave;
    radio.write(QByteArray("\xFE\xFE\xE0\x04\xFB\xFD", 6));
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.fault.find("Another program reads the radio's device too") != std::string::npos; }, 2000))
        << view.fault << ::testing::PrintToString(view.lines);
    ASSERT_TRUE(link.isOpen());

    const auto fill = [&](bool alternate) {
        int handed = 0;
        for (; device.bytesQueued() == 0 && handed < 100000; ++handed)
            EXPECT_TRUE(sent(alternate && handed % 2 ? PttState::Receive : PttState::Transmit));
        return handed;
    };
    const int handed = fill(true);
    EXPECT_FALSE(sent(PttState::Transmit)) << "a transmit is never sent late";
    QByteArray wire;
    (void)QTest::qWaitFor([&] { wire += radio.read(0, 0); return device.bytesQueued() == 0; }, 3000);
    wire += radio.read(0, 0);
    EXPECT_EQ(wire.size(), handed * 7) << "a frame was cut or lost";
    EXPECT_EQ(wire.right(7), bytesOf(handed % 2 ? kTransmitFrame : kReceiveFrame));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view.fault.starts_with("The radio is not taking bytes"); }, 1000))
        << "the drained line is still said stalled: " << view.fault;

    const int stale = fill(false);
    ASSERT_TRUE(sent(PttState::Receive));
    wire = radio.read(1 << 30, 1000);
    EXPECT_TRUE(wire.endsWith(bytesOf(kReceiveFrame)));
    EXPECT_LT(wire.size(), stale * 7) << "stale frames were not thrown away";

    wire.clear();
    const int last = fill(false); // full again, with part of a frame queued: closing lets it out
    std::thread reader([&] {
        for (int i = 0; i < 200 && wire.size() < last * 7; ++i, QThread::msleep(5))
            wire += radio.read(0, 0);
    });
    link.shutDown();
    reader.join();
    EXPECT_EQ(wire.size(), last * 7) << "queued bytes were thrown away at close";
    EXPECT_EQ(view.lines.back(), "closing while the radio is transmitting: it was left keyed");
}

TEST(SerialLine, OpenFailuresSayWhy)
{
    Pty radio;
    QtSerialDevice device, other;
    const std::string busy = radio.slavePath.toStdString();
    RadioPort holder(other);
    ASSERT_TRUE(holder.open(busy));
    const auto noDescriptors = [] { // none to be had, until the returned call gives them back
        rlimit old {}, none {};
        ::getrlimit(RLIMIT_NOFILE, &old);
        none.rlim_max = old.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &none);
        return [old] { ::setrlimit(RLIMIT_NOFILE, &old); };
    };
    Pty free;
    for (const auto& [path, reason] : {std::pair{std::string("/dev/does-not-exist-torvak"), "no such device"}, {busy, "busy"},
                                       {QCoreApplication::applicationFilePath().toStdString(), "not a serial device"},
                                       {std::string("/dev/null"), "not a serial device"},
                                       {free.slavePath.toStdString(), "out of file descriptors"}}) {
        RadioPort port(device);
        const auto giveBack = std::string(reason) == "out of file descriptors" ? noDescriptors() : std::function<void()>([] {});
        const Status s = port.open(path);
        giveBack();
        EXPECT_THAT(s.reason(), HasSubstr(reason)) << path;
        EXPECT_FALSE(port.isOpen()) << path;
    }
}

// A device that appears as udev makes /dev/serial/by-id (a link made under
// another name and renamed into place) opens the port, and a receive waiting
// for it goes out: with the folder there or made later, and with the rename
// landing as the watch is armed, seen by its first look.
TEST(SerialLine, ADeviceRenamedIntoPlaceOpensThePort)
{
    for (const auto& [folderLater, whileArming] : {std::pair{false, false}, {true, false}, {false, true}}) {
        Pty radio;
        QTemporaryDir dir;
        const QString byId = dir.filePath(QStringLiteral("by-id")), link = byId + QStringLiteral("/usb-radio");
        const auto plug = [&] {
            QDir().mkpath(byId);
            QFile::link(radio.slavePath, byId + QStringLiteral("/.tmp-usb-radio"));
            ::rename(QFile::encodeName(byId + QStringLiteral("/.tmp-usb-radio")).constData(), QFile::encodeName(link).constData());
        };
        if (!folderLater)
            QDir().mkpath(byId);
        QtSerialDevice device;
        DeviceWatcher watch;
        if (whileArming)
            watch.arming = [&] { std::exchange(watch.arming, nullptr), plug(); };
        MemoryStore store;
        store.values["Devices/COM1"] = link.toStdString();
        TestView view;
        RadioLink radioLink(device, watch, store, view);
        radioLink.start();
        radioLink.sendPtt(PttState::Receive);
        if (!whileArming)
            plug();
        EXPECT_EQ(framesOf(radio.read(7, 3000)), "R") << folderLater << whileArming;
        EXPECT_TRUE(radioLink.isOpen());
    }
}
