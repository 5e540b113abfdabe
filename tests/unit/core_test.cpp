#include "core/host_command.h"
#include "core/ptt_controller.h"
#include "fakes.h"

#include <gtest/gtest.h>


using namespace torvak;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Wire : FrameWriter {
    Bytes bytes;
    bool broken = false;
    Status writeFrame(const Frame& f) override
    {
        if (broken)
            return Status::failure("the radio port is not open");
        bytes.insert(bytes.end(), f.begin(), f.end());
        return Status::success();
    }
};

struct TestLamp : LampView {
    Rgb colour = kReceiveGreen;
    Rgb fillColour() const override { return colour; }
    void setFillColour(Rgb c) override { colour = c; }
};

const Bytes kTx{0xFE, 0xFE, 0x04, 0xE0, 0x16, 0x01, 0xFD};
const Bytes kRx{0xFE, 0xFE, 0x04, 0xE0, 0x16, 0x02, 0xFD};

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Ptt : ::testing::Test {
    Wire wire;
    TestLamp lamp;
    int closes = 0;
    std::vector<bool> results;
    PttController ptt{wire, lamp, [this] { ++closes; }, [this](const Status& s) { results.push_back(s.ok()); }};
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
    EXPECT_EQ(wire.bytes, cat({kTx, kTx, kRx}));

    // Ignored pairs write nothing and leave the lamp alone.
    for (auto [c, s] : {std::pair{0, 2}, {0, -1}, {0, INT32_MAX}, {2, 1}, {-1, 0}, {INT32_MIN, 1}})
        ptt.ptt(c, s);
    EXPECT_EQ(wire.bytes.size(), 21u);
    EXPECT_EQ(lamp.colour, kReceiveGreen);
    EXPECT_EQ(closes, 0);
}

TEST_F(Ptt, CloseWritesNoFrameWhateverTheState)
{
    ptt.ptt(0, 1);
    ptt.ptt(1, 0);
    ptt.ptt(1, 1);
    ptt.ptt(1, -7);
    EXPECT_EQ(closes, 3);
    EXPECT_EQ(wire.bytes, kTx);
    EXPECT_EQ(lamp.colour, kTransmitRed);
}

TEST_F(Ptt, LampClickTogglesThroughTheFrames)
{
    ptt.lampClick();
    EXPECT_EQ(lamp.colour, kTransmitRed);
    ptt.lampClick();
    EXPECT_EQ(lamp.colour, kReceiveGreen);
    EXPECT_EQ(wire.bytes, cat({kTx, kRx}));

    lamp.colour = Rgb{0, 0, 255}; // any colour but red means "go to transmit"
    ptt.lampClick();
    EXPECT_EQ(lamp.colour, kTransmitRed);
}

TEST_F(Ptt, FailedWriteLeavesTheLampAndIsReported)
{
    ptt.ptt(0, 1);
    wire.broken = true;
    ptt.ptt(0, 0);
    ptt.lampClick();
    EXPECT_EQ(lamp.colour, kTransmitRed);
    EXPECT_EQ(results, (std::vector<bool>{true, false, false}));
    wire.broken = false;
    ptt.lampClick();
    EXPECT_EQ(lamp.colour, kReceiveGreen);
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
