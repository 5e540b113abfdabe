// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/settings_store.h"

#include <QString>

#include <vector>

namespace torvak {

// The options file, $XDG_CONFIG_HOME/VARN.conf, with [Com], [Win], [Devices],
// [Safety] and [Rigctl], read and written as SettingsText: the syntax Qt's
// QSettings uses, without losing what follows a damaged line.
class QtSettingsStore : public SettingsStore {
public:
    // The user's own file.
    QtSettingsStore();
    explicit QtSettingsStore(const QString& path);

    static QString defaultPath();
    QString path() const { return path_; }

    std::optional<std::string> read(std::string_view section, std::string_view key) const override;
    Status write(std::string_view section, std::string_view key, std::string_view text) override;
    std::vector<std::string> damage() const override { return damage_; }

private:
    QString path_;
    std::vector<std::string> damage_;
};

} // namespace torvak
