// SPDX-License-Identifier: GPL-3.0-or-later
#include "message_box.h"

#include "core/report.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdlib>
#include <string>

namespace torvak {

void QtMessageBox::show(std::string_view prompt)
{
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                    QString::fromUtf8(prompt.data(), static_cast<qsizetype>(prompt.size())),
                    QMessageBox::Ok, parent_);
    box.exec();
}

void StderrMessageBox::show(std::string_view prompt)
{
    report(prompt);
}

std::unique_ptr<MessageBox> makeMessageBox()
{
    const QString platform = QGuiApplication::platformName();
    const char* noDialogs = std::getenv("TORVAK_PTT_NO_DIALOGS");
    if ((noDialogs && *noDialogs && std::string_view(noDialogs) != "0")
        || platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return std::make_unique<StderrMessageBox>();
    return std::make_unique<QtMessageBox>();
}

} // namespace torvak
