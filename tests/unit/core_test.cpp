// SPDX-License-Identifier: GPL-3.0-or-later
// The host records: one queue for every connection.
#include "core/command_queue.h"

#include <gtest/gtest.h>

#include <vector>

using namespace torvak;

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
