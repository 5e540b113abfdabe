// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ptt_frame.h"

#include <cstdint>
#include <functional>

namespace torvak {

// The round lamp on the window; its fill colour is the PTT state.
class LampView {
public:
    virtual ~LampView() = default;
    virtual Rgb fillColour() const = 0;
    virtual void setFillColour(Rgb colour) = 0;
};

// Where PTT commands go: the radio port's owner writes the frame first and
// then shows the state on the lamp, so the lamp never shows a state whose
// frame did not go out.
class PttOutput {
public:
    virtual ~PttOutput() = default;
    virtual void sendPtt(PttState state) = 0;
};

// Carries out host commands and lamp clicks.
class PttController {
public:
    // closeWindow ends the program.
    PttController(PttOutput& output, const LampView& lamp, std::function<void()> closeWindow);

    void ptt(std::int32_t command, std::int32_t state);

    // A click on the lamp: a red lamp goes to receive, any other to transmit.
    void lampClick();

private:
    PttOutput& output_;
    const LampView& lamp_;
    std::function<void()> closeWindow_;
};

} // namespace torvak
