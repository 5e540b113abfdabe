// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

namespace torvak {

// SIGTERM, SIGINT and SIGHUP (logout, Ctrl-C, a closed terminal) arrive as a
// signal on the user-interface thread, so the program can shut down the way
// closing the window does. SIGPIPE is ignored: a reader of stderr that went
// away never ends the program.
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

signals:
    void received(int signalNumber);

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace torvak
