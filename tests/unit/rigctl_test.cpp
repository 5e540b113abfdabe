// SPDX-License-Identifier: GPL-3.0-or-later
// A rigctl client's lines against a radio that answers as scripted: what the
// client reads back and which CI-V frames the radio is asked.
#include "rigctl/rigctl_session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <memory>

using namespace torvak;

namespace {

// The radio as the session sees it: each question takes the next scripted
// reply, "=" and the answer's data bytes in hex, or done, ng, late, closed;
// "later" keeps it waiting until waiting() is called.
struct ScriptedRadio : RigctlRadio {
    std::deque<std::string> script;
    std::string asked; // "03 | 05 00 40 07 14 00 | T1 ..."
    bool keyed = false;
    std::function<void()> waiting;

    void setPtt(std::uint64_t, bool transmit, std::function<void(int)> done) override
    {
        asked += std::string(asked.empty() ? "" : " | ") + ((keyed = transmit) ? "T1" : "T0");
        done(0);
    }
    bool transmitting() const override { return keyed; }
    void ask(std::vector<std::uint8_t> frame, bool, std::function<void(const CivReply&)> reply) override
    {
        for (std::size_t i = 4; i + 1 < frame.size(); ++i) {
            char b[8];
            std::snprintf(b, sizeof b, i > 4 ? " %02X" : asked.empty() ? "%02X" : " | %02X", frame[i]);
            asked += b;
        }
        const std::string next = script.empty() ? "late" : script.front();
        script.erase(script.begin(), script.begin() + !script.empty());
        CivReply r{next == "done" ? CivReply::Kind::Done : next == "ng" ? CivReply::Kind::Refused
                       : next == "closed" ? CivReply::Kind::NotOpen : next == "late" ? CivReply::Kind::Timeout
                                                                                       : CivReply::Kind::Data,
                   {0xFE, 0xFE, 0xE0, 0x04, frame[4]}};
        for (std::size_t i = 1; next[0] == '=' && i + 1 < next.size(); i += 3)
            r.frame.push_back(static_cast<std::uint8_t>(std::stoi(next.substr(i, 2), nullptr, 16)));
        r.frame.push_back(0xFD);
        if (next == "later")
            r.frame = {0xFE, 0xFE, 0xE0, 0x04, frame[4], 0x01, 0x02, 0xFD};
        waiting = [reply, r] { reply(r); };
        if (next != "later")
            waiting();
    }
};

struct Conversation {
    ScriptedRadio radio;
    std::string said;
    RigctlSession session{7, radio, [this](std::string_view text) { said += text; }};
    void feed(std::string_view bytes) // as the server does: never more than there is room for
    {
        for (std::size_t n; !bytes.empty() && (n = std::min(bytes.size(), session.room())) > 0; bytes.remove_prefix(n))
            session.feed(bytes.substr(0, n));
    }
};

} // namespace

TEST(Rigctl, EachCommandAsksTheRadioAndAnswersAsRigctldDoes)
{
    const std::tuple<const char*, std::deque<std::string>, const char*, const char*> rows[] = {
        // lines, the radio's replies, the frames asked, what the client reads
        {"f\n", {"=00 40 07 14 00"}, "03", "14074000\n"},
        {"+f\n", {"=00 40 07 14 00"}, "03", "get_freq:\nFrequency: 14074000\nRPRT 0\n"},
        {"\\get_freq\n", {"late"}, "03", "RPRT -5\n"},
        {"f\n", {"closed"}, "03", "RPRT -6\n"},
        {"f\n", {"=00 4A 07 14 00"}, "03", "RPRT -8\n"},
        {"F 14074000.000000\n", {"done"}, "05 00 40 07 14 00", "RPRT 0\n"},
        {"F 7074000\n", {"ng"}, "05 00 40 07 07 00", "RPRT -9\n"},
        {"+F 7074000\n", {"done"}, "05 00 40 07 07 00", "set_freq: 7074000\nRPRT 0\n"},
        {"F -1\nF 1e10\nF abc\nF\n", {}, "", "RPRT -1\nRPRT -1\nRPRT -1\nRPRT -1\n"},
        {"m\n", {"=03 02"}, "04", "CW\n500\n"},
        {"m\n", {"=01"}, "04", "USB\n2400\n"},
        {"+m\n", {"=05 01"}, "04", "get_mode:\nMode: FM\nPassband: 15000\nRPRT 0\n"},
        {"m\n", {"=09 01"}, "04", "RPRT -8\n"},
        {"M USB 0\nM USB 3000\nM CW 250\nM FM -1\n", {"done", "done", "done", "done"},
         "06 01 02 | 06 01 01 | 06 03 03 | 06 05", "RPRT 0\nRPRT 0\nRPRT 0\nRPRT 0\n"},
        {"M XYZ 0\nM USB\nM USB -2\n", {}, "", "RPRT -1\nRPRT -1\nRPRT -1\n"},
        {"V VFOB\nv\nV VFOA\nV currVFO\nV VFOC\nv\n", {"done", "ng"}, "07 01 | 07 00", "RPRT 0\nVFOB\nRPRT -9\nRPRT 0\nRPRT -1\nVFOB\n"},
        {"s\nS 1 VFOB\ns\nS 2 VFOB\nS 1 VFOX\n", {"=00", "done", "=01"}, "0F | 0F 01 | 0F", "0\nVFOA\nRPRT 0\n1\nVFOB\nRPRT -1\nRPRT -1\n"},
        // PTT: 0 releases, 1 to 3 key; the long form and "T1" too.
        {"T 1\nt\nT 0\nt\nT 2\n\\set_ptt 3\nT1\nT 4\nT x\n+t\n", {}, "T1 | T0 | T1 | T1 | T1",
         "RPRT 0\n1\nRPRT 0\n0\nRPRT 0\nRPRT 0\nRPRT 0\nRPRT -1\nRPRT -1\nget_ptt:\nPTT: 1\nRPRT 0\n"},
        // What Hamlib's client asks on connecting, and what it gets for what there is not.
        {"\\chk_vfo\n\\get_lock_mode\n\\get_powerstat\n\\send_morse CQ\n\\dump_caps\nZ\n#\n", {}, "", "0\n0\nRPRT -11\nRPRT -11\nRPRT -11\nRPRT -11\nRPRT -1\n"},
        // The extended answer: "+" parts it by lines, ";", "|" and "," by themselves.
        {";f\n|T 1\n,\\get_vfo_info VFOA\n", {"=00 40 07 14 00"}, "03 | T1",
         "get_freq:;Frequency: 14074000;RPRT 0\nset_ptt: 1|RPRT 0\nget_vfo_info: VFOA,RPRT -11\n"},
        {"  f \r\n\n\t\n", {"=00 40 07 14 00"}, "03", "14074000\n"},
        {"q\nf\n", {}, "", "RPRT 0\n"},
    };
    for (const auto& [lines, replies, asked, said] : rows) {
        Conversation c;
        c.radio.script = replies;
        c.feed(lines);
        EXPECT_EQ(c.radio.asked, asked) << lines;
        EXPECT_EQ(c.said, said) << lines;
        EXPECT_TRUE(c.session.idle()) << lines << ": a line is left waiting, nothing after a quit is carried out";
    }
    Conversation c;
    c.feed("\\dump_state\n");
    EXPECT_TRUE(c.said.starts_with("1\n0\n1\n")) << "protocol 1, no Hamlib model, ITU region 1";
    EXPECT_NE(c.said.find("\nptt_type=0x1\n"), std::string::npos) << "clients send T only to a radio keyed by CAT";
    EXPECT_TRUE(c.said.ends_with("\ndone\n"));
}

// A line too long, bytes cut anywhere, lines sent ahead: PTT carried out as
// it is read, any other command once the line before it is answered, every
// answer in order, and a session gone before its reply.
TEST(Rigctl, LinesComeCutAndAheadAndTooLong)
{
    Conversation c;
    c.radio.script = {"later", "=00 40 07 14 00"};
    c.feed(std::string(3000, 'x') + "\nm\nf\nT 1\n");
    EXPECT_EQ(c.said, "RPRT -1\n") << "the long line is refused once";
    EXPECT_EQ(c.radio.asked, "04 | T1") << "f waits until m is answered; T does not";
    c.radio.waiting();
    EXPECT_EQ(c.said, "RPRT -1\nUSB\n2400\n14074000\nRPRT 0\n");

    Conversation cut;
    cut.radio.script = {"=00 40 07 14 00"};
    for (const char ch : std::string("T 1\n+f\n"))
        cut.feed(std::string(1, ch));
    EXPECT_EQ(cut.said, "RPRT 0\nget_freq:\nFrequency: 14074000\nRPRT 0\n");

    // Only a rigctl client is heard: an HTTP request (a web page's POST) or a
    // first line that is no command ends the session there.
    for (const auto& [lines, asked, refusal] : {std::tuple{"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\nT 1\nq\n", "", "spoke HTTP"},
                                                {"T 1\nContent-Type: text/plain\nT 0\n", "T1", "spoke HTTP"},
                                                {"hello\nT 1\n", "", "did not speak rigctl"},
                                                {"\\chk_vfo\nT 1\n", "T1", ""}}) {
        Conversation http;
        http.feed(lines);
        EXPECT_EQ(http.radio.asked, asked) << lines;
        EXPECT_EQ(http.session.refusal(), refusal) << lines;
    }

    ScriptedRadio radio; // the radio answers after the session is gone: to nobody
    radio.script = {"later"};
    std::string said;
    auto gone = std::make_unique<RigctlSession>(7, radio, [&](std::string_view text) { said += text; });
    gone->feed("m\n");
    gone.reset();
    radio.waiting();
    EXPECT_EQ(said, "");
}
