// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/report.h"
#include "platform/host_link.h"
#include "platform/message_box.h"
#include "platform/qt_settings_store.h"
#include "platform/shutdown_signals.h"
#include "ui/form1.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

namespace {

// --help and --version are answered before anything opens: no window, no
// radio port, no socket. Qt's own options (-platform and the like) are left
// to QApplication.
bool answeredCommandLine(int argc, char* argv[])
{
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
    parser.addOptions({help, version});
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    parser.parse(arguments);
    if (parser.isSet(help))
        std::fputs("usage: torvak-ptt [--help | --version]\n"
                   "Keys a TenTec transceiver between receive and transmit for a host program.\n"
                   "Host programs send commands over $XDG_RUNTIME_DIR/TORVAKFUNC, or with torvakfunc(1);\n"
                   "see torvak-ptt(1).\n",
                   stdout);
    else if (parser.isSet(version))
        std::printf("torvak-ptt %s\n", TORVAK_VERSION);
    else
        return false;
    return true;
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
    if (answeredCommandLine(argc, argv))
        return 0;
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

    if (form.load() == torvak::Form1::Start::AlreadyRunning) {
        messages->show("torvak-ptt is already running.");
        return 1;
    }
    form.show();
    return QApplication::exec();
}
