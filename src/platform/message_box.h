// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/message_box.h"

#include <memory>

class QWidget;

namespace torvak {

// The operator's message boxes: one OK button, the application's own title.
class QtMessageBox : public MessageBox {
public:
    explicit QtMessageBox(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void show(std::string_view prompt, std::string_view why) override;
    using MessageBox::show;

private:
    QWidget* parent_;
};

// Where no one could ever press OK (no screen, or a scripted run with
// TORVAK_PTT_NO_DIALOGS=1), messages go to stderr instead.
class StderrMessageBox : public MessageBox {
public:
    void show(std::string_view prompt, std::string_view why) override;
    using MessageBox::show;
};

std::unique_ptr<MessageBox> makeMessageBox();

} // namespace torvak
