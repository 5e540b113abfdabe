#include "qt_settings_store.h"

#include <QStandardPaths>
#include <QStringList>

#include <iostream>

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
    : settings_(path, QSettings::IniFormat)
{
    if (settings_.status() == QSettings::AccessError)
        std::cerr << "torvak-ptt: cannot read the settings file " << path.toStdString()
                  << ": using the defaults\n";
    else if (settings_.status() == QSettings::FormatError)
        std::cerr << "torvak-ptt: the settings file " << path.toStdString()
                  << " is damaged: reading what can be read\n";
}

QString QtSettingsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/VARN.conf");
}

std::optional<std::string> QtSettingsStore::read(std::string_view section, std::string_view key) const
{
    const QVariant value = settings_.value(keyOf(section, key));
    if (!value.isValid())
        return std::nullopt;
    // A hand-edited "Settings=9600,n,8,1" comes back as a list: it is one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',').toStdString();
    return value.toString().toStdString();
}

Status QtSettingsStore::write(std::string_view section, std::string_view key, std::string_view text)
{
    settings_.setValue(keyOf(section, key), QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    settings_.sync();
    if (settings_.status() != QSettings::NoError)
        return Status::failure("cannot write the settings file " + settings_.fileName().toStdString());
    return Status::success();
}

} // namespace torvak
