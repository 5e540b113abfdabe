// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/message_box.h"
#include "core/resume_next.h"
#include "radio_link.h"
#include "settings/settings_store.h"

#include <string_view>

namespace torvak {

inline constexpr std::string_view kComPortError = "Com port error";
inline constexpr std::string_view kInvalidSettings = "Invalid comport settings";

// What the options panel reconfigures: the port, the store it saves to and
// where it tells the operator that something went wrong.
struct PortPanel {
    RadioLink& port;
    SettingsStore& store;
    MessageBox& messages;
};

// Each sequence returns what failed on the way, for the log.

// The operator chose an entry of the port list (position counts from 0).
ResumeNext choosePort(PortPanel& panel, int listPosition);
// The operator changed the settings box (every keystroke and paste).
ResumeNext editSettings(PortPanel& panel, std::string_view text);
// The settings box lost the focus.
ResumeNext leaveSettingsBox(PortPanel& panel);

} // namespace torvak
