// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What every fuzz target holds besides not crashing: nothing but the two PTT
// frames can reach the port.
#include "core/ptt_controller.h"

#include <cstdio>
#include <cstdlib>

namespace torvak::fuzz {

[[noreturn]] inline void broken(const char* what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline void check(bool holds, const char* what)
{
    if (!holds)
        broken(what);
}

// A port that only lets the transmit and receive frames through.
struct GuardedWire : FrameWriter {
    std::size_t frames = 0;
    Status writeFrame(const Frame& f, bool) override
    {
        check(f == kTransmitFrame || f == kReceiveFrame, "a frame other than TX or RX reached the port");
        ++frames;
        return Status::success();
    }
};

struct PlainLamp : LampView {
    Rgb colour = kReceiveGreen;
    Rgb fillColour() const override { return colour; }
    void setFillColour(Rgb c) override { colour = c; }
};

} // namespace torvak::fuzz
