// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace torvak {

// A box with one OK button and the application's default title.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual void show(std::string_view prompt) = 0;
};

} // namespace torvak
