#pragma once

#include "ptt_frame.h"
#include "status.h"

#include <cstdint>
#include <functional>

namespace torvak {

// Where a frame goes: the radio port.
class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    virtual Status writeFrame(const Frame& frame) = 0;
};

// The round lamp on the window; its fill colour is the PTT state.
class LampView {
public:
    virtual ~LampView() = default;
    virtual Rgb fillColour() const = 0;
    virtual void setFillColour(Rgb colour) = 0;
};

// Carries out host commands and lamp clicks: write the frame first, then show
// the state, so the lamp never shows a state whose frame did not go out.
class PttController {
public:
    // closeWindow ends the program; frameWritten hears how every frame write went.
    PttController(FrameWriter& port, LampView& lamp, std::function<void()> closeWindow,
                  std::function<void(const Status&)> frameWritten = {});

    void ptt(const std::int32_t& command, const std::int32_t& state);

    // A click on the lamp: a red lamp goes to receive, any other to transmit.
    void lampClick();

private:
    void send(PttState state, Rgb colour);

    FrameWriter& port_;
    LampView& lamp_;
    std::function<void()> closeWindow_;
    std::function<void(const Status&)> frameWritten_;
};

} // namespace torvak
