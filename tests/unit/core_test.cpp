// SPDX-License-Identifier: GPL-3.0-or-later
// The PTT rules and the host records, over the real radio port on a fake line.
#include "core/command_queue.h"
#include "port/radio_port.h"
#include "support/fakes.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace torvak;
using namespace torvak::test;

namespace {

std::string framesOf(const std::vector<std::uint8_t>& wire) // "T R ..."
{
    std::string out;
    for (std::size_t at = 0; at + kFrameSize <= wire.size(); at += kFrameSize) {
        const Frame f{wire[at], wire[at + 1], wire[at + 2], wire[at + 3], wire[at + 4], wire[at + 5], wire[at + 6]};
        out += std::string(out.empty() ? "" : " ") + (f == kTransmitFrame ? "T" : f == kReceiveFrame ? "R" : "?");
    }
    return wire.size() % kFrameSize ? out + " (cut)" : out;
}

struct Rig {
    FakeDevice device;
    RadioPort port{device, [](int) { return std::string("/dev/radio"); }};
    TestLamp lamp;
    int closes = 0;
    std::string reports; // each frame: + handed to the port, - not
    PttController ptt{port, lamp, [this] { ++closes; }, [this](const Status& s) { reports += s ? '+' : '-'; }};
    Rig() { EXPECT_TRUE(port.open()); }
};

} // namespace

// Every command pair from either lamp: the frame first, then the lamp; every
// command writes again; a frame that cannot go out leaves the lamp as it was.
TEST(Ptt, TheCommandTable)
{
    const Rgb G = kReceiveGreen, R = kTransmitRed;
    const std::tuple<Rgb, bool, std::int32_t, std::int32_t, const char*, Rgb, int> cases[] = {
        {G, true, 0, 1, "T", R, 0},         {R, true, 0, 1, "T", R, 0},         {R, true, 0, 0, "R", G, 0},
        {G, true, 0, 0, "R", G, 0},         {G, true, 0, 2, "", G, 0},          {R, true, 0, -1, "", R, 0},
        {G, true, 0, INT32_MAX, "", G, 0},  {G, true, 2, 1, "", G, 0},          {R, true, INT32_MIN, 1, "", R, 0},
        {R, true, 1, 0, "", R, 1},          {G, true, 1, -7, "", G, 1},         {R, false, 0, 0, "", R, 0},
        {G, false, 0, 1, "", G, 0},         {Rgb{0, 0, 255}, true, 0, 1, "T", R, 0},
    };
    for (const auto& [before, open, command, state, wire, after, closes] : cases) {
        Rig rig;
        rig.lamp.colour = before;
        if (!open)
            rig.port.close();
        rig.ptt.ptt(command, state);
        EXPECT_EQ(framesOf(rig.device.wire) + "," + std::to_string(rig.closes), wire + ("," + std::to_string(closes)))
            << command << "," << state;
        EXPECT_EQ(rig.lamp.colour, after) << command << "," << state;
    }
}

// Whatever goes wrong, once the line carries bytes again its last frame is
// the last command carried out, and the lamp shows it. A receive the port
// cannot take waits for it; a transmit it cannot take is dropped.
TEST(Ptt, TheRadioEndsInTheStateLastCarriedOut)
{
    const Rgb G = kReceiveGreen, R = kTransmitRed;
    const std::tuple<const char*, const char*, Rgb, const char*> cases[] = { // steps, wire once drained, lamp, reports
        {"tx rx", "T R", G, "++"},                       {"click click click", "T R T", R, "+++"},
        {"close tx open", "", G, "-"},                   {"tx close rx", "T", R, "+-"},
        {"tx close click", "T", R, "+-"},                {"tx close rx open", "T R", G, "+-+"},
        {"tx close rx rx open", "T R", G, "+--+"},       {"tx close rx tx open", "T", R, "+--"},
        {"tx close click open", "T R", G, "+-+"},        {"tx stall rx drain", "T R", G, "++"},
        {"stall tx tx drain", "T", R, "+-"},             {"stall tx rx tx tx drain", "R", G, "++--"},
        {"stall rx tx rx rx tx close", "R", G, "+-++-"}, {"tx stall tx close rx open", "T T R", G, "++-+"},
    };
    for (const auto& [steps, wire, lamp, reports] : cases) {
        Rig rig;
        std::istringstream in(steps);
        for (std::string step; in >> step;) {
            if (step == "tx" || step == "rx")
                rig.ptt.ptt(kCommandPtt, step == "tx" ? kStateTransmit : kStateReceive);
            else if (step == "click")
                rig.ptt.lampClick();
            else if (step == "stall" || step == "drain")
                step == "stall" ? void(rig.device.stalled = true) : rig.device.drain();
            else if (step == "close")
                rig.port.close();
            else if (rig.port.open())
                rig.ptt.portReady();
        }
        rig.device.drain();
        EXPECT_EQ(framesOf(rig.device.wire) + " " + rig.reports, std::string(wire) + " " + reports) << steps;
        EXPECT_EQ(rig.lamp.colour, lamp) << steps;
    }
}

// Records cut anywhere come out whole, once each, in the order their last
// byte was read, whichever connection they came on; a connection that closes
// mid-record leaves nothing behind; reading ahead has a bound.
TEST(HostRecords, OneQueueInReadOrder)
{
    const std::vector<HostCommand> sent{{0, 1}, {0, 0}, {-1, INT32_MIN}, {INT32_MAX, 7}};
    std::vector<std::uint8_t> stream;
    for (const auto& c : sent) {
        const Record r = encodeRecord(c);
        stream.insert(stream.end(), r.begin(), r.end());
    }
    EXPECT_EQ(std::vector(stream.begin(), stream.begin() + 8), (std::vector<std::uint8_t>{0, 0, 0, 0, 1, 0, 0, 0}));
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        CommandQueue queue(16);
        queue.feed(3, {stream.data(), cut});
        queue.feed(3, {stream.data() + cut, stream.size() - cut});
        std::vector<HostCommand> got;
        while (const auto c = queue.next())
            got.push_back(*c);
        ASSERT_EQ(got, sent) << "cut at " << cut;
    }
    CommandQueue queue(1);
    const Record tx = encodeRecord({0, 1}), rx = encodeRecord({0, 0});
    queue.feed(1, {tx.data(), 5});
    queue.feed(2, rx);
    queue.feed(1, {tx.data() + 5, 3});
    EXPECT_EQ(queue.room(), 0u) << "a completed half record took it past its bound";
    EXPECT_EQ(queue.next(), (HostCommand{0, 0}));
    EXPECT_EQ(queue.next(), (HostCommand{0, 1}));
    queue.feed(1, {rx.data(), 5});
    EXPECT_EQ(queue.close(1), 5u);
    queue.feed(1, tx); // a new connection on the same descriptor
    EXPECT_EQ(queue.next(), (HostCommand{0, 1}));
    EXPECT_EQ(queue.next(), std::nullopt);
}
