// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Fakes of the line, the device watch, the settings store, the message box
// and the window, as the toolkit-free core and the port owner see them. The
// unit tests and the stored-text fuzz target run over them; the integration
// and window tests take only the store, the box or the view, where those are
// not what is tested, and otherwise real ptys, sockets and files.
#include "core/message_box.h"
#include "core/ptt_controller.h"
#include "port/device_watch.h"
#include "port/radio_link.h"
#include "port/serial_device.h"
#include "settings/settings_store.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace torvak::test {

// A line that sends what it is given at once, or holds it while stalled; the
// radio on it echoes what reaches it. A deaf radio stops reading, as a stopped
// program behind a pseudo-terminal does: the kernel still takes a frame's
// worth that bytesQueued cannot count (hidden), then the line stalls. As the
// real one does, closing gives up on a stalled line (its budget runs out) and
// says how many counted bytes it did not send; what the kernel took stays for
// the radio, unless the device goes away. Each byte carries the tag the test
// set when it was written, to tell which command it came from.
struct FakeDevice : SerialDevice {
    struct Byte {
        std::uint8_t value;
        int tag;
    };
    std::set<std::string> missing; // paths that fail to open
    bool descriptorsShort = false;  // every open fails for want of descriptors
    std::vector<std::string> log;   // "open PATH", "close", "lost"
    std::vector<Byte> wire, pending;
    // The radio on the line: whether the bus echoes, and how it answers each
    // frame addressed to it.
    enum class Answers { Done, Refused, None, Noise } answers = Answers::Done;
    bool echoes = true;
    std::size_t hidden = 0; // of pending, taken by the kernel uncounted
    int tag = 0;
    bool stalled = false, deaf = false, open_ = false, echoed = false;
    // The kernel threw away what the program may count as delivered, and no
    // word of it can reach the program: until the radio is heard again,
    // nobody can know what it got.
    bool lostUnheard = false;
    LineSettings openedWith;
    std::string line; // the device opened last

    Status open(const std::string& path, const LineSettings& s) override
    {
        log.push_back("open " + path);
        if (missing.count(path))
            return Status::failure("no such device");
        if (descriptorsShort)
            return Status::failure("out of file descriptors");
        open_ = true;
        openedWith = s;
        line = path;
        return Status::success();
    }
    std::size_t close() override
    {
        if (open_)
            log.push_back("close");
        open_ = false;
        const std::size_t unsent = bytesQueued();
        pending.resize(hidden);
        return unsent;
    }
    bool isOpen() const override { return open_; }
    std::size_t bytesQueued() const override { return pending.size() - hidden; }
    Status write(std::span<const std::uint8_t> bytes) override
    {
        const bool toKernel = deaf && !stalled && hidden + bytes.size() <= 7;
        stalled = stalled || (deaf && !toKernel);
        for (const std::uint8_t b : bytes)
            (stalled || toKernel ? pending : wire).push_back({b, tag});
        hidden += toKernel ? bytes.size() : 0;
        if (!stalled && !toKernel)
            reach(bytes.size());
        return Status::success();
    }
    void dropPending() // the line's queue and what the kernel took uncounted
    {
        pending.clear();
        hidden = 0;
    }
    void discardQueued() override
    {
        lostUnheard = lostUnheard || (!echoed && hidden > 0);
        dropPending();
    }
    void drain() // the line takes bytes again
    {
        stalled = deaf = false;
        const std::size_t moved = pending.size();
        wire.insert(wire.end(), pending.begin(), pending.end());
        dropPending();
        if (open_ && drained)
            drained();
        if (open_)
            reach(moved);
    }
    void reach(std::size_t n) // the last n bytes of the wire reached the radio, which answers each frame
    {
        std::vector<std::uint8_t> back, frame;
        bool ptt = false;
        for (std::size_t i = wire.size() - n; i < wire.size(); ++i) {
            if (echoes)
                back.push_back(wire[i].value);
            frame.push_back(wire[i].value);
            if (wire[i].value != 0xFD)
                continue;
            ptt = ptt || (frame.size() > 4 && frame[4] == 0x16);
            const std::vector<std::uint8_t> answer = answerTo(frame);
            back.insert(back.end(), answer.begin(), answer.end());
            frame.clear();
        }
        if (back.empty())
            return;
        echoed = true;
        // What the radio got of PTT is known again only once a PTT frame reached it.
        lostUnheard = lostUnheard && !ptt;
        if (received)
            received(back);
    }
    // OK or NG to an order; to a read of the frequency (03h), 14.074000 MHz.
    std::vector<std::uint8_t> answerTo(const std::vector<std::uint8_t>& frame) const
    {
        if (answers == Answers::Noise)
            return {0x13, 0x37, 0x00};
        if (answers == Answers::None || frame.size() < 6)
            return {};
        if (answers == Answers::Done && frame[4] == 0x03)
            return {0xFE, 0xFE, 0xE0, 0x04, 0x03, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD};
        return {0xFE, 0xFE, 0xE0, 0x04, std::uint8_t(answers == Answers::Done ? 0xFB : 0xFA), 0xFD};
    }
    void unplug(const std::string& path) // the device goes away, and its path with it
    {
        missing.insert(path);
        if (path != line)
            return;
        stalled = deaf = false;
        lostUnheard = lostUnheard || hidden > 0;
        const std::size_t unsent = bytesQueued();
        dropPending();
        if (!std::exchange(open_, false))
            return;
        log.push_back("lost");
        if (lost)
            lost(unsent);
    }
};

// Tells of a device when its path appears while watched, as the folder
// watcher does.
struct FakeWatch : DeviceWatch {
    std::string watching;
    void watch(const std::string& path) override { watching = path; }
    void stop() override { watching.clear(); }
    void plugged(FakeDevice& device, const std::string& path)
    {
        if (device.missing.erase(path) && watching == path && appeared)
            appeared();
    }
};

struct MemoryStore : SettingsStore {
    std::map<std::string, std::string> values; // "Section/Key" -> text
    std::vector<std::string> writes;
    bool writable = true;

    std::optional<std::string> read(std::string_view section, std::string_view key) const override
    {
        const auto it = values.find(std::string(section) + "/" + std::string(key));
        return it == values.end() ? std::nullopt : std::optional(it->second);
    }
    Status write(std::string_view section, std::string_view key, std::string_view text) override
    {
        if (!writable)
            return Status::failure("read-only store");
        const std::string k = std::string(section) + "/" + std::string(key);
        values[k] = std::string(text);
        writes.push_back(k + "=" + std::string(text));
        return Status::success();
    }
};

// While the next box is up, whatever else happens meanwhile runs.
struct RecordingBox : MessageBox {
    std::vector<std::string> shown, why;
    std::function<void()> whileUp;
    void show(std::string_view prompt, std::string_view reason) override
    {
        shown.emplace_back(prompt);
        why.emplace_back(reason);
        if (const auto meanwhile = std::exchange(whileUp, nullptr))
            meanwhile();
    }
};

// The lamp and what the port's owner says on it and on stderr.
struct TestView : LampView, RadioLinkView {
    Rgb colour = kReceiveGreen;
    std::string fault;
    std::vector<std::string> lines;
    Rgb fillColour() const override { return colour; }
    void setFillColour(Rgb c) override { colour = c; }
    void showPtt(PttState s) override { colour = s == PttState::Transmit ? kTransmitRed : kReceiveGreen; }
    void showFault(const std::string& f) override { fault = f; }
    void tell(const std::string& line) override { lines.push_back(line); }
    std::map<Alarm, int> wakeMs;
    void wakeAfter(Alarm alarm, int ms) override { wakeMs[alarm] = ms; }
};

} // namespace torvak::test
