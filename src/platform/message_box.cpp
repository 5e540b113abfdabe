// SPDX-License-Identifier: GPL-3.0-or-later
#include "message_box.h"

#include "core/report.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>
#include <QTimer>

#include <cstdlib>
#include <string>

namespace torvak {

void QtMessageBox::show(std::string_view prompt, std::string_view why)
{
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                    QString::fromUtf8(prompt.data(), static_cast<qsizetype>(prompt.size())),
                    QMessageBox::Ok, parent_);
    // The box says why, not only what; the reason stays on the lamp too.
    box.setInformativeText(QString::fromUtf8(why.data(), static_cast<qsizetype>(why.size())));
    // Wide enough for its title beside the window manager's buttons.
    const int titleWidth = box.fontMetrics().horizontalAdvance(box.windowTitle()) + 160;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    // Over the window it belongs to (Qt centres it on its parent); one with
    // none opens in the middle of the screen, not in its corner.
    // The window manager places a box it is shown first; it is moved once up.
    if (!parent_)
        QTimer::singleShot(0, &box, [&box] {
            if (const QScreen* screen = box.screen())
                box.move(screen->availableGeometry().center() - box.frameGeometry().center() + box.pos());
        });
    box.exec();
}

void StderrMessageBox::show(std::string_view prompt, std::string_view why)
{
    report(why.empty() ? std::string(prompt) : std::string(prompt) + " " + std::string(why));
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
