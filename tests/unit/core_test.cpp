// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/host_command.h"
#include "core/ptt_controller.h"
#include "fakes.h"

#include "port/radio_port.h"

#include <gtest/gtest.h>

#include <sstream>


using namespace torvak;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct TestLamp : LampView {
    Rgb colour = kReceiveGreen;
    Rgb fillColour() const override { return colour; }
    void setFillColour(Rgb c) override { colour = c; }
};

const Bytes kTx{0xFE, 0xFE, 0x04, 0xE0, 0x16, 0x01, 0xFD};
const Bytes kRx{0xFE, 0xFE, 0x04, 0xE0, 0x16, 0x02, 0xFD};

// The frames on a wire as "T R ...".
std::string framesOf(const Bytes& wire)
{
    std::string out;
    for (std::size_t at = 0; at + 7 <= wire.size(); at += 7) {
        const Bytes f(wire.begin() + static_cast<long>(at), wire.begin() + static_cast<long>(at) + 7);
        out += out.empty() ? "" : " ";
        out += f == kTx ? "T" : f == kRx ? "R" : "?";
    }
    return wire.size() % 7 ? out + " (cut)" : out;
}

// The controller over the real radio port, on a line that can stall.
struct Ptt : ::testing::Test {
    test::FakeDevice device;
    RadioPort port{device, [](int) { return std::string("/dev/radio"); }};
    TestLamp lamp;
    int closes = 0;
    std::vector<bool> results;
    PttController ptt{port, lamp, [this] { ++closes; }, [this](const Status& s) { results.push_back(s.ok()); }};
    void SetUp() override { ASSERT_TRUE(port.open()); }
};

} // namespace

TEST_F(Ptt, CommandTableWritesWholeFramesThenSetsTheLamp)
{
    ptt.ptt(0, 1);
    EXPECT_EQ(lamp.colour, kTransmitRed);
    ptt.ptt(0, 1); // no repeat suppression
    EXPECT_EQ(lamp.colour, kTransmitRed);
    ptt.ptt(0, 0);
    EXPECT_EQ(lamp.colour, kReceiveGreen);
    EXPECT_EQ(framesOf(device.wire), "T T R");

    // Ignored pairs write nothing and leave the lamp alone.
    for (auto [c, s] : {std::pair{0, 2}, {0, -1}, {0, INT32_MAX}, {2, 1}, {-1, 0}, {INT32_MIN, 1}})
        ptt.ptt(c, s);
    EXPECT_EQ(device.wire.size(), 21u);
    EXPECT_EQ(lamp.colour, kReceiveGreen);
    EXPECT_EQ(closes, 0);

    // Close writes no frame, whatever the state.
    ptt.ptt(0, 1);
    for (int state : {0, 1, -7})
        ptt.ptt(1, state);
    EXPECT_EQ(closes, 3);
    EXPECT_EQ(framesOf(device.wire), "T T R T");
    EXPECT_EQ(lamp.colour, kTransmitRed);
}

TEST_F(Ptt, LampClickTogglesThroughTheFrames)
{
    ptt.lampClick();
    EXPECT_EQ(lamp.colour, kTransmitRed);
    ptt.lampClick();
    EXPECT_EQ(lamp.colour, kReceiveGreen);
    EXPECT_EQ(framesOf(device.wire), "T R");

    lamp.colour = Rgb{0, 0, 255}; // any colour but red means "go to transmit"
    ptt.lampClick();
    EXPECT_EQ(lamp.colour, kTransmitRed);
}

// Whatever goes wrong, once the line carries bytes again its last frame is
// the last command carried out, and the lamp shows it. A receive the port
// cannot take waits for it; a transmit it cannot take is dropped.
TEST_F(Ptt, TheRadioEndsInTheStateLastCarriedOut)
{
    struct Case {
        const char* steps; // tx rx click, stall drain, close open (the port)
        const char* wire;  // what the line sent, once drained
        Rgb lamp;
        const char* reports; // each frame: + handed to the port, - not
    };
    const Case cases[] = {
        {"tx rx", "T R", kReceiveGreen, "++"},
        {"close tx open", "", kReceiveGreen, "-"},
        {"tx close rx", "T", kTransmitRed, "+-"},
        {"tx close rx open", "T R", kReceiveGreen, "+-+"},
        {"tx close rx rx open", "T R", kReceiveGreen, "+--+"},
        {"tx close rx tx open", "T", kTransmitRed, "+--"},
        {"tx close click open", "T R", kReceiveGreen, "+-+"},
        {"tx stall rx drain", "T R", kReceiveGreen, "++"},
        {"stall tx tx drain", "T", kTransmitRed, "+-"},
        {"stall tx rx tx tx drain", "R", kReceiveGreen, "++--"},
        {"stall rx tx rx rx tx close", "R", kReceiveGreen, "+-++-"},
        {"tx stall tx close rx open", "T T R", kReceiveGreen, "++-+"},
    };
    for (const Case& c : cases) {
        test::FakeDevice device;
        RadioPort port{device, [](int) { return std::string("/dev/radio"); }};
        TestLamp lamp;
        std::string reports;
        PttController ptt{port, lamp, {}, [&](const Status& s) { reports += s ? '+' : '-'; }};
        ASSERT_TRUE(port.open());
        std::istringstream steps(c.steps);
        for (std::string step; steps >> step;) {
            if (step == "tx" || step == "rx")
                ptt.ptt(0, step == "tx" ? 1 : 0);
            else if (step == "click")
                ptt.lampClick();
            else if (step == "stall")
                device.stalled = true;
            else if (step == "drain")
                device.drain();
            else if (step == "close")
                port.close();
            else if (step == "open" && port.open())
                ptt.portReady();
        }
        device.drain();
        EXPECT_EQ(framesOf(device.wire), c.wire) << c.steps;
        EXPECT_EQ(lamp.colour, c.lamp) << c.steps;
        EXPECT_EQ(reports, c.reports) << c.steps;
    }
}

TEST(RecordReader, CutAtEveryByteYieldsTheSameRecordsInOrder)
{
    const std::vector<HostCommand> sent{{0, 1}, {0, 0}, {-1, INT32_MIN}, {INT32_MAX, 7}, {1, 0}};
    Bytes stream;
    for (const auto& c : sent) {
        const Record r = encodeRecord(c);
        stream.insert(stream.end(), r.begin(), r.end());
    }
    // Little-endian on the wire.
    EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 8), (Bytes{0, 0, 0, 0, 1, 0, 0, 0}));

    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        for (std::size_t cut2 = cut; cut2 <= stream.size(); cut2 += 3) {
            RecordReader reader;
            std::vector<HostCommand> got;
            auto sink = [&](const HostCommand& c) { got.push_back(c); };
            reader.feed({stream.data(), cut}, sink);
            reader.feed({stream.data() + cut, cut2 - cut}, sink);
            reader.feed({stream.data() + cut2, stream.size() - cut2}, sink);
            ASSERT_EQ(got, sent) << "cut at " << cut << " and " << cut2;
            EXPECT_EQ(reader.pendingBytes(), 0u);
        }
    }
}
