// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_text.h"

#include "core/text.h"

#include <cctype>
#include <utility>

namespace torvak {

namespace {

// A value as Qt reads it: quotes group, backslash escapes, and a comma
// outside quotes parts a list (which is read back joined, as one text).
// Nothing: an unterminated quote or escape.
std::optional<std::string> unescaped(std::string_view raw)
{
    std::string out;
    bool quoted = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == raw.size())
            return std::nullopt;
        switch (raw[i]) {
        case 'a': out += '\a'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'v': out += '\v'; break;
        case 'x': {
            std::size_t n = 0;
            unsigned code = 0;
            while (n < 4 && i + 1 < raw.size() && std::isxdigit(static_cast<unsigned char>(raw[i + 1]))) {
                code = code * 16 + static_cast<unsigned>(std::stoi(std::string(1, raw[++i]), nullptr, 16));
                ++n;
            }
            // A character by its code, as UTF-8.
            if (code < 0x80) {
                out += static_cast<char>(code);
            } else if (code < 0x800) {
                out += static_cast<char>(0xC0 | (code >> 6));
                out += static_cast<char>(0x80 | (code & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | (code >> 12));
                out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (code & 0x3F));
            }
            break;
        }
        case '0': out += '\0'; break;
        default: out += raw[i]; break; // \" \\ \; \, \= and the rest stand for themselves
        }
    }
    if (quoted)
        return std::nullopt;
    // Qt's mark of a value that is not text, escaped when text begins with it.
    if (out.starts_with("@@"))
        out.erase(0, 1);
    return out;
}

std::string escaped(std::string_view value)
{
    std::string out = value.starts_with('@') ? "@" : "";
    bool quote = !value.empty() && (value.front() == ' ' || value.back() == ' ');
    bool coded = false; // a code just written: a hex digit after it is coded too, as Qt does
    for (const char c : value) {
        quote = quote || c == ';' || c == ',' || c == '=';
        if ((std::exchange(coded, false) && std::isxdigit(static_cast<unsigned char>(c)))
            || (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\r' && c != '\t')) {
            static constexpr char hex[] = "0123456789abcdef";
            out += {'\\', 'x', hex[(c >> 4) & 0xF], hex[c & 0xF]};
            coded = true;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return quote ? '"' + out + '"' : out;
}

} // namespace

SettingsText::SettingsText(std::string_view text)
{
    endsWithNewline_ = text.empty() || text.back() == '\n';
    std::string section;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        Line line{std::string(text.substr(0, end)), section, {}, {}};
        text.remove_prefix(std::min(end + 1, text.size()));
        ++number;
        std::string_view body = trimmed(line.text);
        if (!body.empty() && body.back() == '\r')
            body = trimmed(body.substr(0, body.size() - 1));
        const auto damaged = [&](const std::string& why) {
            damage_.push_back("line " + std::to_string(number) + " (" + std::string(body) + "): " + why);
        };
        if (body.empty() || body.front() == ';' || body.front() == '#') {
        } else if (body.front() == '[') {
            if (body.back() == ']')
                section = line.section = std::string(trimmed(body.substr(1, body.size() - 2)));
            else
                damaged("a section header without its ']'");
        } else if (const std::size_t eq = body.find('='); eq == std::string_view::npos || eq == 0) {
            damaged(eq == 0 ? "a value without a key" : "neither a section nor key=value");
        } else if (const std::optional<std::string> value = unescaped(trimmed(body.substr(eq + 1)))) {
            line.key = std::string(trimmed(body.substr(0, eq)));
            line.value = *value;
        } else {
            damaged("a quote or an escape that does not end");
        }
        lines_.push_back(std::move(line));
    }
}

std::optional<std::string> SettingsText::value(std::string_view section, std::string_view key) const
{
    // The last line of the key counts, as with Qt.
    for (auto it = lines_.rbegin(); it != lines_.rend(); ++it)
        if (it->section == section && it->key == key)
            return it->value;
    return std::nullopt;
}

void SettingsText::setValue(std::string_view section, std::string_view key, std::string_view value)
{
    Line line{std::string(key) + "=" + escaped(value), std::string(section), std::string(key), std::string(value)};
    // The key's own line (its last, the one that is read), or after the last
    // line that stands in its section.
    std::optional<std::size_t> own, last;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].section != section)
            continue;
        if (lines_[i].key == key)
            own = i;
        if (!trimmed(lines_[i].text).empty())
            last = i;
    }
    if (own) {
        lines_[*own] = std::move(line);
        return;
    }
    if (last) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*last + 1), std::move(line));
        return;
    }
    if (!lines_.empty() && !trimmed(lines_.back().text).empty())
        lines_.push_back({});
    lines_.push_back({"[" + std::string(section) + "]", std::string(section), {}, {}});
    lines_.push_back(std::move(line));
    endsWithNewline_ = true;
}

std::string SettingsText::text() const
{
    std::string out;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        out += lines_[i].text + (i + 1 < lines_.size() || endsWithNewline_ ? "\n" : "");
    return out;
}

} // namespace torvak
