// SPDX-License-Identifier: GPL-3.0-or-later
#include "lamp.h"

#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include <map>
#include <tuple>

namespace torvak {

namespace {

// The lamp to assistive technology: a button whose press action toggles it,
// though it never joins the keyboard's tab order (the host keys the radio;
// the operator's keyboard should not by accident).
class AccessibleLamp : public QAccessibleWidget {
public:
    explicit AccessibleLamp(QWidget* lamp) : QAccessibleWidget(lamp, QAccessible::Button) {}
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override
    {
        if (name == pressAction())
            static_cast<Lamp*>(widget())->press();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* accessibleLamp(const QString& className, QObject* object)
{
    return className == QLatin1String("torvak::Lamp") && object && object->isWidgetType()
        ? new AccessibleLamp(static_cast<QWidget*>(object))
        : nullptr;
}

} // namespace

Lamp::Lamp(QWidget* parent)
    : QWidget(parent)
{
    static const bool installed = (QAccessible::installFactory(accessibleLamp), true);
    (void)installed;
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(QStringLiteral("PTT lamp"));
    describe();
}

void Lamp::setFillColour(Rgb colour)
{
    if (colour == colour_)
        return;
    colour_ = colour;
    describe();
    update();
}

void Lamp::setFault(const QString& fault)
{
    if (fault == fault_)
        return;
    fault_ = fault;
    describe();
    update();
}

void Lamp::describe()
{
    const QString state = colour_ == kTransmitRed ? QStringLiteral("Transmit") : QStringLiteral("Receive");
    setAccessibleDescription(fault_.isEmpty() ? state : state + QStringLiteral(". ") + fault_);
}

namespace {

// Paints the lamp, and the ring on a fault.
void paintLamp(QPainter& painter, QSizeF size, Rgb colour, bool fault, qreal pen)
{
    painter.setRenderHint(QPainter::Antialiasing);
    // A circle as wide as the shorter side, centred in the shape's box.
    const qreal side = qMin(size.width(), size.height()) - pen;
    const QRectF circle((size.width() - side) / 2.0, (size.height() - side) / 2.0, side, side);
    painter.setPen(QPen(Qt::black, pen));
    painter.setBrush(QColor(colour.r, colour.g, colour.b));
    painter.drawEllipse(circle);
    if (fault) {
        const qreal ring = 3 * pen;
        painter.setPen(QPen(QColor(255, 160, 0), ring));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(ring - pen / 2, ring - pen / 2, pen / 2 - ring, pen / 2 - ring));
    }
}

} // namespace

QIcon Lamp::icon(Rgb colour, bool fault)
{
    // Drawn once for each of the lamp's looks.
    static std::map<std::tuple<std::uint8_t, std::uint8_t, std::uint8_t, bool>, QIcon> drawn;
    QIcon& icon = drawn[{colour.r, colour.g, colour.b, fault}];
    for (const int side : {16, 32, 64}) {
        if (icon.availableSizes().contains(QSize(side, side)))
            continue;
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintLamp(painter, pixmap.size(), colour, fault, side / 16.0);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void Lamp::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintLamp(painter, size(), colour_, !fault_.isEmpty(), 1);
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
