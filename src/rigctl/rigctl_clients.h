// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rigctl_session.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace torvak {

class PttOutput;
class RadioLink;
enum class Answer;

// The rigctl clients as the radio sees them, without their sockets: each
// client's PTT joins the one order of commands, its answer waits for the
// radio's, and its claim on a keyed radio follows its last word. A client
// that ends with "q" leaves the radio as its last command put it, as rigctld
// does; one whose connection is lost while its last carried-out command keys
// the radio releases it, once everything it sent before leaving is carried out.
class RigctlClients : public RigctlRadio {
public:
    using Action = std::function<void()>;
    // submit puts a command in the one order, and output carries out its PTT;
    // after runs an action once that many milliseconds have passed.
    RigctlClients(std::function<void(Action)> submit, PttOutput& output, RadioLink& radio,
                  std::function<void(int, Action)> after, std::function<void(const std::string&)> tell);
    ~RigctlClients() override;

    static constexpr int kReadDeadlineMs = 450;

    // A client connected; send writes to its connection.
    RigctlSession& connected(std::uint64_t id, std::function<void(std::string_view)> send);
    RigctlSession* session(std::uint64_t id);
    // Its connection is gone and everything it sent was fed: it is forgotten
    // once what it sent is carried out. True when it is forgotten now.
    bool left(std::uint64_t id);
    std::size_t count() const { return clients_.size(); }
    // Told when a client that left is forgotten.
    std::function<void(std::uint64_t)> forgotten;

    // Any other command was carried out (a host's record, the lamp, the limit):
    // no client's leaving undoes what came after it.
    void otherCommand() { keyedBy_ = 0; }

    void setPtt(std::uint64_t client, bool transmit, std::function<void(int)> done) override;
    bool transmitting() const override;
    void ask(std::vector<std::uint8_t> frame, bool wantsData, std::function<void(const CivReply&)> reply) override;

private:
    struct Client;
    void forgetWhenDone(std::uint64_t id);

    std::function<void(Action)> submit_;
    PttOutput& output_;
    RadioLink& radio_;
    std::function<void(int, Action)> after_;
    std::function<void(const std::string&)> tell_;
    std::map<std::uint64_t, std::unique_ptr<Client>> clients_;
    // The client whose command keyed the radio last, while nothing came after it.
    std::uint64_t keyedBy_ = 0;
    // Answers that come after this is gone find it expired.
    std::shared_ptr<RigctlClients*> self_ = std::make_shared<RigctlClients*>(this);
};

} // namespace torvak
