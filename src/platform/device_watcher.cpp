// SPDX-License-Identifier: GPL-3.0-or-later
#include "device_watcher.h"

#include <QDir>
#include <QFileInfo>

namespace torvak {

DeviceWatcher::DeviceWatcher(QObject* parent)
    : QObject(parent)
{
    connect(&folders_, &QFileSystemWatcher::directoryChanged, this, &DeviceWatcher::folderChanged);
}

void DeviceWatcher::watch(const QString& devicePath)
{
    stop();
    device_ = devicePath;
    QString folder = QFileInfo(devicePath).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != QDir::rootPath())
        folder = QFileInfo(folder).absolutePath();
    folders_.addPath(folder);
}

void DeviceWatcher::stop()
{
    if (const QStringList watched = folders_.directories(); !watched.isEmpty())
        folders_.removePaths(watched);
    device_.clear();
}

void DeviceWatcher::folderChanged()
{
    if (device_.isEmpty())
        return;
    const QString device = device_;
    if (QFileInfo::exists(device)) {
        emit appeared();
        return;
    }
    // A folder on the way may have appeared or gone: watch the nearest again.
    watch(device);
}

} // namespace torvak
