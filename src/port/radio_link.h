// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/civ_question.h"
#include "core/civ_reader.h"
#include "core/ptt_controller.h"
#include "core/resume_next.h"
#include "device_watch.h"
#include "radio_port.h"
#include "settings/settings_store.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvak {

// What the window shows of the radio's port.
class RadioLinkView {
public:
    virtual ~RadioLinkView() = default;
    // The lamp's colour: the last frame handed to the port that was not lost.
    virtual void showPtt(PttState state) = 0;
    // Why the radio cannot be reached, or nothing.
    virtual void showFault(const std::string& fault) = 0;
    // One line for the operator on stderr.
    virtual void tell(const std::string& line) = 0;
    // Call the owner's alarm after this long; a later call for the same alarm replaces it.
    enum class Alarm { Answer, TransmitLimit, Question };
    virtual void wakeAfter(Alarm alarm, int milliseconds) = 0;
};

// What the radio made of the last PTT frame.
enum class Answer { Done, Refused, EchoOnly, Nothing, Noise };

// The one owner of the radio's port: the device, the port number and line
// settings, the device watch, the receive that waits for the port, and when
// to open the port again. Its events come from the line (lost, drained), the
// watch (appeared), the host link (descriptors freed), the window (a port
// sequence, closing) and the PTT commands.
//
// The rule it keeps, in every order those events meet: once the line can
// carry bytes again, the last PTT frame on it is the one for the last PTT
// command carried out, and the lamp shows it. A receive the port cannot take
// waits and goes out as soon as it can; a transmit it cannot take is dropped,
// never sent late; a receive on a stalled line replaces the stale frames; a
// frame lost with the line counts as not sent. The port is kept open whenever
// the program is running and no sequence has it; nothing opens it once
// closing began.
//
// Every PTT frame asks the radio a question; what comes back by a deadline
// (its answer, the bus echo, noise, or nothing) is the answer shown on the
// lamp's ring. Nothing waits for it: the next frame goes out at once.
//
// A radio that answers (or a bus that echoes) tells when a frame reached it:
// once it has been heard, a frame counts as delivered only when it is heard
// again after it. Until then the kernel may hold it in a buffer nobody reads
// (a stopped program behind a pseudo-terminal), and a device that goes away
// takes it along. A radio never heard gives no such word: what the line took
// counts as delivered.
class RadioLink : public PttOutput {
public:
    RadioLink(SerialDevice& device, DeviceWatch& watch, const SettingsStore& store, RadioLinkView& view);

    // The port itself, as start-up and the port sequences use it.
    Status setPortNumber(int number) { return port_.setPortNumber(number); }
    int portNumber() const { return port_.portNumber(); }
    Status setSettings(std::string_view text);
    const std::string& settings() const { return port_.settings(); }
    Status open();
    Status close();
    bool isOpen() const { return port_.isOpen(); }

    // Start-up's last step: from now on the port is kept open.
    void start();
    // Runs a port sequence; meanwhile (and while its message box is up) the
    // port is left to it. Its failures are told, then the port is kept open.
    void reconfigure(std::string_view what, const std::function<ResumeNext()>& sequence);
    // The program is ending: queued bytes are let out, the port closes, and
    // nothing opens it again. A waiting receive is not sent. True when the
    // radio may be left transmitting.
    bool shutDown();
    // The last session ended with the radio transmitting: the ring says so
    // until a frame goes out.
    void lastSessionLeftKeyed();

    void sendPtt(PttState state) override;
    // What the lamp shows: the last PTT frame handed to the port and not lost.
    PttState ptt() const { return shown_; }

    // Asks the radio something besides PTT (a read or a setting). One
    // question is on the line at a time, and only while no PTT frame's answer
    // is awaited, so that every answer is known for whose it is; a PTT frame
    // never waits for a question. The reply comes once: at once when the port
    // is closed, the line stalled or too many questions wait, else when the
    // radio answers or the deadline passes. A cancelled question gets none.
    using Ticket = std::uint64_t;
    Ticket ask(std::vector<std::uint8_t> frame, bool wantsData, std::function<void(const CivReply&)> reply);
    void cancel(Ticket ticket);

    // File descriptors were freed (a host left): an open that failed for
    // want of them may work now.
    void descriptorsFreed() { keepOpen(); }

    bool receiveWaiting() const { return receiveWaiting_; }

    // What the radio makes of the PTT frame written last: once it answers or
    // its deadline passes, or at once when nothing is awaited.
    void onAnswer(std::function<void(Answer)> answered);
    // Anything ever came back on the line: the bus's echo or an answer.
    bool everHeard() const { return answers_; }

    // The last PTT frame's answer was due by now, a transmit has lasted as
    // long as [Safety] TransmitLimit lets it, or a question's answer was due.
    void alarm(RadioLinkView::Alarm alarm);
    // How long a frame's echo and answer take on the wire at the line speed,
    // with 250 ms for the radio to answer.
    int answerDeadline() const;

private:
    Status write(PttState state);
    void deviceLost(std::size_t unsent);
    void lineDrained();
    void received(std::span<const std::uint8_t> bytes);
    void heard(Heard what);
    void answered(Answer answer);
    void nextQuestion();
    void questionAnswered(CivReply reply);
    // Everything handed before but what still waits in the send buffer.
    void confirm();
    void confirmAllBut(std::size_t newest);
    // The port should be open (unless a sequence has it, or closing began):
    // open it, or wait for its device; then a waiting receive goes out.
    void keepOpen();
    bool reopen();
    // The line closed with this many bytes unsent: those frames never reached
    // the radio, and the lamp goes back. A device that went away may have
    // taken along what its kernel held too: a receive not heard of goes out
    // again, a transmit keeps its red lamp (it may have keyed the radio).
    void lineClosed(std::size_t unsent, bool deviceGone);
    void showPtt(PttState state);
    void publish();

    SerialDevice& device_;
    DeviceWatch& watch_;
    const SettingsStore& store_;
    RadioLinkView& view_;
    RadioPort port_;

    bool started_ = false;
    bool closing_ = false;
    int sequences_ = 0;
    bool receiveWaiting_ = false;
    PttState shown_ = PttState::Receive;
    // The newest frame the radio was heard after, and the frames handed since.
    std::optional<PttState> delivered_;
    std::deque<PttState> unconfirmed_;
    bool answers_ = false;
    int transmitLimit_ = 0; // seconds; 0: none

    CivReader reader_;
    bool asking_ = false, echoed_ = false;
    std::size_t noiseBefore_ = 0; // what the reader had counted when the question was asked
    Answer answer_ = Answer::Done;
    std::vector<std::function<void(Answer)>> answerWaiters_;

    struct Question {
        Ticket ticket;
        std::vector<std::uint8_t> frame;
        bool wantsData;
        std::function<void(const CivReply&)> reply;
    };
    std::deque<Question> questions_;
    std::optional<Question> onLine_;
    Ticket tickets_ = 0;
    // PTT frames handed over since the last question, while its bytes may
    // still wait in the send buffer.
    std::optional<std::size_t> pttAfterQuestion_;

    bool wentAway_ = false;
    std::string openFailure_; // why the port is closed, when it should be open
    std::string lineProblem_; // the line is not taking bytes
    std::string lastProblem_; // the last command's frame did not go out
    std::string answerProblem_; // what the radio made of it
    std::string settingsProblem_; // the settings last given were refused
    std::string limitProblem_; // [Safety] TransmitLimit cannot be taken
    std::string sharedProblem_; // another process reads the device too
    std::string notSentWhy_; // frames are not going out, and why
    int notSent_ = 0; // since they stopped going out
    std::map<std::string, std::string, std::less<>> told_; // each sequence's last outcome on stderr
    std::string fault_;
};

} // namespace torvak
