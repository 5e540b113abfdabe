// SPDX-License-Identifier: GPL-3.0-or-later
#include "radio_link.h"

#include "device_map.h"
#include "settings/options.h"

#include <utility>

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
    device_.received = [this](std::span<const std::uint8_t> bytes) { received(bytes); };
    watch_.appeared = [this] { keepOpen(); };
    device_.shared = [this](const std::string& holders) {
        sharedProblem_ = "Another program reads the radio's device too" + (holders.empty() ? "" : " (held open by " + holders + ")")
            + ": the radio's answers may go to it";
        view_.tell(sharedProblem_);
        publish();
    };
}

Status RadioLink::setSettings(std::string_view text)
{
    const Status taken = port_.setSettings(text);
    settingsProblem_ = taken ? "" : "The " + taken.reason() + "; the port runs at " + port_.settings();
    publish();
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
    sharedProblem_.clear();
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
    const Checked<int> limit = options::transmitLimit(store_);
    if (!limit.status) {
        view_.tell(limit.status.reason());
        limitProblem_ = "The " + limit.status.reason();
    }
    transmitLimit_ = limit.value;
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
    // One line per change of outcome, not per keystroke: what was typed
    // (quoted in a reason) makes no new outcome.
    std::string outcome;
    for (const std::string& reason : seq.failures())
        outcome += reason.substr(0, reason.find('"')) + reason.substr(std::min(reason.rfind('"') + 1, reason.size())) + "\n";
    if (std::exchange(told_[std::string(what)], outcome) != outcome)
        for (const std::string& reason : seq.failures())
            view_.tell(std::string(what) + ": " + reason);
    keepOpen();
}

bool RadioLink::shutDown()
{
    if (closing_)
        return false;
    closing_ = true;
    watch_.stop();
    lineClosed(port_.close(), false);
    if (receiveWaiting_)
        view_.tell("closing with a receive still waiting for the port: it was not sent, and the radio may "
                   "still be transmitting");
    else if (shown_ == PttState::Transmit)
        view_.tell("closing while the radio is transmitting: it was left keyed");
    return receiveWaiting_ || shown_ == PttState::Transmit;
}

void RadioLink::lastSessionLeftKeyed()
{
    lastProblem_ = "The last session ended with the radio transmitting: it may still be. Click the lamp twice, or "
                   "send a receive, to release it";
    view_.tell("the last session ended with the radio transmitting: it may still be");
    publish();
}

void RadioLink::sendPtt(PttState state)
{
    const bool receive = state == PttState::Receive;
    // Only the newest command counts: it replaces a waiting receive.
    receiveWaiting_ = false;
    const Status written = write(state);
    if (written) {
        // One line when frames go out again, not one per frame meanwhile.
        if (notSent_ > 0)
            view_.tell("frames go out again; " + std::to_string(notSent_) + " were not sent meanwhile");
        notSent_ = 0;
        notSentWhy_.clear();
        lastProblem_.clear();
        // A transmit after a receive starts the period the limit counts.
        if (!receive && shown_ != PttState::Transmit && transmitLimit_ > 0)
            view_.wakeAfter(RadioLinkView::Alarm::TransmitLimit, transmitLimit_ * 1000);
        showPtt(state);
    } else {
        receiveWaiting_ = receive && !closing_;
        const std::string why = written.reason()
            + (receiveWaiting_ ? "; the receive goes out as soon as the port can take it"
                               : receive ? "" : "; the transmit was dropped");
        ++notSent_;
        if (std::exchange(notSentWhy_, written.reason()) != written.reason())
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
    bool questionLost = false;
    if (device_.bytesQueued() > 0) {
        if (state == PttState::Transmit) {
            lineProblem_ = "The radio is not taking bytes (the line is stalled)";
            return Status::failure("the radio port is not taking bytes (the line is stalled)");
        }
        // The radio reads nothing: what it was not heard after is thrown away,
        // a question with it.
        unconfirmed_.clear();
        device_.discardQueued();
        questionLost = onLine_.has_value();
        pttAfterQuestion_.reset();
    }
    // Recorded before it is handed over: the radio may answer at once.
    unconfirmed_.push_back(state);
    asking_ = true;
    echoed_ = false;
    noiseBefore_ = reader_.noise();
    const Status written = port_.write(pttFrame(state));
    if (!written) {
        unconfirmed_.pop_back();
        asking_ = false;
        return written;
    }
    view_.wakeAfter(RadioLinkView::Alarm::Answer, answerDeadline());
    if (pttAfterQuestion_)
        ++*pttAfterQuestion_;
    // Told after the frame is out: nothing goes ahead of it.
    if (questionLost)
        questionAnswered({CivReply::Kind::Timeout, {}});
    if (!answers_)
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
    pttAfterQuestion_.reset();
    lineProblem_.clear();
    publish();
}

void RadioLink::received(std::span<const std::uint8_t> bytes)
{
    answers_ = true;
    confirm();
    reader_.feed(bytes, [this](Heard what) { heard(what); });
}

void RadioLink::heard(Heard what)
{
    // A question on the line went before any PTT frame now awaited.
    if (onLine_ && (what == Heard::Done || what == Heard::Refused)) {
        questionAnswered({what == Heard::Done ? CivReply::Kind::Done : CivReply::Kind::Refused, {}});
        return;
    }
    if (onLine_ && what == Heard::Data && onLine_->wantsData && reader_.frame()[4] == onLine_->frame[4]) {
        questionAnswered({CivReply::Kind::Data, {reader_.frame().begin(), reader_.frame().end()}});
        return;
    }
    if (!asking_)
        return;
    if (what == Heard::Done || what == Heard::Refused)
        answered(what == Heard::Done ? Answer::Done : Answer::Refused);
    echoed_ = echoed_ || what == Heard::Echo;
}

void RadioLink::alarm(RadioLinkView::Alarm alarm)
{
    if (alarm == RadioLinkView::Alarm::TransmitLimit) {
        if (transmitLimit_ == 0 || shown_ != PttState::Transmit || closing_)
            return;
        const std::string why = "released after " + std::to_string(transmitLimit_)
            + " s of transmitting, as [Safety] TransmitLimit says";
        view_.tell("the radio was " + why);
        sendPtt(PttState::Receive);
        lastProblem_ = "The radio was " + why + (lastProblem_.empty() ? "" : "\n" + lastProblem_);
        publish();
        return;
    }
    if (alarm == RadioLinkView::Alarm::Question) {
        if (onLine_)
            questionAnswered({CivReply::Kind::Timeout, {}});
        return;
    }
    if (asking_)
        answered(echoed_ ? Answer::EchoOnly : reader_.noise() != noiseBefore_ ? Answer::Noise : Answer::Nothing);
}

int RadioLink::answerDeadline() const
{
    // Our 7 bytes echoed and the radio's 6-byte answer.
    return torvak::answerDeadline(port_.lineSettings(), 13);
}

RadioLink::Ticket RadioLink::ask(std::vector<std::uint8_t> frame, bool wantsData,
                                 std::function<void(const CivReply&)> reply)
{
    // One per rigctl client is the most that waits in practice.
    constexpr std::size_t kMostWaiting = 32;
    const Ticket ticket = ++tickets_;
    if (questions_.size() >= kMostWaiting) {
        reply({CivReply::Kind::Busy, {}});
        return ticket;
    }
    questions_.push_back({ticket, std::move(frame), wantsData, std::move(reply)});
    nextQuestion();
    return ticket;
}

void RadioLink::cancel(Ticket ticket)
{
    std::erase_if(questions_, [ticket](const Question& q) { return q.ticket == ticket; });
    // One on the line still waits for its answer, so that the next is not taken for it.
    if (onLine_ && onLine_->ticket == ticket)
        onLine_->reply = nullptr;
}

void RadioLink::nextQuestion()
{
    while (!onLine_ && !questions_.empty()) {
        const bool open = !closing_ && sequences_ == 0 && port_.isOpen();
        if (open && asking_)
            return;
        Question question = std::move(questions_.front());
        questions_.pop_front();
        CivReply::Kind failed = CivReply::Kind::NotOpen;
        if (open) {
            // A stalled line would carry it late, behind what waits already.
            if (device_.bytesQueued() == 0) {
                const int bytes = static_cast<int>(question.frame.size()) + 11; // the echo and the longest answer
                view_.wakeAfter(RadioLinkView::Alarm::Question, torvak::answerDeadline(port_.lineSettings(), bytes));
                // On the line before it is handed over: the radio may answer at once.
                onLine_ = std::move(question);
                if (port_.write(onLine_->frame)) {
                    pttAfterQuestion_ = 0;
                    return;
                }
                question = std::move(*onLine_);
                onLine_.reset();
            }
            failed = CivReply::Kind::Timeout;
        }
        if (question.reply)
            question.reply({failed, {}});
    }
}

void RadioLink::questionAnswered(CivReply reply)
{
    const Question question = std::move(*onLine_);
    onLine_.reset();
    if (question.reply)
        question.reply(reply);
    nextQuestion();
}

void RadioLink::onAnswer(std::function<void(Answer)> answered)
{
    if (asking_)
        answerWaiters_.push_back(std::move(answered));
    else
        answered(answer_);
}

void RadioLink::answered(Answer answer)
{
    asking_ = false;
    for (auto& waiter : std::exchange(answerWaiters_, {}))
        waiter(answer);
    nextQuestion();
    if (std::exchange(answer_, answer) == answer)
        return;
    switch (answer) {
    case Answer::Done: answerProblem_.clear(); break;
    case Answer::Refused:
        answerProblem_ = "The radio refused the last command (it answered FA): does it take PTT over CI-V?";
        break;
    case Answer::EchoOnly:
        answerProblem_ = "The radio did not answer, though the bus echoed the command: is the radio on, is its "
                         "CI-V address 04h, and is its CI-V port set to this interface?";
        break;
    case Answer::Nothing:
        answerProblem_ = "Nothing came back from the radio, not even the bus echo: is this the radio's port, and "
                         "is the interface connected to the radio?";
        break;
    case Answer::Noise:
        answerProblem_ = "What came back was not CI-V: does the line speed match the radio's CI-V baud rate?";
        break;
    }
    view_.tell(answer == Answer::Done ? "the radio answers again" : answerProblem_);
    publish();
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
    nextQuestion();
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
    // Bytes the line did not send are lost for sure: the lamp goes back to
    // what the radio last got.
    // What the line did not send is its newest bytes: the PTT frames after a
    // question still queued, then the question, never a frame before it.
    const std::size_t lost = std::min({unconfirmed_.size(), (unsent + kFrameSize - 1) / kFrameSize,
                                       pttAfterQuestion_.value_or(unconfirmed_.size())});
    pttAfterQuestion_.reset();
    const bool transmitLost = lost > 0 && unconfirmed_.back() == PttState::Transmit;
    bool receiveLost = lost > 0 && !transmitLost;
    if (lost > 0) {
        unconfirmed_.resize(unconfirmed_.size() - lost);
        showPtt(!unconfirmed_.empty() ? unconfirmed_.back() : delivered_.value_or(PttState::Receive));
    }
    // A device that went away took along what its kernel held, or not: a
    // receive not heard of goes out again; a transmit may have keyed the
    // radio, so the lamp keeps it.
    if (deviceGone) {
        receiveLost = receiveLost || (!unconfirmed_.empty() && unconfirmed_.back() == PttState::Receive);
        unconfirmed_.clear();
    }
    if (closing_ || !(transmitLost || receiveLost))
        return;
    receiveWaiting_ = receiveWaiting_ || receiveLost;
    const std::string why = receiveLost ? "the receive may not have reached the radio before its port closed; it goes "
                                          "out again as soon as the port can take it"
                                        : "the transmit did not reach the radio before its port closed; it was dropped";
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
    for (const std::string* part : {&port, &settingsProblem_, &limitProblem_, &sharedProblem_, &lineProblem_, &lastProblem_, &answerProblem_})
        if (!part->empty())
            fault += (fault.empty() ? "" : "\n") + *part;
    if (fault == fault_)
        return;
    fault_ = fault;
    view_.showFault(fault);
}

} // namespace torvak
