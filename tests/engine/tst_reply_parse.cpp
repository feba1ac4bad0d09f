// Reply parsing: numeric tokens stored by scan code, decimals, version.
#include "engine/controller.h"
#include "platform/zel_system.h"
#include "support/library_state.h"

#include <gtest/gtest.h>

namespace {

class ReplyParse : public ::testing::Test {
protected:
    void SetUp() override { zel::ResetLibraryState(); }
    void TearDown() override { zel::ResetLibraryState(); }
    void Axes(int n) {
        for (int i = 0; i < n; ++i) c_.pCAxes.push_back(std::make_unique<zel::TAxis>());
    }
    // A reply as command execution leaves it: raw, and trimmed + converted.
    void Reply(const std::string& raw) {
        c_.sCRawReply = raw;
        std::string converted = raw;
        while (!converted.empty() && (converted.back() == '\r' || converted.back() == '\n')) converted.pop_back();
        const char sep = zel::SystemDecimalSeparator();
        for (char& ch : converted)
            if (ch == '.' || ch == ',') ch = sep;
        c_.sCReply = converted;
    }
    std::string Sys(std::string text) {
        for (char& ch : text)
            if (ch == '.') ch = zel::SystemDecimalSeparator();
        return text;
    }
    zel::TController c_{0};
};

TEST_F(ReplyParse, PositionsWithDecimalsFromTheLastTokenWithASeparator) {
    Axes(3);
    Reply("12.500 -3.25 0.0\r\n");
    ASSERT_TRUE(c_.KvCScanReply(25, -1));
    EXPECT_EQ(c_.pCAxes[0]->dAPos, 12.5);
    EXPECT_EQ(c_.pCAxes[1]->dAPos, -3.25);
    EXPECT_EQ(c_.pCAxes[2]->dAPos, 0.0);
    EXPECT_EQ(c_.nCPosDecimals, 1);
    EXPECT_EQ(c_.pCAxes[0]->sAPos, Sys("12.500"));

    zel::State().rawReply = true;
    ASSERT_TRUE(c_.KvCScanReply(25, -1));
    EXPECT_EQ(c_.pCAxes[1]->sAPos, "-3.25");
}

TEST_F(ReplyParse, TokenWithoutSeparatorKeepsTheCandidate) {
    Axes(2);
    Reply("1.00000 2\r\n");
    ASSERT_TRUE(c_.KvCScanReply(25, -1));
    EXPECT_EQ(c_.nCPosDecimals, 5);
    Reply("1,5 2,5\r\n");
    ASSERT_TRUE(c_.KvCScanReply(25, -1));
    EXPECT_EQ(c_.pCAxes[1]->dAPos, 2.5);
}

TEST_F(ReplyParse, FailedScansStoreNothing) {
    Axes(2);
    c_.pCAxes[0]->dAPos = 7;
    for (const char* reply : {"1.5\r\n", "abc 2\r\n", "", "1.5 2x\r\n", "1..5 2\r\n"}) {
        Reply(reply);
        EXPECT_FALSE(c_.KvCScanReply(25, -1)) << reply;
        EXPECT_EQ(c_.pCAxes[0]->dAPos, 7.0) << reply;
    }
    Reply("1 2\r\n");
    EXPECT_FALSE(c_.KvCScanReply(99, -1)) << "unknown scan code";
    EXPECT_FALSE(c_.KvCScanReply(12, 2)) << "axis beyond the list";
    EXPECT_FALSE(c_.KvCScanReply(65, -1));
    Reply(std::string(300, '1') + " 2\r\n");
    EXPECT_FALSE(c_.KvCScanReply(25, -1)) << "token longer than 255 characters";
}

TEST_F(ReplyParse, AxisModesAndLimits) {
    Axes(4);
    Reply("5 7 9 1\r\n");
    ASSERT_TRUE(c_.KvCScanReply(8, -1));
    EXPECT_EQ(c_.pCAxes[0]->ucAMode, 0);
    EXPECT_EQ(c_.pCAxes[3]->ucAMode, 1);
    Reply("5\r\n");
    ASSERT_TRUE(c_.KvCScanReply(12, 1));
    EXPECT_EQ(c_.pCAxes[1]->ucAMode, 5);

    Reply("-1.0 1.0\r\n-2.0 2.0\r\n-3.0 3.0\r\n-4.0 4.000\r\n");
    ASSERT_TRUE(c_.KvCScanReply(3, -1));
    EXPECT_EQ(c_.pCAxes[3]->dAHighLimit, 4.0);
    EXPECT_EQ(c_.pCAxes[2]->dALowLimit, -3.0);
    EXPECT_EQ(c_.nCLimitDecimals, 3);
    Reply("-10.5 10.25\r\n");
    ASSERT_TRUE(c_.KvCScanReply(65, 0));
    EXPECT_EQ(c_.pCAxes[0]->dALowLimit, -10.5);
    EXPECT_EQ(c_.pCAxes[0]->sAHighLimit, Sys("10.25"));
}

TEST_F(ReplyParse, VersionReply) {
    c_.KvCSelectModelByType(4);
    Axes(2);
    Reply("0.5");
    ASSERT_TRUE(c_.KvSaveReply(1, 1));
    EXPECT_EQ(c_.dCVersion, 0.5);
    EXPECT_EQ(c_.pCAxes[1]->dAVersion, 0.5);
    EXPECT_EQ(zel::State().libraryVersion.load(), 1.0);
    Reply("abc");
    ASSERT_TRUE(c_.KvSaveReply(1, 0));
    EXPECT_EQ(c_.dCVersion, 0.5) << "a version that does not convert keeps the old one";
    EXPECT_FALSE(c_.KvSaveReply(1, 2));

    zel::TController multi(0);
    multi.KvCSelectModelByType(1);
    multi.pCAxes.push_back(std::make_unique<zel::TAxis>());
    multi.sCReply = "2.31";
    ASSERT_TRUE(multi.KvSaveReply(1, 0));
    EXPECT_EQ(zel::State().libraryVersion.load(), 2.31);
}

}  // namespace
