// InitController and the pre-check of the command calls.
#include "common/library_fixture.h"
#include "support/library_state.h"
#include "support/protocol_log.h"

#include <climits>

using zeltest::LibraryFixture;

namespace {

class InitControllerTest : public LibraryFixture {
protected:
    void SetUp() override { Load(nullptr); }
};

TEST_F(InitControllerTest, DefaultsFromAMissingConfiguration) {
    ASSERT_EQ(InitController(1, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(C().sCName, "Controller2");
    EXPECT_EQ(C().nCPort, 1);
    EXPECT_EQ(C().AxesCount(), 3);
    EXPECT_EQ(C().ucCBaudCode, 4);  // 9600
    EXPECT_EQ(C().sCTypeName, "Default");
    EXPECT_EQ(C().ucCType, 0);
}

struct InitCase {
    int type, axes, port, baud;
    int expected;
};

class InitControllerCodes : public LibraryFixture, public ::testing::WithParamInterface<InitCase> {
protected:
    void SetUp() override { Load(nullptr); }
};

TEST_P(InitControllerCodes, ReturnsTheCodeOfTheFirstFailingCheck) {
    const InitCase& p = GetParam();
    EXPECT_EQ(InitController(p.type, p.axes, p.port, p.baud, 0, 0, 0), p.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InitControllerCodes,
    ::testing::Values(InitCase{8, 2, 1, 9600, 7}, InitCase{8, 1, 1, 9600, 0}, InitCase{8, 0, 1, 9600, 7},
                      InitCase{3, 1, 1, 9600, 6}, InitCase{128, 1, 1, 9600, 6}, InitCase{-1, 1, 1, 9600, 6},
                      InitCase{INT_MIN, 1, 1, 9600, 6}, InitCase{1, 1, 9, 9600, 4},
                      InitCase{1, 1, -1, 9600, 4}, InitCase{1, 1, INT_MAX, 9600, 4},
                      InitCase{1, 1, 8, 9600, 0}, InitCase{1, 1, 1, 14400, 9}, InitCase{1, 1, 1, -9600, 9},
                      InitCase{1, 1, 1, INT_MAX, 9}, InitCase{2, 3, 1, 19200, 9},
                      InitCase{2, 3, 1, 9600, 0}, InitCase{64, 4, 1, 115200, 0}, InitCase{4, 2, 3, 300, 0},
                      InitCase{1, -5, 1, 9600, 0}, InitCase{0, 2, 1, 9600, 0}));

TEST_F(InitControllerTest, RefusedTypeEightChangesNothing) {
    ASSERT_EQ(InitController(16, 2, 4, 19200, 0, 0, 0), 0);
    EXPECT_EQ(InitController(8, 2, 1, 9600, 0, 0, 0), 7);
    EXPECT_EQ(C().sCTypeName, "Wendalo");
    EXPECT_EQ(C().sCName, "Controller4");
    EXPECT_EQ(C().AxesCount(), 2);
}

TEST_F(InitControllerTest, RefusedBaudRateLeavesTheNewModelSelected) {
    EXPECT_EQ(InitController(2, 3, 1, 19200, 0, 0, 0), 9);
    EXPECT_EQ(C().sCTypeName, "Varne-PC");
    EXPECT_EQ(C().ucCType, 1);
    EXPECT_EQ(C().sCName, "");  // the checks after the refusal did not run
}

TEST_F(InitControllerTest, TypeZeroKeepsTheModelAndReplacesTheAxes) {
    ASSERT_EQ(InitController(32, 2, 1, 9600, 0, 0, 0), 0);
    C().pCAxes[0]->dAPos = 12.5;
    ASSERT_EQ(InitController(0, 4, 5, 38400, 0, 0, 0), 0);
    EXPECT_EQ(C().sCTypeName, "Jovek");
    EXPECT_EQ(C().AxesCount(), 4);
    EXPECT_EQ(C().pCAxes[0]->dAPos, 0.0);
    EXPECT_EQ(C().ucCBaudCode, 2);
    EXPECT_EQ(C().nCPort, 4);
}

TEST_F(InitControllerTest, NegativeAxesCreateNoneAndHugeCountsAreBounded) {
    ASSERT_EQ(InitController(1, -3, 1, 9600, 0, 0, 0), 0);
    EXPECT_EQ(C().AxesCount(), 0);
    ASSERT_EQ(InitController(1, INT_MAX, 1, 9600, 0, 0, 0), 0);
    EXPECT_LE(C().AxesCount(), 255);
    EXPECT_GT(C().AxesCount(), 4);
}

TEST_F(InitControllerTest, WhileConnectedOnlyWaitModeWindowAndMessageChange) {
    ASSERT_EQ(InitController(1, 3, 1, 9600, 0, 0, 0), 0);
    C().bCConnected = true;
    EXPECT_EQ(InitController(8, 7, 99, 1, 0x1234, 1034, 0x100A04), 0);
    EXPECT_EQ(C().AxesCount(), 3);
    EXPECT_EQ(C().sCTypeName, "Default");
    EXPECT_EQ(C().hCWnd, 0x1234);
    EXPECT_EQ(C().unCMessage, 1034u);
    EXPECT_EQ(C().ucCSignalMode, 4);
    EXPECT_EQ(zel::State().waitMode.load(), 0x100A04u);

    // A reply still awaited: the word is stored but not applied.
    C().bCWaitingForReply = true;
    EXPECT_EQ(InitController(0, 0, 0, 0, 0, 0, 0x904), 0);
    EXPECT_EQ(C().ucCSignalMode, 4);
    EXPECT_EQ(zel::State().waitMode.load(), 0x904u);
    C().bCWaitingForReply = false;
    C().bCConnected = false;
}

TEST_F(InitControllerTest, NoControllerGivesSix) {
    auto saved = std::move(zel::Interface().controller);
    EXPECT_EQ(InitController(1, 1, 1, 9600, 0, 0, 0), 6);
    zel::Interface().controller = std::move(saved);
}

// The pre-check: each step may overwrite the verdict of an earlier one.
struct PreCheckCase {
    const char* name;
    int type, axes;
    bool connected, waiting;
    int mask, axis;
    bool checkModel;
    int expected;
};

class PreCheck : public LibraryFixture, public ::testing::WithParamInterface<PreCheckCase> {
protected:
    void SetUp() override { Load(nullptr); }
};

TEST_P(PreCheck, ReportsTheLastFailingStep) {
    const PreCheckCase& p = GetParam();
    ASSERT_EQ(InitController(p.type, p.axes, 1, 9600, 0, 0, 0), 0);
    C().bCConnected = p.connected;
    C().bCWaitingForReply = p.waiting;
    const bool ok = zel::KvReadyToExecuteCommand(p.mask, p.axis, 1, p.checkModel);
    EXPECT_EQ(zel::Interface().lastApiError, p.expected);
    EXPECT_EQ(ok, p.expected == 0);
    C().bCConnected = false;
    C().bCWaitingForReply = false;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PreCheck,
    ::testing::Values(
        PreCheckCase{"MultiAxisReady", 1, 3, true, false, 0x43, 0, true, 0},
        PreCheckCase{"JoystickOnVarne", 2, 3, true, false, 0x41, 0, true, 23},
        PreCheckCase{"NotConnectedWinsOverModel", 2, 3, false, false, 0x41, 0, true, 3},
        PreCheckCase{"WaitingWinsOverNotConnected", 1, 3, false, true, 0x43, 0, true, 10},
        PreCheckCase{"SingleAxisAxisZero", 4, 2, true, false, 0x43, 0, true, 8},
        PreCheckCase{"SingleAxisUnconnectedAxisZero", 4, 2, false, false, 0x3C, 0, true, 8},
        PreCheckCase{"SingleAxisAxisAboveCount", 8, 1, true, false, 0x3C, 2, true, 8},
        PreCheckCase{"SingleAxisInRange", 16, 2, true, false, 0x3C, 2, true, 0},
        PreCheckCase{"ModelNotCheckedWhenAsked", 4, 2, true, false, 0x43, 1, false, 0},
        PreCheckCase{"MultiAxisIgnoresAxis", 64, 2, true, false, 0x43, -7, true, 0}),
    [](const ::testing::TestParamInfo<PreCheckCase>& info) { return std::string(info.param.name); });

TEST_F(InitControllerTest, PreCheckWithoutControllerGivesSix) {
    auto saved = std::move(zel::Interface().controller);
    EXPECT_FALSE(zel::KvReadyToExecuteCommand(0x43, 1, 1, true));
    EXPECT_EQ(zel::Interface().lastApiError, 6);
    zel::Interface().controller = std::move(saved);
}

}  // namespace
