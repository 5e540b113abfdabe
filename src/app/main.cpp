#include "platform/host_link.h"
#include "platform/message_box.h"
#include "platform/qt_settings_store.h"
#include "ui/form1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("torvak-ptt"));

    torvak::QtSettingsStore store;
    const auto messages = torvak::makeMessageBox();
    torvak::HostLink link;
    torvak::Form1 form(store, *messages);
    if (auto* box = dynamic_cast<torvak::QtMessageBox*>(messages.get()))
        box->setParent(&form);

    if (form.load(link) == torvak::Form1::Start::AlreadyRunning) {
        messages->show("torvak-ptt is already running.");
        return 1;
    }
    form.show();
    return QApplication::exec();
}
