// SPDX-License-Identifier: GPL-3.0-or-later
#include "ptt_controller.h"

#include "host_command.h"

#include <utility>

namespace torvak {

PttController::PttController(PttOutput& output, const LampView& lamp, std::function<void()> closeWindow)
    : output_(output)
    , lamp_(lamp)
    , closeWindow_(std::move(closeWindow))
{
}

void PttController::ptt(std::int32_t command, std::int32_t state)
{
    if (command == kCommandPtt) {
        if (state == kStateReceive)
            output_.sendPtt(PttState::Receive);
        if (state == kStateTransmit)
            output_.sendPtt(PttState::Transmit);
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

} // namespace torvak
