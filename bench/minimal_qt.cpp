// SPDX-License-Identifier: GPL-3.0-or-later
// The yardstick for bench-startup: the smallest Qt Widgets program with a
// window; with --text it shows one caption too, and so pays for the fonts.
#include <QApplication>
#include <QPushButton>
#include <QWidget>

#include <cstring>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.resize(79, 107);
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0)
        (new QPushButton(QStringLiteral("&More>>"), &window))->setGeometry(7, 72, 65, 25);
    window.show();
    return QApplication::exec();
}
