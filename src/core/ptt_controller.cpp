// SPDX-License-Identifier: GPL-3.0-or-later
#include "ptt_controller.h"

#include "host_command.h"

#include <utility>

namespace torvak {

PttController::PttController(FrameWriter& port, LampView& lamp, std::function<void()> closeWindow,
                             std::function<void(const Status&)> frameWritten)
    : port_(port)
    , lamp_(lamp)
    , closeWindow_(std::move(closeWindow))
    , frameWritten_(std::move(frameWritten))
{
}

void PttController::ptt(const std::int32_t& command, const std::int32_t& state)
{
    if (command == kCommandPtt) {
        if (state == kStateReceive)
            send(PttState::Receive);
        if (state == kStateTransmit)
            send(PttState::Transmit);
    }
    if (command == kCommandClose && closeWindow_)
        closeWindow_();
}

void PttController::lampClick()
{
    std::int32_t state = kStateTransmit;
    if (lamp_.fillColour() == kTransmitRed)
        state = kStateReceive;
    ptt(kCommandPtt, state);
}

void PttController::portReady()
{
    if (receivePending_)
        send(PttState::Receive);
}

void PttController::send(PttState state)
{
    const bool receive = state == PttState::Receive;
    receivePending_ = false;
    // A receive replaces whatever a stalled line still holds; a transmit that
    // the line cannot take now must not go out later.
    Status written = port_.writeFrame(pttFrame(state), receive);
    if (!written) {
        receivePending_ = receive;
        written = Status::failure(written.reason()
                                  + (receive ? "; the receive goes out as soon as the port can take it"
                                             : "; the transmit was dropped"));
    }
    if (frameWritten_)
        frameWritten_(written);
    // A frame that did not go out leaves the lamp showing the last state that did.
    if (written)
        lamp_.setFillColour(receive ? kReceiveGreen : kTransmitRed);
}

} // namespace torvak
