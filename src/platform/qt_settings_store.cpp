// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_settings_store.h"

#include "core/report.h"

#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace torvak {

namespace {

QString keyOf(std::string_view section, std::string_view key)
{
    return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + u'/'
        + QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

} // namespace

QtSettingsStore::QtSettingsStore()
    : QtSettingsStore(defaultPath())
{
}

QtSettingsStore::QtSettingsStore(const QString& path)
    : path_(path)
{
    const QSettings settings(path_, QSettings::IniFormat);
    if (settings.status() == QSettings::AccessError)
        report("cannot read the settings file " + path.toStdString() + ": using the defaults");
    else if (settings.status() == QSettings::FormatError)
        report("the settings file " + path.toStdString() + " is damaged: reading what can be read");
}

QString QtSettingsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/VARN.conf");
}

std::optional<std::string> QtSettingsStore::read(std::string_view section, std::string_view key) const
{
    const QVariant value = QSettings(path_, QSettings::IniFormat).value(keyOf(section, key));
    if (!value.isValid())
        return std::nullopt;
    // A hand-edited "Settings=9600,n,8,1" comes back as a list: it is one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',').toStdString();
    return value.toString().toStdString();
}

Status QtSettingsStore::write(std::string_view section, std::string_view key, std::string_view text)
{
    // A QSettings of its own for each write: its status is the first error it
    // met, so a long-lived one would report a damaged file, or one failed write,
    // for ever after. A damaged file is rewritten with what could be read.
    QSettings settings(path_, QSettings::IniFormat);
    settings.setValue(keyOf(section, key), QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    settings.sync();
    if (settings.status() == QSettings::AccessError)
        return Status::failure("cannot write the settings file " + path_.toStdString());
    return Status::success();
}

} // namespace torvak
