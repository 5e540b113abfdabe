// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include "core/text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace torvak::options {

namespace {

// Only plain decimal notation: no hex, no "inf", no "nan", no thousands marks.
bool isDecimalNotation(std::string_view t)
{
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
        ++i;
        ++digits;
    }
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-'))
            ++i;
        std::size_t expDigits = 0;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    return i == t.size();
}

Checked<std::int16_t> readInt16(const SettingsStore& store, std::string_view section,
                                std::string_view key, std::string_view defaultText)
{
    return toInt16(read(store, section, key, defaultText));
}

} // namespace

Checked<double> toNumber(std::string_view text)
{
    const std::string_view t = trimmed(text);
    if (!isDecimalNotation(t))
        return Checked<double>::failed("not a number: \"" + std::string(text) + "\"");
    double value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(),
                                           value, std::chars_format::general);
    // from_chars does not take a leading '+'.
    if (ec == std::errc::invalid_argument && t.front() == '+')
        return toNumber(t.substr(1));
    if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(value))
        return Checked<double>::failed("number out of range: \"" + std::string(text) + "\"");
    return Checked<double>::of(value);
}

Checked<std::int16_t> toInt16(double value)
{
    if (!std::isfinite(value))
        return Checked<std::int16_t>::failed("number out of range");
    // nearbyint rounds halves to even in the default rounding mode.
    const double rounded = std::nearbyint(value);
    if (rounded < std::numeric_limits<std::int16_t>::min()
        || rounded > std::numeric_limits<std::int16_t>::max())
        return Checked<std::int16_t>::failed("number out of range");
    return Checked<std::int16_t>::of(static_cast<std::int16_t>(rounded));
}

Checked<std::int16_t> toInt16(std::string_view text)
{
    const Checked<double> number = toNumber(text);
    if (!number.status)
        return Checked<std::int16_t>{number.status, 0};
    return toInt16(number.value);
}

std::string toText(std::int16_t value) { return std::to_string(value); }

std::string read(const SettingsStore& store, std::string_view section, std::string_view key,
                 std::string_view defaultText)
{
    if (auto stored = store.read(section, key))
        return *stored;
    return std::string(defaultText);
}

Checked<std::int16_t> comPortListPosition(const SettingsStore& store)
{
    const Checked<double> number = toNumber(read(store, kComSection, kComPortKey, kDefaultComPort));
    if (!number.status)
        return Checked<std::int16_t>{number.status, 0};
    return toInt16(number.value - 1);
}

Checked<std::int16_t> comPort(const SettingsStore& store)
{
    return readInt16(store, kComSection, kComPortKey, kDefaultComPort);
}

std::string lineSettings(const SettingsStore& store)
{
    return read(store, kComSection, kSettingsKey, kDefaultSettings);
}

Checked<std::int16_t> runMinimized(const SettingsStore& store)
{
    return readInt16(store, kWinSection, kMinKey, kDefaultOff);
}

Checked<std::int16_t> topMost(const SettingsStore& store)
{
    return readInt16(store, kWinSection, kTopKey, kDefaultOff);
}

Checked<int> transmitLimit(const SettingsStore& store)
{
    // Off when absent or 0. A value the program cannot take is never "no
    // limit": the longest limit applies while it stands.
    const std::optional<std::string> text = store.read(kSafetySection, kTransmitLimitKey);
    const std::optional<long long> seconds = text ? wholeNumber(trimmed(*text)) : 0;
    if (!seconds || *seconds < 0 || *seconds > kLongestTransmitLimit)
        return {Status::failure("[Safety] TransmitLimit=" + *text + " is not a whole number of seconds from 1 to "
                                + std::to_string(kLongestTransmitLimit) + ": transmits are released after "
                                + std::to_string(kLongestTransmitLimit) + " s"),
                kLongestTransmitLimit};
    return Checked<int>::of(static_cast<int>(*seconds));
}

Checked<int> rigctlPortFrom(std::string_view text)
{
    const std::optional<long long> port = wholeNumber(trimmed(text));
    if (!port || (*port != 0 && (*port < 1024 || *port > 65535)))
        return Checked<int>::failed(std::string(text) + " is not a TCP port from 1024 to 65535 (or 0 for none)");
    return Checked<int>::of(static_cast<int>(*port));
}

Checked<int> rigctlPort(const SettingsStore& store)
{
    const Checked<int> port = rigctlPortFrom(read(store, kRigctlSection, kPortKey, kDefaultOff));
    if (!port.status)
        return Checked<int>::failed("[Rigctl] Port=" + port.status.reason());
    return port;
}

bool rigctlAnyLocalUser(const SettingsStore& store)
{
    return trimmed(read(store, kRigctlSection, kAnyLocalUserKey, kDefaultOff)) == "1";
}

Status storeComPort(SettingsStore& store, std::int16_t port)
{
    return store.write(kComSection, kComPortKey, toText(port));
}

Status storeLineSettings(SettingsStore& store, std::string_view text)
{
    return store.write(kComSection, kSettingsKey, text);
}

Status storeRunMinimized(SettingsStore& store, std::int16_t state)
{
    return store.write(kWinSection, kMinKey, toText(state));
}

Status storeTopMost(SettingsStore& store, std::int16_t state)
{
    return store.write(kWinSection, kTopKey, toText(state));
}

} // namespace torvak::options
