// The bounded input queue of a serial port: order, wrap-around, the bound
// under a flood, and the line events and error bits it reports.
#include "serial/receive_queue.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>

namespace {

using zel::TReceiveQueue;

std::string TakeAll(TReceiveQueue& q) {
    std::string out(q.Size(), '\0');
    out.resize(q.Take(&out[0], out.size()));
    return out;
}

TEST(ReceiveQueue, KeepsOrderAcrossWrapAroundLikeAPlainQueue) {
    TReceiveQueue q(61);  // a capacity no chunk size divides
    std::deque<char> model;
    std::mt19937 rng(7);
    char next = 0;
    for (int step = 0; step < 5000; ++step) {
        if (std::uniform_int_distribution<int>(0, 1)(rng)) {
            std::string chunk(std::uniform_int_distribution<size_t>(1, 20)(rng), '\0');
            for (char& c : chunk) c = static_cast<char>('a' + (next++ % 26));
            if (model.size() + chunk.size() > q.Capacity()) continue;  // overflow is tested below
            q.Feed(chunk.data(), chunk.size(), false, -1);
            model.insert(model.end(), chunk.begin(), chunk.end());
        } else {
            char out[32];
            const size_t want = std::uniform_int_distribution<size_t>(0, sizeof out)(rng);
            const size_t got = q.Take(out, want);
            ASSERT_EQ(got, std::min(want, model.size()));
            for (size_t i = 0; i < got; ++i) {
                ASSERT_EQ(out[i], model.front()) << "step " << step;
                model.pop_front();
            }
        }
        ASSERT_EQ(q.Size(), model.size());
    }
    EXPECT_EQ(q.TakeErrors(), 0u);
}

TEST(ReceiveQueue, AFloodWithoutLineEndsStaysBoundedAndKeepsTheNewestBytes) {
    TReceiveQueue q;
    std::string chunk(4096, 'x');
    unsigned lineErrorEvents = 0;
    for (int i = 0; i < 2560; ++i) {  // 10 MiB
        chunk[0] = static_cast<char>('A' + i % 26);
        const unsigned ev = q.Feed(chunk.data(), chunk.size(), true, '\n');
        EXPECT_EQ(ev & zel::kEvRxFlag, 0u);
        if (ev & zel::kEvErr) ++lineErrorEvents;
        ASSERT_LE(q.Size(), q.Capacity());
    }
    EXPECT_EQ(q.Size(), q.Capacity());
    EXPECT_EQ(lineErrorEvents, 1u) << "one line error per overflow, not one per read";
    EXPECT_EQ(q.TakeErrors(), zel::kCeRxOver);
    EXPECT_EQ(q.TakeErrors(), 0u) << "the error word is cleared by reading it";

    // The reply's line end arrives after the flood: it is kept and reported.
    const unsigned ev = q.Feed("1.5\r\n", 5, true, '\n');
    EXPECT_NE(ev & zel::kEvRxFlag, 0u);
    const std::string all = TakeAll(q);
    ASSERT_EQ(all.size(), q.Capacity());
    EXPECT_EQ(all.substr(all.size() - 5), "1.5\r\n");
    EXPECT_EQ(all[all.size() - 5 - 4096], static_cast<char>('A' + 2559 % 26)) << "newest chunk intact";

    // Drained: a new overflow is reported again.
    std::string big(q.Capacity() + 1, 'y');
    EXPECT_NE(q.Feed(big.data(), big.size(), false, -1) & zel::kEvErr, 0u);
    EXPECT_EQ(q.Size(), q.Capacity());
}

TEST(ReceiveQueue, ReportsMarkedLineEventsAndErrorBits) {
    struct Case {
        const char* name;
        std::string raw;
        bool parityCounted;
        unsigned events;
        unsigned errors;
        std::string data;
    };
    const Case cases[] = {
        {"line end", "0\r\n", false, zel::kEvRxFlag, 0, "0\r\n"},
        {"break", std::string("\xff\0\0", 3), false, zel::kEvBreak, zel::kCeBreak, ""},
        {"framing error", std::string("\xff\0" "a", 3), false, zel::kEvErr, zel::kCeFrame, "a"},
        {"parity error", std::string("\xff\0" "a", 3), true, zel::kEvErr, zel::kCeRxParity, "a"},
        {"all at once", std::string("\xff\0\0" "1\xff\0\r\n", 8), false,
         zel::kEvBreak | zel::kEvErr | zel::kEvRxFlag, zel::kCeBreak | zel::kCeFrame, "1\r\n"},
    };
    for (const Case& c : cases) {
        TReceiveQueue q;
        EXPECT_EQ(q.Feed(c.raw.data(), c.raw.size(), true, '\n', c.parityCounted), c.events) << c.name;
        EXPECT_EQ(q.TakeErrors(), c.errors) << c.name;
        EXPECT_EQ(TakeAll(q), c.data) << c.name;
    }
    TReceiveQueue plain;
    EXPECT_EQ(plain.Feed("\xff\0\0", 3, false, '\n'), 0u) << "unmarked lines carry 0xFF as data";
    EXPECT_EQ(plain.Size(), 3u);
    EXPECT_EQ(plain.AddErrors(zel::kCeOverrun), zel::kEvErr);
    EXPECT_EQ(plain.AddErrors(0), 0u);
    EXPECT_EQ(plain.TakeErrors(), zel::kCeOverrun);
}

TEST(ReceiveQueue, ClearDropsDataAndAHalfMarkButKeepsErrors) {
    TReceiveQueue q;
    q.Feed("\xff\0" "a", 3, true, '\n');
    q.Feed("rest\xff", 5, true, '\n');
    q.Clear();
    EXPECT_EQ(q.Size(), 0u);
    EXPECT_EQ(q.Feed("\0\0", 2, true, '\n'), 0u) << "no break from the flushed half mark";
    EXPECT_EQ(TakeAll(q), std::string("\0\0", 2));
    EXPECT_EQ(q.TakeErrors(), zel::kCeFrame);
}

}  // namespace
