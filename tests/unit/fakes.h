#pragma once

// Fakes for the toolkit-free core's unit tests only; everything else runs
// against real ptys, sockets and files.
#include "core/ptt_controller.h"
#include "port/reconfigure.h"
#include "port/serial_device.h"
#include "settings/settings_store.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace torvak::test {

struct FakeDevice : SerialDevice {
    std::set<std::string> missing; // paths that fail to open
    std::vector<std::string> log;  // "open PATH", "close", "write N"
    std::vector<std::uint8_t> wire;
    LineSettings openedWith;
    std::size_t queued = 0;
    bool open_ = false;

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
    }
    bool isOpen() const override { return open_; }
    std::size_t bytesQueued() const override { return queued; }
    Status write(std::span<const std::uint8_t> bytes) override
    {
        wire.insert(wire.end(), bytes.begin(), bytes.end());
        queued += bytes.size();
        return Status::success();
    }
};

struct MemoryStore : SettingsStore {
    std::map<std::string, std::string> values; // "Section/Key" -> text
    std::vector<std::string> writes;
    bool writable = true;

    std::optional<std::string> read(std::string_view section, std::string_view key) const override
    {
        const auto it = values.find(std::string(section) + "/" + std::string(key));
        if (it == values.end())
            return std::nullopt;
        return it->second;
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

} // namespace torvak::test
