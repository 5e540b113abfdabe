// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "port/device_watch.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

#include <functional>

namespace torvak {

// Says when a device shows up at its path, by watching the folder it lives in
// (or the nearest one that exists, as /dev/serial/by-id goes away with the
// last adapter). The kernel tells of changes: nothing wakes the program while
// the folder stays as it is.
class DeviceWatcher : public QObject, public DeviceWatch {
    Q_OBJECT
public:
    explicit DeviceWatcher(QObject* parent = nullptr);

    // An absolute path; anything else is not watched.
    void watch(const std::string& devicePath) override;
    void stop() override;

    // For tests: runs just before the watch is armed, when only the first
    // look can see what changes.
    std::function<void()> arming;

private:
    void folderChanged();
    QString nearestFolder() const;

    QFileSystemWatcher folders_;
    QString device_;
};

} // namespace torvak
