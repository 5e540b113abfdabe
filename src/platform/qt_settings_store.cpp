// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_settings_store.h"

#include "core/report.h"
#include "settings/settings_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace torvak {

namespace {

// The file as it is now; a missing file reads as empty.
std::optional<SettingsText> load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? std::nullopt : std::optional(SettingsText(""));
    const QByteArray bytes = file.readAll();
    return SettingsText(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

} // namespace

QtSettingsStore::QtSettingsStore()
    : QtSettingsStore(defaultPath())
{
}

QtSettingsStore::QtSettingsStore(const QString& path)
    : path_(path)
{
    const std::optional<SettingsText> text = load(path_);
    if (!text) {
        report("cannot read the settings file " + path.toStdString() + ": using the defaults");
        return;
    }
    // Each line that cannot be read is skipped, once said; the rest is read.
    for (const std::string& line : text->damage()) {
        damage_.push_back("the settings file " + path.toStdString() + ", " + line + "; it is skipped");
        report(damage_.back());
    }
}

QString QtSettingsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/VARN.conf");
}

std::optional<std::string> QtSettingsStore::read(std::string_view section, std::string_view key) const
{
    const std::optional<SettingsText> text = load(path_);
    return text ? text->value(section, key) : std::nullopt;
}

Status QtSettingsStore::write(std::string_view section, std::string_view key, std::string_view value)
{
    // Only the key's own line changes: a line that could not be read, and
    // every other section and key, are written back as they stand.
    std::optional<SettingsText> text = load(path_);
    if (!text)
        return Status::failure("cannot write the settings file " + path_.toStdString());
    text->setValue(section, key, value);
    const std::string bytes = text->text();
    QDir().mkpath(QFileInfo(path_).absolutePath()); // a new account may have no ~/.config yet
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())
        || !file.commit())
        return Status::failure("cannot write the settings file " + path_.toStdString());
    return Status::success();
}

} // namespace torvak
