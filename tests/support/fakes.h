// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Fakes for the toolkit-free core's unit tests and the fuzz targets only;
// everything else runs against real ptys, sockets and files.
#include "core/message_box.h"
#include "core/ptt_controller.h"
#include "port/serial_device.h"
#include "settings/settings_store.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace torvak::test {

// A line that sends what it is given at once, or holds it while stalled.
struct FakeDevice : SerialDevice {
    std::set<std::string> missing; // paths that fail to open
    std::vector<std::string> log;  // "open PATH", "close"
    std::vector<std::uint8_t> wire, queued;
    bool stalled = false, open_ = false;
    LineSettings openedWith;

    Status open(const std::string& path, const LineSettings& s) override
    {
        log.push_back("open " + path);
        if (missing.count(path))
            return Status::failure("no such device");
        open_ = true;
        openedWith = s;
        return Status::success();
    }
    void close() override
    {
        if (open_)
            log.push_back("close");
        open_ = false;
        drain(); // as the real one lets the queue out first
    }
    bool isOpen() const override { return open_; }
    std::size_t bytesQueued() const override { return queued.size(); }
    Status write(std::span<const std::uint8_t> bytes) override
    {
        auto& to = stalled ? queued : wire;
        to.insert(to.end(), bytes.begin(), bytes.end());
        return Status::success();
    }
    void discardQueued() override { queued.clear(); }
    void drain() // the line takes bytes again
    {
        stalled = false;
        wire.insert(wire.end(), queued.begin(), queued.end());
        queued.clear();
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

struct RecordingBox : MessageBox {
    std::vector<std::string> shown;
    void show(std::string_view prompt) override { shown.emplace_back(prompt); }
};

struct TestLamp : LampView {
    Rgb colour = kReceiveGreen;
    Rgb fillColour() const override { return colour; }
    void setFillColour(Rgb c) override { colour = c; }
};

} // namespace torvak::test
