// SPDX-License-Identifier: GPL-3.0-or-later
#include "check.h"

#include "core/civ_question.h"
#include "core/civ_reader.h"
#include "platform/host_link.h"
#include "platform/qt_serial_device.h"
#include "platform/qt_settings_store.h"
#include "port/device_map.h"
#include "settings/options.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace torvak {

namespace {

void say(const std::string& line) { std::printf("%s\n", line.c_str()); }

// Services known to take serial adapters for themselves.
std::string grabbersRunning()
{
    std::string running;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        const QString name = QtSerialDevice::nameOf(pid);
        if ((name == QLatin1String("ModemManager") || name == QLatin1String("brltty")) && running.find(name.toStdString()) == std::string::npos)
            running += (running.empty() ? "" : ", ") + name.toStdString();
    }
    return running;
}

// What kind of file the device is, said only when it is no serial port. The
// kernel's device classes tell, without opening it: an open raises RTS,
// which keys some radios.
std::string deviceKind(const QString& device)
{
    if (QFileInfo(device).isFile())
        return ", a plain file, not a serial device";
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return "";
    const QString subsystem = QFileInfo(QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(major(st.st_rdev)).arg(minor(st.st_rdev)))
                                  .symLinkTarget();
    return subsystem.isEmpty() || subsystem.endsWith(QLatin1String("/tty")) ? "" : ", not a serial port (it has no line settings)";
}

} // namespace

int checkRadio()
{
    if (HostLink::instanceRunning()) {
        say("torvak-ptt is running and holds the radio's port: --check leaves it alone. Close it to check the port.");
        return 1;
    }
    QtSettingsStore store;
    const Checked<std::int16_t> number = options::comPort(store);
    const int port = number.status ? number.value : 1;
    const Checked<std::string> mapped = deviceFor(store, port);
    const bool byHand = store.read("Devices", "COM" + std::to_string(port)).has_value();
    if (!mapped.status) {
        say("COM" + std::to_string(port) + ": " + mapped.status.reason());
        return 1;
    }
    say("COM" + std::to_string(port) + " is " + mapped.value
        + (byHand ? " ([Devices] in " + store.path().toStdString() + ")" : " (the built-in port; map another in [Devices])"));
    const QString device = QFileInfo(QString::fromStdString(mapped.value)).canonicalFilePath();
    if (device.isEmpty()) {
        say("device: not there; plug the interface in, or find it with: ls -l /dev/serial/by-id/");
        return 1;
    }
    say("device: " + device.toStdString() + deviceKind(device));
    const bool allowed = ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
    say(allowed ? "permission: granted"
                : "permission: denied; add yourself to the dialout group (sudo adduser $USER dialout), then log in again");
    const std::string grabbers = grabbersRunning();
    say(grabbers.empty() ? "services that grab serial adapters: none running"
                         : "services that grab serial adapters: " + grabbers + " running; stop it if the port is taken");
    const std::string text = options::lineSettings(store);
    const auto line = parseLineSettings(text);
    say("line settings: " + text + (line ? "" : ", refused: expected such as 9600,n,8,1; checking at 9600,n,8,1"));
    const LineSettings settings = line.value_or(LineSettings{});

    // "Busy" is for a port that cannot be opened because another holds it;
    // other holders of a port that opens are a note (they may take the
    // radio's answers).
    const std::string holders = QtSerialDevice::holdersOf(device);
    QtSerialDevice serial;
    if (const Status opened = serial.open(mapped.value, settings); !opened) {
        say("open: " + opened.reason());
        if (opened.reason().find("busy") != std::string::npos)
            say(holders.empty() ? "busy: held by a program this user cannot see (another user's, or root's)"
                                : "busy: held open by " + holders);
        return 1;
    }
    if (!holders.empty())
        say("note: also open in " + holders + "; it may take the radio's answers");
    CivReader reader;
    bool echo = false, refused = false;
    std::string frequency;
    QEventLoop loop;
    serial.received = [&](std::span<const std::uint8_t> bytes) {
        reader.feed(bytes, [&](Heard heard) {
            echo = echo || heard == Heard::Echo;
            refused = refused || heard == Heard::Refused;
            if (const auto hertz = frequencyOf(reader.frame()); heard == Heard::Data && hertz) {
                char mhz[32];
                std::snprintf(mhz, sizeof mhz, "%.6f MHz", static_cast<double>(*hertz) / 1e6);
                frequency = mhz;
                loop.quit();
            }
        });
    };
    // Read the frequency: harmless, and answered by every CI-V radio.
    const std::vector<std::uint8_t> question = civQuestion(0x03);
    say("asked the radio its frequency (FE FE 04 E0 03 FD)");
    const Status written = serial.write(question);
    // The echo and the longest answer.
    QTimer::singleShot(answerDeadline(settings, static_cast<int>(question.size()) + 11), &loop, &QEventLoop::quit);
    if (written)
        loop.exec();
    serial.close();
    say(echo ? "echo: seen" : "echo: not seen (an interface without echo, or nothing connected)");
    if (!frequency.empty())
        say("answer: the radio answered: " + frequency);
    else if (refused)
        say("answer: refused (FA)");
    else if (reader.noise() > 0)
        say("answer: not CI-V; does the line speed match the radio's CI-V baud rate?");
    else
        say(echo ? "answer: none; is the radio on, with CI-V address 04h, and its CI-V port set to this interface?"
                 : "answer: none; is this the radio's port, and is the interface connected to the radio?");
    return frequency.empty() ? 1 : 0;
}

} // namespace torvak
