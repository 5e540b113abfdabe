// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvak {

// The settings file's text, in the INI syntax Qt's QSettings reads and writes:
// "[Section]" headers, "key=value" lines, values quoted where they hold a
// comma, a semicolon or an equals sign. A line that cannot be read is skipped
// and said, and never costs another line: every section and key around it is
// read, and a write changes the one line of its key and nothing else.
class SettingsText {
public:
    explicit SettingsText(std::string_view text);

    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    void setValue(std::string_view section, std::string_view key, std::string_view value);
    std::string text() const;

    // Each line that could not be read: "line N: ...".
    const std::vector<std::string>& damage() const { return damage_; }

private:
    struct Line {
        std::string text;
        std::string section; // the section it stands in
        std::string key; // empty: no key line (a header, a comment, a damaged line)
        std::string value;
    };
    std::vector<Line> lines_;
    std::vector<std::string> damage_;
    bool endsWithNewline_ = true;
};

} // namespace torvak
