// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/civ_question.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace torvak {

// Hamlib's error numbers, as "RPRT -n" carries them.
namespace rprt {
inline constexpr int kOk = 0;
inline constexpr int kInvalid = -1; // RIG_EINVAL
inline constexpr int kTimeout = -5; // RIG_ETIMEOUT
inline constexpr int kIo = -6; // RIG_EIO
inline constexpr int kProtocol = -8; // RIG_EPROTO
inline constexpr int kRejected = -9; // RIG_ERJCTED
inline constexpr int kUnavailable = -11; // RIG_ENAVAIL
} // namespace rprt

// What a rigctl client's commands reach: PTT through the host commands'
// queue, and the radio's own CI-V questions.
class RigctlRadio {
public:
    virtual ~RigctlRadio() = default;
    // Done gets the RPRT number once the command has been carried out.
    virtual void setPtt(std::uint64_t client, bool transmit, std::function<void(int)> done) = 0;
    virtual bool transmitting() const = 0;
    virtual void ask(std::vector<std::uint8_t> frame, bool wantsData, std::function<void(const CivReply&)> reply) = 0;
    // The VFO last chosen: the radio cannot be asked which it is on.
    std::string vfo = "VFOA";
};

// One rigctl client's conversation, as Hamlib's NET rigctl client (rig model
// 2) holds it: a command a line, short ("f", "T 1") or long ("\get_freq"),
// with "+" before it for the extended answer. Answers go back in the order of
// the lines. PTT lines are carried out as they arrive, so that their place in
// the one order of commands is when they were sent; any other line waits
// until every line before it is answered.
//
// Only a rigctl client is heard: a session whose first line is no rigctl
// command, or that sends a line of an HTTP request at any point (a web page
// posting to the port), is refused there, and nothing after it is carried out.
class RigctlSession {
public:
    static constexpr std::size_t kLongestLine = 1024;
    // Lines carried out and not yet answered; past it the client is read no more.
    static constexpr std::size_t kMostWaiting = 32;

    RigctlSession(std::uint64_t client, RigctlRadio& radio, std::function<void(std::string_view)> send);

    // Bytes from the client. Take no more than room() at a time.
    void feed(std::string_view bytes);
    // How many bytes may be fed now: none while a command waits for the radio
    // or a whole line is still to be carried out.
    std::size_t room() const;
    // The client said "q".
    bool ended() const { return ended_; }
    // Why the session was refused (it did not speak rigctl), or nothing.
    const std::string& refusal() const { return refusal_; }
    // Every line fed is carried out and answered.
    bool idle() const;

private:
    struct Command;
    struct Slot;
    struct Line;
    void carryOutLines();
    void readLines();
    bool advance();
    void carryOut(const Line& line);
    void answer(const Command& command, const std::vector<std::string>& args, int rprt,
                const std::vector<std::string>& values = {});
    void resolve(Slot& slot, const Command& command, const std::vector<std::string>& args, int rprt,
                 const std::vector<std::string>& values = {});
    void flush();
    void ask(const Command& command, const std::vector<std::string>& args, std::vector<std::uint8_t> frame,
             bool wantsData, std::function<int(const CivReply&, std::vector<std::string>&)> read);

    std::uint64_t client_;
    RigctlRadio& radio_;
    std::function<void(std::string_view)> send_;
    std::string buffer_;
    bool discarding_ = false; // the rest of a line too long to take
    bool inLoop_ = false; // a reply that comes while the lines are read lets the loop go on
    bool spoken_ = false; // a first line was taken
    bool quitting_ = false; // a quit was read: no line after it is
    bool ended_ = false;
    std::string refusal_;
    std::deque<std::shared_ptr<Slot>> slots_; // answers owed, in the order of the lines
    std::shared_ptr<Slot> current_; // the line being carried out
    // Replies that come after the session is gone find it expired.
    std::shared_ptr<RigctlSession*> self_ = std::make_shared<RigctlSession*>(this);
};

} // namespace torvak
