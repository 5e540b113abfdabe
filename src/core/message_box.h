// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace torvak {

// A box with one OK button and the application's default title.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    // The prompt, and beneath it why, where there is a reason to give.
    virtual void show(std::string_view prompt, std::string_view why) = 0;
    void show(std::string_view prompt) { show(prompt, {}); }
};

} // namespace torvak
