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
    const QString path = QString::fromStdString(devicePath);
    if (!QDir::isAbsolutePath(path)) {
        stop();
        return;
    }
    device_ = path;
    // The folder stays watched while it is the nearest: no moment in which a
    // link renamed into place (as udev makes /dev/serial/by-id) goes unseen.
    const QString folder = nearestFolder();
    const QStringList watched = folders_.directories();
    if (watched == QStringList{folder})
        return;
    if (arming)
        arming();
    folders_.addPath(folder);
    for (const QString& old : watched)
        if (old != folder)
            folders_.removePath(old);
    // What changed before the watch was armed is seen by looking once, on the
    // next turn: whoever asked for the watch is not in the middle of it then.
    QMetaObject::invokeMethod(this, &DeviceWatcher::folderChanged, Qt::QueuedConnection);
}

QString DeviceWatcher::nearestFolder() const
{
    // Up to the nearest folder that exists; the root always does.
    QString folder = QFileInfo(device_).absolutePath();
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            break;
        folder = parent;
    }
    return folder;
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
    if (QFileInfo::exists(device_)) {
        if (appeared)
            appeared();
        return;
    }
    // A folder on the way may have appeared or gone: watch the nearest again.
    watch(device_.toStdString());
}

} // namespace torvak
