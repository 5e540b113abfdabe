// SPDX-License-Identifier: GPL-3.0-or-later
#include "radio_link.h"

#include "device_map.h"

namespace torvak {

RadioLink::RadioLink(SerialDevice& device, DeviceWatch& watch, const SettingsStore& store, RadioLinkView& view)
    : device_(device)
    , watch_(watch)
    , store_(store)
    , view_(view)
    , port_(device)
{
    device_.lost = [this](std::size_t unsent) { deviceLost(unsent); };
    device_.drained = [this] { lineDrained(); };
    device_.heard = [this] { radioHeard(); };
    watch_.appeared = [this] { keepOpen(); };
}

Status RadioLink::setSettings(std::string_view text)
{
    const Status taken = port_.setSettings(text);
    if (!taken && !started_)
        lastProblem_ = "The stored settings were refused; the port runs at " + port_.settings();
    return taken;
}

Status RadioLink::open()
{
    if (closing_)
        return Status::failure("the program is closing");
    if (port_.isOpen())
        return port_.open({}); // which says so
    const Checked<std::string> path = deviceFor(store_, port_.portNumber());
    const Status opened = path.status ? port_.open(path.value)
                                      : Status::failure("COM" + std::to_string(port_.portNumber()) + ": " + path.status.reason());
    if (!opened) {
        // Nothing to wait for where no device is mapped.
        if (path.status)
            watch_.watch(path.value);
        else
            watch_.stop();
        openFailure_ = opened.reason() + (path.status ? "; it opens by itself as soon as it can" : "");
        return opened;
    }
    watch_.stop();
    openFailure_.clear();
    wentAway_ = false;
    return opened;
}

Status RadioLink::close()
{
    lineClosed(port_.close(), false);
    publish();
    return Status::success();
}

void RadioLink::start()
{
    started_ = true;
    keepOpen();
}

void RadioLink::reconfigure(std::string_view what, const std::function<ResumeNext()>& sequence)
{
    ++sequences_;
    const ResumeNext seq = sequence();
    --sequences_;
    // Closing stopped the sequence: its failures are no news, and nothing reopens.
    if (closing_)
        return;
    for (const std::string& reason : seq.failures())
        view_.tell(std::string(what) + ": " + reason);
    keepOpen();
}

void RadioLink::shutDown()
{
    if (closing_)
        return;
    closing_ = true;
    watch_.stop();
    lineClosed(port_.close(), false);
    if (receiveWaiting_)
        view_.tell("closing with a receive still waiting for the port: it was not sent, and the radio may "
                   "still be transmitting");
    else if (shown_ == PttState::Transmit)
        view_.tell("closing while the radio is transmitting: it was left keyed");
}

void RadioLink::sendPtt(PttState state)
{
    const bool receive = state == PttState::Receive;
    // Only the newest command counts: it replaces a waiting receive.
    receiveWaiting_ = false;
    const Status written = write(state);
    if (written) {
        lastProblem_.clear();
        showPtt(state);
    } else {
        receiveWaiting_ = receive && !closing_;
        const std::string why = written.reason()
            + (receiveWaiting_ ? "; the receive goes out as soon as the port can take it"
                               : receive ? "" : "; the transmit was dropped");
        view_.tell("frame not sent: " + why);
        lastProblem_ = "Last command not sent: " + why;
    }
    publish();
}

Status RadioLink::write(PttState state)
{
    if (closing_)
        return Status::failure("the program is closing");
    if (!port_.isOpen())
        return Status::failure("the radio port is not open");
    // Bytes still queued mean the line has stopped taking them: what waits
    // there is older than this frame. A receive replaces it; a transmit that
    // cannot go out now must not go out later.
    if (device_.bytesQueued() > 0) {
        if (state == PttState::Transmit) {
            lineProblem_ = "The radio is not taking bytes (the line is stalled)";
            return Status::failure("the radio port is not taking bytes (the line is stalled)");
        }
        // The radio reads nothing: what it was not heard after is thrown away.
        unconfirmed_.clear();
        device_.discardQueued();
    }
    // Recorded before it is handed over: the radio may answer at once.
    unconfirmed_.push_back(state);
    const Status written = port_.write(pttFrame(state));
    if (!written)
        unconfirmed_.pop_back();
    else if (!answers_)
        confirm();
    // A radio gone quiet for good leaves no record of more than the send
    // buffer holds.
    confirmAllBut(kSendBufferSize / kFrameSize);
    return written;
}

void RadioLink::deviceLost(std::size_t unsent)
{
    lineClosed(unsent, true);
    wentAway_ = true;
    view_.tell("the radio port went away (the device hung up or was removed); it opens again when the device is back");
    // Plugged back before the hang-up was noticed: it opens now.
    keepOpen();
}

void RadioLink::lineDrained()
{
    lineProblem_.clear();
    publish();
}

void RadioLink::radioHeard()
{
    answers_ = true;
    confirm();
}

void RadioLink::confirm()
{
    confirmAllBut((device_.bytesQueued() + kFrameSize - 1) / kFrameSize);
}

void RadioLink::confirmAllBut(std::size_t newest)
{
    while (unconfirmed_.size() > newest) {
        delivered_ = unconfirmed_.front();
        unconfirmed_.pop_front();
    }
}

void RadioLink::keepOpen()
{
    if (started_ && !closing_ && sequences_ == 0 && (port_.isOpen() || reopen()) && receiveWaiting_)
        sendPtt(PttState::Receive);
    publish();
}

bool RadioLink::reopen()
{
    const std::string before = openFailure_;
    const bool wasAway = wentAway_;
    if (!open()) {
        if (openFailure_ != before)
            view_.tell("the radio port is not open: " + openFailure_);
        return false;
    }
    if (!before.empty() || wasAway)
        view_.tell("the radio port is open again");
    return true;
}

void RadioLink::lineClosed(std::size_t unsent, bool deviceGone)
{
    lineProblem_.clear();
    const std::size_t lost = deviceGone ? unconfirmed_.size()
                                        : std::min(unconfirmed_.size(), (unsent + kFrameSize - 1) / kFrameSize);
    if (lost == 0)
        return;
    const PttState newest = unconfirmed_.back();
    unconfirmed_.resize(unconfirmed_.size() - lost);
    // The lamp goes back to what the radio last got.
    showPtt(!unconfirmed_.empty() ? unconfirmed_.back() : delivered_.value_or(PttState::Receive));
    if (closing_)
        return;
    const bool receive = newest == PttState::Receive;
    receiveWaiting_ = receiveWaiting_ || receive;
    const std::string why = std::string(receive ? "the receive" : "the transmit")
        + " did not reach the radio before its port closed"
        + (receive ? "; it goes out as soon as the port can take it" : "; it was dropped");
    view_.tell(why);
    lastProblem_ = "Last command not sent: " + why;
}

void RadioLink::showPtt(PttState state)
{
    shown_ = state;
    view_.showPtt(state);
}

void RadioLink::publish()
{
    std::string port = openFailure_;
    if (wentAway_)
        port = "The radio port went away (the device hung up or was removed)" + (port.empty() ? "" : ": " + port);
    std::string fault;
    for (const std::string* part : {&port, &lineProblem_, &lastProblem_})
        if (!part->empty())
            fault += (fault.empty() ? "" : "\n") + *part;
    if (fault == fault_)
        return;
    fault_ = fault;
    view_.showFault(fault);
}

} // namespace torvak
