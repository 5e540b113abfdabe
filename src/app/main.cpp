// SPDX-License-Identifier: GPL-3.0-or-later
#include "check.h"
#include "core/report.h"
#include "platform/host_link.h"
#include "platform/message_box.h"
#include "platform/qt_settings_store.h"
#include "platform/shutdown_signals.h"
#include "settings/options.h"
#include "ui/form1.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>

namespace {

const char kUsage[] = "usage: torvak-ptt [--help | --version | --check] [--rigctl-port PORT]\n"
                      "                  [Qt options such as -platform NAME or -style NAME]\n";

// Qt's own options, which QApplication takes; those in the first list take a value.
const QStringList kQtOptionsWithValue{"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                      "qwindowicon", "qwindowtitle", "session", "style", "stylesheet", "display",
                                      "geometry", "title", "name", "qmljsdebugger", "visual", "ncols", "cmap"};
const QStringList kQtFlags{"reverse", "widgetcount", "nograb", "dograb", "sync"};

enum class CommandLine { Run, Check, Answered, Refused };

// --help and --version are answered, and anything else but Qt's own options
// refused, before anything opens: no window, no radio port, no socket.
CommandLine readCommandLine(int argc, char* argv[], int& rigctlPort)
{
    CommandLine line = CommandLine::Run;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"-h" || arg == u"--help") {
            std::fputs(kUsage, stdout);
            std::fputs("Keys a TenTec transceiver between receive and transmit for a host program.\n"
                       "Host programs send commands over $XDG_RUNTIME_DIR/TORVAKFUNC, or with torvakfunc(1);\n"
                       "Hamlib programs (rig model 2) connect to --rigctl-port on 127.0.0.1.\n"
                       "\n"
                       "  --check             with torvak-ptt closed: ask the radio its frequency on the\n"
                       "                      configured port and say what was found\n"
                       "  --rigctl-port PORT  listen for Hamlib clients on PORT this time (0: not at all)\n"
                       "\n"
                       "Settings: $XDG_CONFIG_HOME/VARN.conf (usually ~/.config/VARN.conf):\n"
                       "  [Devices] COM1=/dev/ttyUSB0       the device each port number opens\n"
                       "  [Rigctl]  Port=4532               where Hamlib clients connect\n"
                       "  [Safety]  TransmitLimit=120       release a transmit held this many seconds\n"
                       "See torvak-ptt(1).\n",
                       stdout);
            return CommandLine::Answered;
        }
        if (arg == u"-v" || arg == u"--version") {
            std::printf("torvak-ptt %s\n", TORVAK_VERSION);
            return CommandLine::Answered;
        }
        if (arg == u"--check") {
            line = CommandLine::Check;
            continue;
        }
        if (arg == u"--rigctl-port" || arg.startsWith(u"--rigctl-port=")) {
            const bool joined = arg.contains(u'=');
            if (!joined && i + 1 >= argc) {
                torvak::report("--rigctl-port needs a port number");
                std::fputs(kUsage, stderr);
                return CommandLine::Refused;
            }
            const QString value = joined ? arg.section(u'=', 1) : QString::fromLocal8Bit(argv[++i]);
            const torvak::Checked<int> port = torvak::options::rigctlPortFrom(value.toStdString());
            if (!port.status) {
                torvak::report("--rigctl-port: " + port.status.reason());
                return CommandLine::Refused;
            }
            rigctlPort = port.value;
            continue;
        }
        QString name = arg.startsWith(u"--") ? arg.mid(2) : arg.startsWith(u'-') ? arg.mid(1) : QString();
        const bool valueGiven = name.contains(u'=');
        name = name.section(u'=', 0, 0);
        if (kQtFlags.contains(name) && !valueGiven)
            continue;
        if (kQtOptionsWithValue.contains(name) && (valueGiven || ++i < argc))
            continue;
        torvak::report(name.isEmpty() ? "unexpected argument: " + arg.toStdString()
                                      : "unknown option: " + arg.toStdString());
        std::fputs(kUsage, stderr);
        return CommandLine::Refused;
    }
    return line;
}

bool hasDisplay(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "-platform") == 0)
            return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("torvak-ptt"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TORVAK_VERSION));
    int rigctlPort = -1; // as the settings file says
    const CommandLine line = readCommandLine(argc, argv, rigctlPort);
    if (line == CommandLine::Answered || line == CommandLine::Refused)
        return line == CommandLine::Answered ? 0 : 2;
    if (line == CommandLine::Check) { // no window, no socket
        QCoreApplication app(argc, argv);
        return torvak::checkRadio();
    }
    if (!hasDisplay(argc, argv)) {
        torvak::report("no display: neither DISPLAY nor WAYLAND_DISPLAY is set "
                       "(QT_QPA_PLATFORM=offscreen runs it without a window)");
        return 1;
    }
    // Only X11 lets a window ask to stay on top: under Wayland, prefer
    // XWayland where there is one, so that Top keeps working.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");

    QApplication app(argc, argv);
    // Docks group the window with its desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.torvak.TorvakPtt"));

    // A logout, Ctrl-C or a closed terminal closes the window like its own
    // close button: queued frames reach the radio, the socket goes away.
    torvak::ShutdownSignals shutdown;

    torvak::QtSettingsStore store;
    const auto messages = torvak::makeMessageBox();
    torvak::HostLink link;
    torvak::Form1 form(store, *messages, link);
    if (auto* box = dynamic_cast<torvak::QtMessageBox*>(messages.get()))
        box->setParent(&form);
    QObject::connect(&shutdown, &torvak::ShutdownSignals::received, &form, &QWidget::close);

    form.setRigctlPort(rigctlPort);
    if (form.load() == torvak::Form1::Start::AlreadyRunning) {
        // This window is never shown: the box stands on its own, in the middle of the screen.
        if (auto* box = dynamic_cast<torvak::QtMessageBox*>(messages.get()))
            box->setParent(nullptr);
        messages->show("torvak-ptt is already running.");
        return 1;
    }
    form.show();
    return QApplication::exec();
}
