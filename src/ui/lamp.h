// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ptt_controller.h"

#include <QIcon>
#include <QLabel>
#include <QWidget>

namespace torvak {

// Shape1: the round PTT lamp, a solid circle in the lamp colour. A ring shows
// that the last frame could not be sent to the radio.
class Lamp : public QWidget, public LampView {
    Q_OBJECT
public:
    explicit Lamp(QWidget* parent = nullptr);

    Rgb fillColour() const override { return colour_; }
    void setFillColour(Rgb colour) override;

    bool showsFault() const { return !fault_.isEmpty(); }
    // Why the radio cannot be reached, or nothing.
    void setFault(const QString& fault);

    // What assistive technology's press action does: as a click does.
    void press() { emit pressed(); }

    // The window's icon: the lamp in this colour, with the ring on a fault,
    // drawn, so no image plugin is needed. A task bar shows a minimized
    // window's state by it.
    static QIcon icon(Rgb colour = kReceiveGreen, bool fault = false);

signals:
    void pressed();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // What a screen reader says of it: receive or transmit, and the fault.
    void describe();

    Rgb colour_ = kReceiveGreen;
    QString fault_;
};

// Label3: the invisible click target laid over the lamp; it shows nothing.
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // A double-click is a click and then this: the lamp toggles once.
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

} // namespace torvak
