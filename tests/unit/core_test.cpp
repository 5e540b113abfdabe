// SPDX-License-Identifier: GPL-3.0-or-later
// The PTT rules and the host records, over the real radio port on a fake line.
#include "core/command_queue.h"
#include "port/radio_port.h"
#include "support/fakes.h"

#include <gtest/gtest.h>

#include <cstdio>
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
    std::string reports; // each frame: + handed to the port, - not; x: the window closed
    PttController ptt{port, lamp, [this] { reports += 'x'; }, [this](const Status& s) { reports += s ? '+' : '-'; }};
    Rig() { EXPECT_TRUE(port.open()); }
};

} // namespace

// Every command writes its frame first, then sets the lamp; a frame that
// cannot go out leaves the lamp as it was. Whatever goes wrong, once the line
// carries bytes again its last frame is the last command carried out, and the
// lamp shows it: a receive the port cannot take waits for it, a transmit it
// cannot take is dropped. Steps: tx rx click, any pair "c,s", blue (the lamp),
// stall drain (the line), close open (the port).
TEST(Ptt, TheRadioEndsInTheStateLastCarriedOut)
{
    const Rgb G = kReceiveGreen, R = kTransmitRed;
    const std::tuple<const char*, const char*, Rgb, const char*> cases[] = { // steps, wire once drained, lamp, reports (x: close)
        {"tx tx rx rx", "T T R R", G, "++++"},          {"0,2 0,-1 0,2147483647 2,1 -2147483648,1", "", G, ""},
        {"tx 0,2 -1,0", "T", R, "+"},                    {"tx 1,0 1,-7", "T", R, "+xx"},
        {"blue tx", "T", R, "+"},                        {"blue click click", "T R", G, "++"},
        {"click click click", "T R T", R, "+++"},        {"close rx", "", G, "-"},
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
            std::int32_t command = 0, state = 0;
            if (step == "tx" || step == "rx")
                rig.ptt.ptt(kCommandPtt, step == "tx" ? kStateTransmit : kStateReceive);
            else if (std::sscanf(step.c_str(), "%d,%d", &command, &state) == 2)
                rig.ptt.ptt(command, state);
            else if (step == "blue")
                rig.lamp.colour = Rgb{0, 0, 255};
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

// One queue for every connection, in the order records complete; a
// connection that closes mid-record leaves nothing behind; reading ahead stops
// at the bound, even when a half record completes past it. Records go out
// little-endian.
TEST(HostRecords, OneQueueInReadOrder)
{
    const Record tx = encodeRecord({0, 1}), rx = encodeRecord({0, 0});
    EXPECT_EQ(std::vector(tx.begin(), tx.end()), (std::vector<std::uint8_t>{0, 0, 0, 0, 1, 0, 0, 0}));
    CommandQueue queue(1);
    queue.feed(1, {tx.data(), 5});
    queue.feed(2, rx);
    queue.feed(1, {tx.data() + 5, 3});
    EXPECT_EQ(queue.room(), 0u);
    EXPECT_EQ(queue.next(), (HostCommand{0, 0}));
    EXPECT_EQ(queue.next(), (HostCommand{0, 1}));
    queue.feed(1, {rx.data(), 5});
    EXPECT_EQ(queue.close(1), 5u);
    queue.feed(1, tx); // a new connection on the same descriptor
    EXPECT_EQ(queue.next(), (HostCommand{0, 1}));
    EXPECT_EQ(queue.next(), std::nullopt);
}
