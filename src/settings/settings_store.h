// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/status.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvak {

// The per-user store of text values under "VARN", by section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored text, or nothing when the key is absent.
    virtual std::optional<std::string> read(std::string_view section, std::string_view key) const = 0;
    // Stores the text; a store that cannot be written is a failure, never a silent loss.
    virtual Status write(std::string_view section, std::string_view key, std::string_view text) = 0;
    // The lines that could not be read (each skipped), for the operator.
    virtual std::vector<std::string> damage() const { return {}; }
};

} // namespace torvak
