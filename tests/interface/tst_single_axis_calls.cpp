// The single-axis calls over a scripted line: command lines, the pre-check
// with and without the model check, axis numbers at the edges, output
// pointers and the asynchronous mode, and the multi-axis emulation of
// MoveAbsoluteA and GetPosA.
#include "common/typed_call_fixture.h"
#include "common/fake_serial.h"
#include "common/library_fixture.h"
#include "platform/zel_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using zeltest::FakeSerial;
using Delivery = zeltest::FakeSerial::Delivery;
using Lines = std::vector<std::string>;

constexpr int kPrusk = ZEL_TYPE_PRUSK;
constexpr int kDefault = ZEL_TYPE_DEFAULT;

using SingleAxisCallTest = zeltest::TypedCallFixture;

char g_text[256], g_text2[256];
int g_int;

// ---- Command lines -----------------------------------------------------------

struct LineCase {
    const char* name;
    int type;
    std::function<int()> call;
    const char* answer;
    Lines sent;
};

class CommandLine : public SingleAxisCallTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(CommandLine, IsSentAndTheCallSucceeds) {
    const LineCase& p = GetParam();
    Connect(p.type, 3);
    if (p.answer) Answer(p.answer);
    EXPECT_EQ(p.call(), 0);
    EXPECT_EQ(line_->Sent(), p.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLine,
    ::testing::Values(
        LineCase{"IdentifyA", kPrusk, [] { return IdentifyA(g_text, 2); }, "X\r\n", {"2 nidentify\r\n"}},
        LineCase{"IdentifyAEx", kPrusk, [] { return IdentifyAEx(g_text, 3, 4); }, "X\r\n", {"3 nidentify\r\n"}},
        LineCase{"GetStatusA", kPrusk, [] { return GetStatusA(&g_int, 2); }, "0\r\n", {"2 nst\r\n"}},
        LineCase{"GetErrorA", kPrusk, [] { return GetErrorA(&g_int, 1); }, "0\r\n", {"1 gne\r\n"}},
        LineCase{"SetAxisModeA", kPrusk, [] { return SetAxisModeA(1, 2); }, nullptr, {"1 2 setaxis\r\n"}},
        LineCase{"SetAxisModeAMultiAxis", kDefault, [] { return SetAxisModeA(2, 3); }, nullptr, {"2 3 setaxis\r\n"}},
        LineCase{"GetAxisModeA", kPrusk, [] { return GetAxisModeA(&g_int, 2); }, "1\r\n", {"2 getaxis\r\n"}},
        LineCase{"GetAxisModeAMultiAxis", kDefault, [] { return GetAxisModeA(&g_int, 3); }, "1\r\n",
                 {"3 getaxis\r\n"}},
        LineCase{"SetVelocityA", kPrusk, [] { return SetVelocityA("25,5", 2); }, nullptr, {"25.5 2 snv\r\n"}},
        LineCase{"GetVelocityA", kPrusk, [] { return GetVelocityA(g_text, 2); }, "1\r\n", {"2 getnvel\r\n"}},
        LineCase{"GetVelocityAEx", kPrusk, [] { return GetVelocityAEx(g_text, 1, 8); }, "1\r\n", {"1 getnvel\r\n"}},
        LineCase{"SetAccelerationA", kPrusk, [] { return SetAccelerationA("-0.5", 3); }, nullptr,
                 {"-0.5 3 setnaccel\r\n"}},
        LineCase{"GetAccelerationA", kPrusk, [] { return GetAccelerationA(g_text, 2); }, "1\r\n",
                 {"2 getnaccel\r\n"}},
        LineCase{"GetAccelerationAEx", kPrusk, [] { return GetAccelerationAEx(g_text, 2, 8); }, "1\r\n",
                 {"2 getnaccel\r\n"}},
        LineCase{"JoystickEnableA", kPrusk, [] { return JoystickEnableA(2); }, nullptr, {"1 2 nj\r\n"}},
        LineCase{"JoystickDisableA", kPrusk, [] { return JoystickDisableA(3); }, nullptr, {"0 3 nj\r\n"}},
        LineCase{"SetJoystickVelocityA", kPrusk, [] { return SetJoystickVelocityA("4", 2); }, nullptr,
                 {"4 2 njs\r\n"}},
        LineCase{"GetJoystickVelocityA", kPrusk,
                 [] {
                     std::strcpy(g_text, "%s %d");  // whatever the buffer holds
                     return GetJoystickVelocityA(g_text, 2);
                 },
                 "1\r\n", {"2 getnjoyspeed\r\n"}},
        LineCase{"GetJoystickVelocityAEx", kPrusk, [] { return GetJoystickVelocityAEx(g_text, 1, 8); }, "1\r\n",
                 {"1 getnjoyspeed\r\n"}},
        LineCase{"SetOriginAFirst", kPrusk, [] { return SetOriginA(1); }, nullptr, {"0 1 setnpos\r\n"}},
        LineCase{"SetOriginALast", kPrusk, [] { return SetOriginA(3); }, nullptr, {"0 3 setnpos\r\n"}},
        LineCase{"MoveAbsoluteA", kPrusk, [] { return MoveAbsoluteA("10", 2); }, nullptr, {"10 2 nm\r\n"}},
        LineCase{"MoveRelativeA", kPrusk, [] { return MoveRelativeA("-1,25", 3); }, nullptr, {"-1.25 3 nr\r\n"}},
        LineCase{"MoveAbsoluteAutoReplyA", kPrusk, [] { return MoveAbsoluteAutoReplyA("10", 2); }, "0\r\n",
                 {"10 2 nm 0 2 nr 2 nst\r\n"}},
        LineCase{"MoveRelativeAutoReplyA", kPrusk, [] { return MoveRelativeAutoReplyA("5", 1); }, "0\r\n",
                 {"5 1 nr 0 1 nr 1 nst\r\n"}},
        LineCase{"GetPosA", kPrusk, [] { return GetPosA(g_text, 2); }, "1.5\r\n", {"2 np\r\n"}},
        LineCase{"GetPosAEx", kPrusk, [] { return GetPosAEx(g_text, 2, 8); }, "1.5\r\n", {"2 np\r\n"}},
        LineCase{"GetPosAMultiAxisFirstAxis", kDefault, [] { return GetPosA(g_text, 1); }, "1 2 3\r\n", {"p\r\n"}},
        LineCase{"ClearParameterStackA", kPrusk, [] { return ClearParameterStackA(2); }, nullptr,
                 {"2 nclear\r\n"}},
        LineCase{"GetParamsOnStackA", kPrusk, [] { return GetParamsOnStackA(&g_int, 2); }, "0\r\n", {"2 gnsp\r\n"}},
        LineCase{"CalibrateA", kPrusk, [] { return CalibrateA(2); }, "0\r\n", {"2 ncal 2 nst\r\n"}},
        LineCase{"RangeMeasureA", kPrusk, [] { return RangeMeasureA(3); }, "0\r\n", {"3 nrm 3 nst\r\n"}},
        LineCase{"GetLimitsA", kPrusk, [] { return GetLimitsA(g_text, g_text2, 2); }, "-1 1\r\n",
                 {"2 getnlimit\r\n"}},
        LineCase{"GetLimitsAMultiAxis", kDefault, [] { return GetLimitsA(g_text, g_text2, 2); }, "-1 1\r\n",
                 {"2 getlimit\r\n"}},
        LineCase{"GetLimitsAEx", kPrusk, [] { return GetLimitsAEx(g_text, g_text2, 1, 8); }, "-1 1\r\n",
                 {"1 getnlimit\r\n"}}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

// ---- Pre-check ---------------------------------------------------------------

struct AxisCall {
    const char* name;
    std::function<int(int axis)> call;
    bool modelChecked;
};

std::vector<AxisCall> AllCalls() {
    static char a[256], b[256];
    static int i;
    return {
        {"IdentifyA", [](int x) { return IdentifyA(a, x); }, true},
        {"IdentifyAEx", [](int x) { return IdentifyAEx(a, x, 256); }, true},
        {"GetStatusA", [](int x) { return GetStatusA(&i, x); }, true},
        {"GetErrorA", [](int x) { return GetErrorA(&i, x); }, true},
        {"SetAxisModeA", [](int x) { return SetAxisModeA(1, x); }, false},
        {"GetAxisModeA", [](int x) { return GetAxisModeA(&i, x); }, false},
        {"SetVelocityA", [](int x) { return SetVelocityA("1", x); }, true},
        {"GetVelocityA", [](int x) { return GetVelocityA(a, x); }, true},
        {"GetVelocityAEx", [](int x) { return GetVelocityAEx(a, x, 256); }, true},
        {"SetAccelerationA", [](int x) { return SetAccelerationA("1", x); }, true},
        {"GetAccelerationA", [](int x) { return GetAccelerationA(a, x); }, true},
        {"GetAccelerationAEx", [](int x) { return GetAccelerationAEx(a, x, 256); }, true},
        {"JoystickEnableA", [](int x) { return JoystickEnableA(x); }, true},
        {"JoystickDisableA", [](int x) { return JoystickDisableA(x); }, true},
        {"SetJoystickVelocityA", [](int x) { return SetJoystickVelocityA("1", x); }, true},
        {"GetJoystickVelocityA", [](int x) { return GetJoystickVelocityA(a, x); }, true},
        {"GetJoystickVelocityAEx", [](int x) { return GetJoystickVelocityAEx(a, x, 256); }, true},
        {"SetOriginA", [](int x) { return SetOriginA(x); }, true},
        {"MoveAbsoluteA", [](int x) { return MoveAbsoluteA("1", x); }, false},
        {"MoveRelativeA", [](int x) { return MoveRelativeA("1", x); }, true},
        {"MoveAbsoluteAutoReplyA", [](int x) { return MoveAbsoluteAutoReplyA("1", x); }, true},
        {"MoveRelativeAutoReplyA", [](int x) { return MoveRelativeAutoReplyA("1", x); }, true},
        {"GetPosA", [](int x) { return GetPosA(a, x); }, false},
        {"GetPosAEx", [](int x) { return GetPosAEx(a, x, 256); }, false},
        {"ClearParameterStackA", [](int x) { return ClearParameterStackA(x); }, true},
        {"GetParamsOnStackA", [](int x) { return GetParamsOnStackA(&i, x); }, true},
        {"CalibrateA", [](int x) { return CalibrateA(x); }, true},
        {"RangeMeasureA", [](int x) { return RangeMeasureA(x); }, true},
        {"GetLimitsA", [](int x) { return GetLimitsA(a, b, x); }, false},
        {"GetLimitsAEx", [](int x) { return GetLimitsAEx(a, b, x, 256); }, false},
    };
}

TEST_F(SingleAxisCallTest, AxisOutsideTheControllerGivesEightForEveryCall) {
    Connect(kPrusk, 3);
    for (const AxisCall& c : AllCalls())
        for (int axis : {0, -1, 4, INT_MAX, INT_MIN}) EXPECT_EQ(c.call(axis), ZEL_ERR_AXIS) << c.name << " " << axis;
    EXPECT_TRUE(line_->Sent().empty());
}

TEST_F(SingleAxisCallTest, OnAMultiAxisControllerModelCheckedCallsGiveTwentyThree) {
    Connect(kDefault, 3);
    for (const AxisCall& c : AllCalls()) {
        if (!c.modelChecked) continue;
        EXPECT_EQ(c.call(1), ZEL_ERR_NOT_SUPPORTED) << c.name;
    }
    EXPECT_TRUE(line_->Sent().empty());
}

TEST_F(SingleAxisCallTest, OnAMultiAxisControllerTheAxisIsCheckedBeforeSending) {
    Connect(kDefault, 3);
    const std::vector<std::string> checked = {"GetAxisModeA", "MoveAbsoluteA", "GetPosA", "GetPosAEx", "GetLimitsA",
                                              "GetLimitsAEx"};
    for (const AxisCall& c : AllCalls()) {
        if (std::find(checked.begin(), checked.end(), c.name) == checked.end()) continue;
        for (int axis : {0, -1, 4, INT_MAX}) EXPECT_EQ(c.call(axis), ZEL_ERR_AXIS) << c.name << " " << axis;
    }
    EXPECT_TRUE(line_->Sent().empty());
}

TEST_F(SingleAxisCallTest, NotConnectedOrBusyOrWithoutController) {
    Connect(kPrusk, 3);
    C().bCConnected = false;
    for (const AxisCall& c : AllCalls()) EXPECT_EQ(c.call(1), ZEL_ERR_NOT_CONNECTED) << c.name;
    C().bCConnected = true;
    C().bCWaitingForReply = true;
    for (const AxisCall& c : AllCalls()) EXPECT_EQ(c.call(1), ZEL_ERR_BUSY) << c.name;
    C().bCWaitingForReply = false;
    EXPECT_TRUE(line_->Sent().empty());
    auto saved = std::move(zel::Interface().controller);
    for (const AxisCall& c : AllCalls()) EXPECT_EQ(c.call(1), ZEL_ERR_NO_CONTROLLER) << c.name;
    zel::Interface().controller = std::move(saved);
}

// ---- Arguments ------------------------------------------------------------------

struct ArgumentCase {
    const char* name;
    int type;
    std::function<int()> call;
    int code;
};

class ArgumentCodes : public SingleAxisCallTest, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(ArgumentCodes, RefusedBeforeSending) {
    Connect(GetParam().type, 3);
    EXPECT_EQ(GetParam().call(), GetParam().code);
    EXPECT_TRUE(line_->Sent().empty());
}

const std::string g_longNumber = "0." + std::string(9998, '0');
const std::string g_longText(10000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, ArgumentCodes,
    ::testing::Values(
        ArgumentCase{"SetAxisModeAThree", kPrusk, [] { return SetAxisModeA(3, 1); }, 12},
        ArgumentCase{"SetAxisModeANegative", kDefault, [] { return SetAxisModeA(-1, 1); }, 12},
        ArgumentCase{"SetAxisModeAIntMax", kPrusk, [] { return SetAxisModeA(INT_MAX, 1); }, 12},
        ArgumentCase{"SetVelocityANull", kPrusk, [] { return SetVelocityA(nullptr, 1); }, 14},
        ArgumentCase{"SetVelocityAAbc", kPrusk, [] { return SetVelocityA("abc", 1); }, 12},
        ArgumentCase{"SetAccelerationANull", kPrusk, [] { return SetAccelerationA(nullptr, 1); }, 14},
        ArgumentCase{"SetAccelerationALongText", kPrusk, [] { return SetAccelerationA(g_longText.c_str(), 1); }, 12},
        ArgumentCase{"SetJoystickVelocityANull", kPrusk, [] { return SetJoystickVelocityA(nullptr, 1); }, 14},
        ArgumentCase{"SetJoystickVelocityAEmpty", kPrusk, [] { return SetJoystickVelocityA("", 1); }, 12},
        ArgumentCase{"MoveAbsoluteANull", kPrusk, [] { return MoveAbsoluteA(nullptr, 1); }, 12},
        ArgumentCase{"MoveAbsoluteAMultiAxisNull", kDefault, [] { return MoveAbsoluteA(nullptr, 3); }, 12},
        ArgumentCase{"MoveAbsoluteALongNumber", kPrusk, [] { return MoveAbsoluteA(g_longNumber.c_str(), 1); }, 12},
        ArgumentCase{"MoveRelativeAText", kPrusk, [] { return MoveRelativeA("1,2,3", 1); }, 12},
        ArgumentCase{"MoveAbsoluteAutoReplyALongNumber", kPrusk,
                     [] { return MoveAbsoluteAutoReplyA(g_longNumber.c_str(), 2); }, 12},
        ArgumentCase{"MoveRelativeAutoReplyANull", kPrusk, [] { return MoveRelativeAutoReplyA(nullptr, 2); }, 12}),
    [](const ::testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

// ---- Output pointers and the asynchronous mode ---------------------------

struct OutputCase {
    const char* name;
    int type;
    std::function<int()> call;
    const char* sent;
};

std::vector<OutputCase> MissingOutputCases() {
    static char b[256];
    return {
        {"IdentifyA", kPrusk, [] { return IdentifyA(nullptr, 1); }, "1 nidentify\r\n"},
        {"IdentifyAExSizeZero", kPrusk, [] { return IdentifyAEx(b, 1, 0); }, "1 nidentify\r\n"},
        {"GetStatusA", kPrusk, [] { return GetStatusA(nullptr, 2); }, "2 nst\r\n"},
        {"GetErrorA", kPrusk, [] { return GetErrorA(nullptr, 2); }, "2 gne\r\n"},
        {"GetAxisModeA", kDefault, [] { return GetAxisModeA(nullptr, 2); }, "2 getaxis\r\n"},
        {"GetVelocityA", kPrusk, [] { return GetVelocityA(nullptr, 2); }, "2 getnvel\r\n"},
        {"GetAccelerationAEx", kPrusk, [] { return GetAccelerationAEx(nullptr, 2, 256); }, "2 getnaccel\r\n"},
        {"GetJoystickVelocityA", kPrusk, [] { return GetJoystickVelocityA(nullptr, 2); }, "2 getnjoyspeed\r\n"},
        {"GetPosA", kPrusk, [] { return GetPosA(nullptr, 3); }, "3 np\r\n"},
        {"GetPosAExSizeZero", kPrusk, [] { return GetPosAEx(b, 3, 0); }, "3 np\r\n"},
        {"GetParamsOnStackA", kPrusk, [] { return GetParamsOnStackA(nullptr, 1); }, "1 gnsp\r\n"},
        {"GetLimitsALow", kPrusk, [] { return GetLimitsA(nullptr, b, 1); }, "1 getnlimit\r\n"},
        {"GetLimitsAHighMultiAxis", kDefault, [] { return GetLimitsA(b, nullptr, 1); }, "1 getlimit\r\n"},
    };
}

class MissingOutput : public SingleAxisCallTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(MissingOutput, GivesFourteenAndSendsNothing) {
    Connect(GetParam().type, 3);
    EXPECT_EQ(GetParam().call(), ZEL_ERR_NULL_POINTER);
    EXPECT_TRUE(line_->Sent().empty());
}

TEST_P(MissingOutput, IsAllowedInTheAsynchronousModeWhichReturnsAfterSending) {
    Connect(GetParam().type, 3, ZEL_WAIT_SIGNAL_ASYNC);
    EXPECT_EQ(GetParam().call(), 0);
    EXPECT_EQ(line_->Sent(), Lines{GetParam().sent});
}

INSTANTIATE_TEST_SUITE_P(Table, MissingOutput, ::testing::ValuesIn(MissingOutputCases()),
                         [](const ::testing::TestParamInfo<OutputCase>& info) { return std::string(info.param.name); });

// ---- Replies ----------------------------------------------------------------------

TEST_F(SingleAxisCallTest, StatusErrorAndStackCountAreIntegers) {
    Connect(kPrusk, 2);
    int status = -7, error = -7, count = -7;
    Answer("5\r\n");
    Answer("-2\r\n");
    Answer("3\r\n");
    EXPECT_EQ(GetStatusA(&status, 1), 0);
    EXPECT_EQ(GetErrorA(&error, 2), 0);
    EXPECT_EQ(GetParamsOnStackA(&count, 1), 0);
    EXPECT_EQ((std::vector<int>{status, error, count}), (std::vector<int>{5, -2, 3}));
    Answer("5.0\r\n");
    EXPECT_EQ(GetStatusA(&status, 1), ZEL_ERR_REPLY_NUMBER);
    EXPECT_EQ(status, 5);
}

TEST_F(SingleAxisCallTest, AxisModeOfOneAxis) {
    Connect(kPrusk, 3);
    int mode = -7;
    Answer("5\r\n");  // stored as it comes
    EXPECT_EQ(GetAxisModeA(&mode, 2), 0);
    EXPECT_EQ(mode, 5);
    EXPECT_EQ(C().pCAxes[1]->ucAMode, 5);
    Answer("x\r\n");
    mode = -7;
    EXPECT_EQ(GetAxisModeA(&mode, 2), ZEL_ERR_REPLY_NUMBER);
    EXPECT_EQ(mode, -7);
}

TEST_F(SingleAxisCallTest, LimitsOfOneAxisAreClearedFirst) {
    Connect(kPrusk, 3);
    char low[256], high[256];
    Answer("-1.5 2.25\r\n");
    ASSERT_EQ(GetLimitsA(low, high, 3), 0);
    EXPECT_STREQ(low, "-1.50");
    EXPECT_STREQ(high, "2.25");
    EXPECT_DOUBLE_EQ(C().pCAxes[2]->dAHighLimit, 2.25);
    Answer("abc\r\n");
    EXPECT_EQ(GetLimitsA(low, high, 3), ZEL_ERR_REPLY_NUMBER);
    EXPECT_STREQ(low, "");
    EXPECT_STREQ(high, "");
    SetDecimalSeparator(',');
    Answer("-1.5 2.25\r\n");
    ASSERT_EQ(GetLimitsA(low, high, 1), 0);
    EXPECT_STREQ(low, "-1,5");
}

TEST_F(SingleAxisCallTest, OriginFailureIsNotSuccess) {
    Connect(kPrusk, 2);
    line_->failWrites = true;
    EXPECT_EQ(SetOriginA(1), ZEL_ERR_COMMAND_FAILED);
}

TEST_F(SingleAxisCallTest, PositionOfASingleAxisIsTheReplyAsHandedOut) {
    Connect(kPrusk, 2);
    char pos[256];
    SetDecimalSeparator(',');
    Answer("12.5\r\n");
    ASSERT_EQ(GetPosA(pos, 2), 0);
    EXPECT_STREQ(pos, "12,5");
}

// ---- Multi-axis emulation --------------------------------------------------------

TEST_F(SingleAxisCallTest, MoveAbsoluteACollectsTargetsUntilTheLastAxis) {
    Connect(kDefault, 3);
    EXPECT_EQ(MoveAbsoluteA("10", 1), 0);
    EXPECT_EQ(MoveAbsoluteA("20", 2), 0);
    EXPECT_TRUE(line_->Sent().empty());
    EXPECT_EQ(MoveAbsoluteA("30", 3), 0);
    EXPECT_EQ(line_->Sent(), Lines{"10 20 30 m\r\n"});

    // Targets keep their value: separators, exponents and more than six digits.
    EXPECT_EQ(MoveAbsoluteA("25,5", 1), 0);
    EXPECT_EQ(MoveAbsoluteA("1e3", 2), 0);
    EXPECT_EQ(MoveAbsoluteA("123.456789", 3), 0);
    EXPECT_EQ(line_->Sent().back(), "25.5 1000 123.456789 m\r\n");

    // An invalid text stores nothing; the last axis alone repeats the move.
    EXPECT_EQ(MoveAbsoluteA("abc", 1), ZEL_ERR_PARAMETER);
    EXPECT_EQ(MoveAbsoluteA("-0.5", 3), 0);
    EXPECT_EQ(line_->Sent().back(), "25.5 1000 -0.5 m\r\n");
}

TEST_F(SingleAxisCallTest, MoveAbsoluteAOnMoreThanFourMultiAxisAxesGivesEight) {
    Connect(kDefault, 5);
    EXPECT_EQ(MoveAbsoluteA("1", 1), ZEL_ERR_AXIS);
    EXPECT_TRUE(line_->Sent().empty());
}

TEST_F(SingleAxisCallTest, GetPosAReadsOnAxisOneAndHandsOutStoredPositionsOtherwise) {
    Connect(kDefault, 3);
    char pos[256];
    ASSERT_EQ(GetPosA(pos, 2), 0);  // nothing read yet
    EXPECT_STREQ(pos, "0.00000");
    EXPECT_TRUE(line_->Sent().empty());

    Answer("1.5 2.25 3.125\r\n");
    ASSERT_EQ(GetPosA(pos, 1), 0);
    EXPECT_STREQ(pos, "1.500");
    ASSERT_EQ(GetPosA(pos, 3), 0);
    EXPECT_STREQ(pos, "3.125");
    EXPECT_EQ(line_->Sent(), Lines{"p\r\n"});

    Answer("1 2\r\n");  // too short: the stored positions stay
    EXPECT_EQ(GetPosA(pos, 1), ZEL_ERR_POSITION);
    ASSERT_EQ(GetPosA(pos, 2), 0);
    EXPECT_STREQ(pos, "2.250");
}

TEST_F(SingleAxisCallTest, MoveAbsoluteAThenGetPosARoundTripOverTheLine) {
    Connect(kDefault, 3);
    ASSERT_EQ(MoveAbsoluteA("10", 1), 0);
    ASSERT_EQ(MoveAbsoluteA("20", 2), 0);
    ASSERT_EQ(MoveAbsoluteA("30", 3), 0);
    Answer("10.00000 20.00000 30.00000\r\n");
    Lines positions;
    char pos[256];
    for (int axis = 1; axis <= 3; ++axis) {
        ASSERT_EQ(GetPosA(pos, axis), 0);
        positions.push_back(pos);
    }
    EXPECT_EQ(positions, (Lines{"10.00000", "20.00000", "30.00000"}));
    EXPECT_EQ(line_->Sent(), (Lines{"10 20 30 m\r\n", "p\r\n"}));
}

class DemoSingleAxisCallTest : public SingleAxisCallTest {
protected:
    void SetUp() override { Load("[Startup]\nMode=DEMO\n"); }
};

TEST_F(DemoSingleAxisCallTest, MoveAbsoluteAThenGetPosARoundTripOnTheSimulator) {
    ASSERT_EQ(InitController(kDefault, 3, 1, 9600, 0, 0, 0), 0);
    C().bCConnected = true;
    ASSERT_EQ(MoveAbsoluteA("10", 1), 0);
    ASSERT_EQ(MoveAbsoluteA("20", 2), 0);
    ASSERT_EQ(MoveAbsoluteA("30", 3), 0);
    clock_.Advance(600000);
    Lines positions;
    char pos[256];
    for (int axis = 1; axis <= 3; ++axis) {
        ASSERT_EQ(GetPosA(pos, axis), 0);
        positions.push_back(pos);
    }
    EXPECT_EQ(positions, (Lines{"10.00000", "20.00000", "30.00000"}));
}

// ---- Bounded copies -----------------------------------------------------------

constexpr char kCanary = '\x5A';

TEST_F(SingleAxisCallTest, NothingIsWrittenBeyondTheBuffers) {
    Connect(kPrusk, 2);
    char big[300];
    std::memset(big, kCanary, sizeof big);
    Answer(std::string(400, 'i') + "\r\n");
    ASSERT_EQ(IdentifyA(big, 1), 0);
    EXPECT_EQ(std::strlen(big), 255u);
    EXPECT_EQ(std::string(big + 256, big + 300), std::string(44, kCanary));

    char low[8], high[8];
    std::memset(low, kCanary, sizeof low);
    std::memset(high, kCanary, sizeof high);
    Answer("-100.125 200.125\r\n");
    ASSERT_EQ(GetLimitsAEx(low, high, 2, 4), 0);
    EXPECT_STREQ(low, "-10");
    EXPECT_STREQ(high, "200");
    EXPECT_EQ(std::string(low + 4, low + 8), std::string(4, kCanary));
    EXPECT_EQ(std::string(high + 4, high + 8), std::string(4, kCanary));

    char pos[8];
    std::memset(pos, kCanary, sizeof pos);
    Answer("12345.5\r\n");
    ASSERT_EQ(GetPosAEx(pos, 1, 3), 0);
    EXPECT_STREQ(pos, "12");
    EXPECT_EQ(std::string(pos + 3, pos + 8), std::string(5, kCanary));

    std::memset(pos, kCanary, sizeof pos);
    Answer("speed 12345\r\n");
    ASSERT_EQ(GetJoystickVelocityAEx(pos, 1, 1), 0);
    EXPECT_STREQ(pos, "");
    EXPECT_EQ(std::string(pos + 1, pos + 8), std::string(7, kCanary));
}

}  // namespace
