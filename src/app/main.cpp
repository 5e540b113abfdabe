#include "platform/host_link.h"
#include "platform/message_box.h"
#include "platform/qt_settings_store.h"
#include "platform/shutdown_signals.h"
#include "ui/form1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("torvak-ptt"));

    // A logout, Ctrl-C or a closed terminal closes the window like its own
    // close button: queued frames reach the radio, the socket goes away.
    torvak::ShutdownSignals shutdown;

    torvak::QtSettingsStore store;
    const auto messages = torvak::makeMessageBox();
    torvak::HostLink link;
    torvak::Form1 form(store, *messages);
    if (auto* box = dynamic_cast<torvak::QtMessageBox*>(messages.get()))
        box->setParent(&form);
    QObject::connect(&shutdown, &torvak::ShutdownSignals::received, &form, &QWidget::close);

    if (form.load(link) == torvak::Form1::Start::AlreadyRunning) {
        messages->show("torvak-ptt is already running.");
        return 1;
    }
    form.show();
    return QApplication::exec();
}
