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

void DeviceWatcher::watch(const std::string& devicePath)
{
    stop();
    const QString path = QString::fromStdString(devicePath);
    if (!QDir::isAbsolutePath(path))
        return;
    device_ = path;
    // Up to the nearest folder that exists; the root always does.
    QString folder = QFileInfo(path).absolutePath();
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            return;
        folder = parent;
    }
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
        if (appeared)
            appeared();
        return;
    }
    // A folder on the way may have appeared or gone: watch the nearest again.
    watch(device.toStdString());
}

} // namespace torvak
