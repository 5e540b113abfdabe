// SPDX-License-Identifier: GPL-3.0-or-later
// The host records, one queue for every connection; what the radio sends back.
#include "core/civ_reader.h"
#include "core/command_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace torvak;

// One queue for every connection, in the order records complete; a command
// from elsewhere goes after every byte the hosts had handed over before it; a
// connection that closes mid-record leaves nothing behind. Records go out
// little-endian.
TEST(HostRecords, OneOrderForEverySource)
{
    const Record tx = encodeRecord({0, 1}), rx = encodeRecord({0, 0});
    EXPECT_EQ(std::vector(tx.begin(), tx.end()), (std::vector<std::uint8_t>{0, 0, 0, 0, 1, 0, 0, 0}));
    std::string done;
    std::vector<std::uint8_t> kernel; // host 2's bytes not read yet
    CommandQueue* order = nullptr;
    CommandQueue queue([&] { order->feed(2, std::exchange(kernel, {})); },
                       [&](const HostCommand& c) { done += c.state ? "T" : "R"; });
    order = &queue;
    queue.feed(1, {tx.data(), 5});
    queue.feed(2, rx);
    queue.feed(1, {tx.data() + 5, 3});
    kernel.assign(tx.begin(), tx.end());
    queue.submit([&] { done += "r"; });
    EXPECT_TRUE(kernel.empty()) << "the hosts are read before a command from elsewhere joins";
    queue.feed(1, {rx.data(), 5});
    EXPECT_EQ(queue.close(1), 5u);
    queue.feed(1, tx); // a new connection on the same descriptor
    while (queue.carryOutNext()) {
    }
    EXPECT_EQ(done, "RTTrT");
}

// What comes back from the line, however the bytes are cut: our echo, the
// radio's answers (after any number of preambles), other traffic, and a run
// of noise told once, whether stray bytes, a frame cut by the next one, a
// lone preamble or a frame too short.
TEST(CivReader, EachFrameReadsTheSameHoweverTheBytesAreCut)
{
    const std::vector<std::uint8_t> stream{
        0xFE, 0xFE, 0x04, 0xE0, 0x16, 0x01, 0xFD, 0xFE, 0xFE, 0xE0, 0x04, 0xFB, 0xFD,
        0xFE, 0xFE, 0xFE, 0xE0, 0x04, 0xFA, 0xFD, 0xFE, 0xFE, 0xE0, 0x04, 0x03, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD,
        0xFE, 0xFE, 0x00, 0x58, 0x16, 0x02, 0xFD, 0x13, 0x37, 0x00, 0xFE, 0xFE, 0x04, 0xE0, 0x16,
        0xFE, 0xFE, 0xE0, 0x04, 0xFB, 0xFD, 0xFE, 0x13, 0xFD, 0xFE, 0xFE, 0xE0, 0xFD};
    const std::vector<Heard> expected{Heard::Echo, Heard::Done, Heard::Refused,
                                      Heard::Data, Heard::Other, Heard::Noise, Heard::Done, Heard::Noise};
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        CivReader reader;
        std::vector<Heard> heard;
        const auto sink = [&](Heard h) {
            heard.push_back(h);
            EXPECT_EQ(frequencyOf(reader.frame()), h == Heard::Data ? std::optional<std::uint64_t>(14074000) : std::nullopt);
        };
        reader.feed(std::span(stream).first(cut), sink);
        reader.feed(std::span(stream).subspan(cut), sink);
        EXPECT_EQ(heard, expected) << "cut at " << cut;
        EXPECT_EQ(reader.noise(), 7u) << "cut at " << cut;
    }
}
