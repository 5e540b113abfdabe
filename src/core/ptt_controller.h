// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ptt_frame.h"
#include "status.h"

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

// Carries out host commands and lamp clicks: write the frame first, then show
// the state, so the lamp never shows a state whose frame did not go out.
//
// Under faults the radio must end in the state last asked for. A receive the
// port cannot take now stays pending and goes out as soon as it can; a
// transmit it cannot take is dropped, never sent late. Only the newest
// command counts: any command replaces a pending receive.
class PttController {
public:
    // closeWindow ends the program; frameWritten hears how every frame write went.
    PttController(FrameWriter& port, LampView& lamp, std::function<void()> closeWindow,
                  std::function<void(const Status&)> frameWritten = {});

    void ptt(const std::int32_t& command, const std::int32_t& state);

    // A click on the lamp: a red lamp goes to receive, any other to transmit.
    void lampClick();

    // The port can take bytes again (reopened, plugged back): a pending
    // receive goes out now.
    void portReady();

private:
    void send(PttState state);

    FrameWriter& port_;
    LampView& lamp_;
    std::function<void()> closeWindow_;
    std::function<void(const Status&)> frameWritten_;
    bool receivePending_ = false;
};

} // namespace torvak
