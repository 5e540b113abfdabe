// SPDX-License-Identifier: GPL-3.0-or-later
#include "lamp.h"

#include <QMouseEvent>
#include <QPainter>

namespace torvak {

Lamp::Lamp(QWidget* parent)
    : QWidget(parent)
{
}

void Lamp::setFillColour(Rgb colour)
{
    if (colour == colour_)
        return;
    colour_ = colour;
    update();
}

void Lamp::setFault(bool fault)
{
    if (fault == fault_)
        return;
    fault_ = fault;
    update();
}

void Lamp::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A circle as wide as the shorter side, centred in the shape's box.
    const qreal side = qMin(width(), height()) - 1;
    const QRectF circle((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QColor(colour_.r, colour_.g, colour_.b));
    painter.drawEllipse(circle);
    if (fault_) {
        painter.setPen(QPen(QColor(255, 160, 0), 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(2.5, 2.5, -2.5, -2.5));
    }
}

void ClickLabel::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton
        && rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}

void ClickLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    // QLabel would take it for a second press, and its release for a second click.
    event->accept();
}

} // namespace torvak
