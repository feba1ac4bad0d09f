// Decoding the marks of a terminal with PARMRK: breaks, characters with a
// line error and the doubled data byte 0xFF, also when a mark is split
// across reads.
#include "serial/parmrk_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using zel::DecodedInput;
using zel::ParmrkDecoder;

std::string B(const char* s, size_t n) { return std::string(s, n); }

struct Case {
    const char* name;
    std::string raw;
    std::string data;
    unsigned breaks;
    unsigned errors;
    bool lf;
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"plain text", "12 OK\r\n", "12 OK\r\n", 0, 0, true},
        {"data byte FF", B("a\xff\xff" "b", 4), B("a\xff" "b", 3), 0, 0, false},
        {"two data bytes FF", B("\xff\xff\xff\xff", 4), B("\xff\xff", 2), 0, 0, false},
        {"break", B("x\xff\0\0y", 5), "xy", 1, 0, false},
        {"two breaks", B("\xff\0\0\xff\0\0", 6), "", 2, 0, false},
        {"character with an error", B("\xff\0" "a", 3), "a", 0, 1, false},
        {"line feed with an error still ends a line", B("1\r\xff\0\n", 5), "1\r\n", 0, 1, true},
        {"marked FF with an error", B("\xff\0\xff", 3), B("\xff", 1), 0, 1, false},
        {"break then FF data", B("\xff\0\0\xff\xff", 5), B("\xff", 1), 1, 0, false},
        {"stray FF keeps both bytes", B("\xff" "A", 2), B("\xff" "A", 2), 0, 0, false},
        {"NUL data is data", B("\0\0", 2), B("\0\0", 2), 0, 0, false},
        {"empty", "", "", 0, 0, false},
    };
    return cases;
}

void Expect(const Case& c, const DecodedInput& out, const ParmrkDecoder& d, const std::string& how) {
    EXPECT_EQ(out.data, c.data) << c.name << how;
    EXPECT_EQ(out.breaks, c.breaks) << c.name << how;
    EXPECT_EQ(out.errors, c.errors) << c.name << how;
    EXPECT_EQ(out.sawEventChar, c.lf) << c.name << how;
    EXPECT_FALSE(d.Pending()) << c.name << how;
}

TEST(ParmrkDecoder, DecodesEveryKindOfMark) {
    for (const Case& c : Cases()) {
        ParmrkDecoder d;
        DecodedInput out;
        d.Feed(c.raw.data(), c.raw.size(), out, '\n');
        Expect(c, out, d, " (one read)");
    }
}

TEST(ParmrkDecoder, GivesTheSameResultWhereverAReadEnds) {
    for (const Case& c : Cases()) {
        // Every split into two reads.
        for (size_t cut = 0; cut <= c.raw.size(); ++cut) {
            ParmrkDecoder d;
            DecodedInput out;
            d.Feed(c.raw.data(), cut, out, '\n');
            d.Feed(c.raw.data() + cut, c.raw.size() - cut, out, '\n');
            Expect(c, out, d, " (cut at " + std::to_string(cut) + ")");
        }
        // One byte per read.
        ParmrkDecoder d;
        DecodedInput out;
        for (char ch : c.raw) d.Feed(&ch, 1, out, '\n');
        Expect(c, out, d, " (byte by byte)");
    }
}

TEST(ParmrkDecoder, HoldsBackAnUnfinishedMarkUntilResetOrCompleted) {
    ParmrkDecoder d;
    DecodedInput out;
    d.Feed("\xff", 1, out);
    EXPECT_TRUE(d.Pending());
    EXPECT_EQ(out.data, "");
    d.Feed("\0", 1, out);
    EXPECT_TRUE(d.Pending());
    d.Reset();  // the rest of the mark was flushed with the input
    d.Feed("\0" "A", 2, out);
    EXPECT_EQ(out.data, B("\0" "A", 2));
    EXPECT_EQ(out.breaks, 0u);
    EXPECT_FALSE(d.Pending());
}

// Random lines encoded as the terminal would, decoded in random pieces,
// must come back as they were.
TEST(ParmrkDecoder, RoundTripsRandomMarkedStreams) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 300; ++round) {
        std::string raw, data;
        unsigned breaks = 0, errors = 0;
        const int items = std::uniform_int_distribution<int>(0, 200)(rng);
        for (int i = 0; i < items; ++i) {
            const int kind = std::uniform_int_distribution<int>(0, 9)(rng);
            const char c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
            if (kind == 0) {
                raw += B("\xff\0\0", 3);
                ++breaks;
            } else if (kind == 1 && c != '\0') {
                raw += B("\xff\0", 2);
                raw += c;
                data += c;
                ++errors;
            } else if (c == '\xff') {
                raw += B("\xff\xff", 2);
                data += c;
            } else {
                raw += c;
                data += c;
            }
        }
        ParmrkDecoder d;
        DecodedInput out;
        size_t pos = 0;
        while (pos < raw.size()) {
            const size_t n = std::min(raw.size() - pos, size_t(std::uniform_int_distribution<int>(1, 7)(rng)));
            d.Feed(raw.data() + pos, n, out, '\n');
            pos += n;
        }
        ASSERT_EQ(out.data, data) << "round " << round;
        ASSERT_EQ(out.breaks, breaks) << "round " << round;
        ASSERT_EQ(out.errors, errors) << "round " << round;
        ASSERT_EQ(out.sawEventChar, data.find('\n') != std::string::npos) << "round " << round;
        ASSERT_FALSE(d.Pending());
    }
}

}  // namespace
