// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/status.h"
#include "settings/settings_store.h"

#include <string>

namespace torvak {

// The device a port number opens: [Devices] COM<n> when the operator mapped
// it, else the n-th built-in serial port (/dev/ttyS<n-1>). Every path to the
// radio's device comes from here. An empty mapping maps nothing, and a
// relative one is refused: neither may reach the device or its watcher.
Checked<std::string> deviceFor(const SettingsStore& store, int portNumber);

} // namespace torvak
