// SPDX-License-Identifier: GPL-3.0-or-later
#include "rigctl_clients.h"

#include "port/radio_link.h"

#include <utility>

namespace torvak {

struct RigctlClients::Client {
    std::unique_ptr<RigctlSession> session;
    bool gone = false;
    int pttWaiting = 0; // submitted, not carried out yet
};

RigctlClients::RigctlClients(std::function<void(Action)> submit, PttOutput& output, RadioLink& radio,
                             std::function<void(int, Action)> after, std::function<void(const std::string&)> tell)
    : submit_(std::move(submit))
    , output_(output)
    , radio_(radio)
    , after_(std::move(after))
    , tell_(std::move(tell))
{
}

RigctlClients::~RigctlClients() = default;

RigctlSession& RigctlClients::connected(std::uint64_t id, std::function<void(std::string_view)> send)
{
    auto client = std::make_unique<Client>();
    client->session = std::make_unique<RigctlSession>(id, *this, std::move(send));
    return *clients_.insert_or_assign(id, std::move(client)).first->second->session;
}

RigctlSession* RigctlClients::session(std::uint64_t id)
{
    const auto it = clients_.find(id);
    return it == clients_.end() ? nullptr : it->second->session.get();
}

bool RigctlClients::left(std::uint64_t id)
{
    const auto it = clients_.find(id);
    if (it == clients_.end())
        return true;
    it->second->gone = true;
    forgetWhenDone(id);
    return !clients_.contains(id);
}

void RigctlClients::forgetWhenDone(std::uint64_t id)
{
    const auto it = clients_.find(id);
    if (it == clients_.end() || !it->second->gone || it->second->pttWaiting > 0 || !it->second->session->idle())
        return;
    const bool quit = it->second->session->ended();
    clients_.erase(it);
    if (forgotten)
        forgotten(id);
    // A lost connection, not "q": the client that would have released the
    // radio is gone. Whether its transmit is still the last word is known
    // in the one order, after whatever was handed over before now.
    if (quit)
        return;
    submit_([this, id] {
        if (keyedBy_ != id)
            return;
        keyedBy_ = 0;
        if (radio_.ptt() != PttState::Transmit)
            return;
        tell_("a rigctl client's connection was lost while its transmit keyed the radio: the radio was released");
        output_.sendPtt(PttState::Receive);
    });
}

void RigctlClients::setPtt(std::uint64_t client, bool transmit, std::function<void(int)> done)
{
    if (const auto it = clients_.find(client); it != clients_.end())
        ++it->second->pttWaiting;
    submit_([this, client, transmit, done = std::move(done), self = std::weak_ptr(self_)] {
        output_.sendPtt(transmit ? PttState::Transmit : PttState::Receive);
        const bool sent = radio_.ptt() == (transmit ? PttState::Transmit : PttState::Receive) && !radio_.receiveWaiting();
        keyedBy_ = transmit && sent ? client : 0;
        const auto it = clients_.find(client);
        const bool gone = it != clients_.end() && it->second->gone;
        if (it != clients_.end())
            --it->second->pttWaiting;
        // Nobody hears the answer of a client that left: it is forgotten once
        // all it sent is carried out.
        if (!sent || gone) {
            done(sent ? rprt::kOk : rprt::kIo);
            return forgetWhenDone(client);
        }
        // The frame went out at once; the client hears what the radio made of it.
        radio_.onAnswer([this, self, done](Answer answer) {
            if (!self.lock())
                return;
            switch (answer) {
            case Answer::Done: return done(rprt::kOk);
            case Answer::Refused: return done(rprt::kRejected);
            case Answer::EchoOnly:
            case Answer::Nothing:
            case Answer::Noise: break;
            }
            // An interface that never carries anything back cannot say; one that has, would have.
            done(radio_.everHeard() ? rprt::kTimeout : rprt::kOk);
        });
    });
}

bool RigctlClients::transmitting() const { return radio_.ptt() == PttState::Transmit; }

void RigctlClients::ask(std::vector<std::uint8_t> frame, bool wantsData, std::function<void(const CivReply&)> reply)
{
    // Whichever comes first, the radio's reply or the deadline, answers.
    struct Pending {
        std::function<void(const CivReply&)> reply;
        RadioLink::Ticket ticket = 0;
    };
    const auto pending = std::make_shared<Pending>(Pending{std::move(reply), 0});
    const auto finish = [pending](const CivReply& r) {
        if (const auto reply = std::exchange(pending->reply, nullptr))
            reply(r);
    };
    pending->ticket = radio_.ask(std::move(frame), wantsData, finish);
    if (!pending->reply)
        return;
    after_(kReadDeadlineMs, [this, pending, finish, self = std::weak_ptr(self_)] {
        if (!self.lock())
            return;
        radio_.cancel(pending->ticket);
        finish({CivReply::Kind::Timeout, {}});
    });
}

} // namespace torvak
