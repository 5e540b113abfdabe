// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/status.h"
#include "settings_store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvak::options {

inline constexpr std::string_view kComSection = "Com";
inline constexpr std::string_view kWinSection = "Win";
inline constexpr std::string_view kSafetySection = "Safety";
inline constexpr std::string_view kRigctlSection = "Rigctl";

inline constexpr std::string_view kComPortKey = "ComPort";
inline constexpr std::string_view kSettingsKey = "Settings";
inline constexpr std::string_view kMinKey = "Min";
inline constexpr std::string_view kTopKey = "Top";
inline constexpr std::string_view kTransmitLimitKey = "TransmitLimit";
inline constexpr std::string_view kPortKey = "Port";
inline constexpr std::string_view kAnyLocalUserKey = "AnyLocalUser";

inline constexpr std::string_view kDefaultComPort = "1";
inline constexpr std::string_view kDefaultSettings = "9600,n,8,1";
inline constexpr std::string_view kDefaultOff = "0";
inline constexpr int kLongestTransmitLimit = 3600;

// Conversions the readers apply to stored text.
// Decimal text to a number: blanks around it, a sign, a fraction and an
// exponent are fine; anything else does not convert.
Checked<double> toNumber(std::string_view text);
// A number to a 16-bit integer, rounding halves to the even neighbour.
Checked<std::int16_t> toInt16(double value);
Checked<std::int16_t> toInt16(std::string_view text);
// Shortest decimal text of a number, as every number is stored.
std::string toText(std::int16_t value);

// The stored text, or the default when the key is absent.
std::string read(const SettingsStore& store, std::string_view section, std::string_view key,
                 std::string_view defaultText);

// "Com"/"ComPort" read for the port list: stored number minus one, as a list position.
Checked<std::int16_t> comPortListPosition(const SettingsStore& store);
// "Com"/"ComPort" read for the port itself.
Checked<std::int16_t> comPort(const SettingsStore& store);
// "Com"/"Settings", used as text.
std::string lineSettings(const SettingsStore& store);
// "Win"/"Min" and "Win"/"Top": check box states.
Checked<std::int16_t> runMinimized(const SettingsStore& store);
Checked<std::int16_t> topMost(const SettingsStore& store);
// "Safety"/"TransmitLimit": seconds a transmit may last, 1 to 3600; absent or
// 0 is no limit. Anything else is refused, and the value is then 3600.
Checked<int> transmitLimit(const SettingsStore& store);
// [Rigctl] Port: where Hamlib's NET rigctl clients connect; 0 (or no key): nowhere.
Checked<int> rigctlPort(const SettingsStore& store);
// [Rigctl] AnyLocalUser=1: let in clients whose owner the kernel cannot name.
bool rigctlAnyLocalUser(const SettingsStore& store);
// The same rule for --rigctl-port.
Checked<int> rigctlPortFrom(std::string_view text);

Status storeComPort(SettingsStore& store, std::int16_t port);
Status storeLineSettings(SettingsStore& store, std::string_view text);
Status storeRunMinimized(SettingsStore& store, std::int16_t state);
Status storeTopMost(SettingsStore& store, std::int16_t state);

} // namespace torvak::options
