// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/settings_store.h"

#include <QString>

namespace torvak {

// The options file, $XDG_CONFIG_HOME/VARN.conf, with [Com], [Win] and [Devices].
class QtSettingsStore : public SettingsStore {
public:
    // The user's own file.
    QtSettingsStore();
    explicit QtSettingsStore(const QString& path);

    static QString defaultPath();
    QString path() const { return path_; }

    std::optional<std::string> read(std::string_view section, std::string_view key) const override;
    Status write(std::string_view section, std::string_view key, std::string_view text) override;

private:
    QString path_;
};

} // namespace torvak
