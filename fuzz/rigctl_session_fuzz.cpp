// SPDX-License-Identifier: GPL-3.0-or-later
// Whatever a rigctl client sends, cut anywhere, with the radio answering
// anything at any time: the session asks one question at a time, each a
// well-formed CI-V frame, answers in whole lines, and outlives no reply; a
// session refused (no rigctl, or HTTP) reads nothing more.
#include "check.h"
#include "rigctl/rigctl_session.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace torvak;

namespace {

struct Radio : RigctlRadio {
    const std::uint8_t* choices;
    std::size_t left;
    std::vector<std::function<void()>> later;
    int waiting = 0;

    std::uint8_t choose() { return left > 0 ? (--left, *choices++) : 0; }
    void setPtt(std::uint64_t, bool, std::function<void(int)> done) override { done(choose() % 2 ? 0 : -6); }
    bool transmitting() const override { return left % 2; }
    void ask(std::vector<std::uint8_t> frame, bool, std::function<void(const CivReply&)> reply) override
    {
        check(waiting == 0, "a second question before the first was answered");
        check(frame.size() >= 6 && frame[0] == 0xFE && frame[1] == 0xFE && frame[2] == 0x04 && frame[3] == 0xE0
                  && frame.back() == 0xFD, "a question that is no CI-V frame");
        for (std::size_t i = 4; i + 1 < frame.size(); ++i)
            check(frame[i] < 0xFD, "a frame's end or preamble byte inside a question");
        const std::uint8_t how = choose();
        CivReply r{static_cast<CivReply::Kind>(how % 6), {0xFE, 0xFE, 0xE0, 0x04, frame[4]}};
        for (std::uint8_t n = how / 6 % 8; n > 0; --n)
            r.frame.push_back(choose());
        r.frame.push_back(0xFD);
        ++waiting;
        const auto answer = [this, reply, r] { --waiting, reply(r); };
        if (how & 0x80)
            later.push_back(answer);
        else
            answer();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first half's bytes are the client's; the rest chooses the radio's replies.
    Radio radio;
    radio.choices = data + size / 2;
    radio.left = size - size / 2;
    std::string said;
    auto session = std::make_unique<RigctlSession>(1, radio, [&](std::string_view text) {
        check(!text.empty() && text.back() == '\n', "an answer that is not whole lines");
        said += text;
    });
    std::string_view client(reinterpret_cast<const char*>(data), size / 2);
    for (int turns = 0; turns < 1000 && (!client.empty() || !radio.later.empty()); ++turns) {
        check(session->refusal().empty() || session->room() == 0, "a refused session reads on");
        const std::size_t room = session->room();
        check(room <= RigctlSession::kLongestLine + 1, "room for more than a line");
        const std::size_t n = std::min({client.size(), room, std::size_t{1} + radio.choose() % 64});
        if (n > 0) {
            session->feed(client.substr(0, n));
            client.remove_prefix(n);
        } else if (!radio.later.empty()) {
            const auto answer = radio.later.back();
            radio.later.pop_back();
            if (radio.choose() == 0xFF)
                session.reset(); // the client left before its answer
            answer();
            if (!session)
                break;
        } else {
            break; // ended ("q")
        }
    }
    return 0;
}
