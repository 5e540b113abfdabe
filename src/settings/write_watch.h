// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings_store.h"

#include <functional>
#include <optional>
#include <utility>

namespace torvak {

// The store as the window writes it: tells when writing starts or stops
// failing, once per change, not once per write.
class WriteWatch : public SettingsStore {
public:
    WriteWatch(SettingsStore& store, std::function<void(const Status&)> changed)
        : store_(store)
        , changed_(std::move(changed))
    {
    }

    std::optional<std::string> read(std::string_view section, std::string_view key) const override
    {
        return store_.read(section, key);
    }
    std::vector<std::string> damage() const override { return store_.damage(); }
    Status write(std::string_view section, std::string_view key, std::string_view text) override
    {
        Status written = store_.write(section, key, text);
        if (written.ok() != saved_) {
            saved_ = written.ok();
            changed_(written);
        }
        return written;
    }

private:
    SettingsStore& store_;
    std::function<void(const Status&)> changed_;
    bool saved_ = true;
};

} // namespace torvak
