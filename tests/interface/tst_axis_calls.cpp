// The axis and motion calls of the multi-axis models over a scripted line:
// the command line of every call, the pre-check and argument codes, output
// pointers, the asynchronous mode, integer replies, positions and limits in
// every separator mode, and bounded copies into the caller's buffers.
#include "common/typed_call_fixture.h"
#include "common/fake_serial.h"
#include "common/library_fixture.h"
#include "interface/typed_call_support.h"
#include "platform/zel_clock.h"
#include "support/library_state.h"

#include <gtest/gtest.h>

#include <clocale>
#include <climits>
#include <cstring>
#include <memory>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using zeltest::FakeSerial;
using Delivery = zeltest::FakeSerial::Delivery;
using Lines = std::vector<std::string>;

constexpr unsigned kAsync = ZEL_WAIT_SIGNAL_ASYNC;

using AxisCallTest = zeltest::TypedCallFixture;

char g_text[256];
int g_int;

// ---- The command line of every call -----------------------------------

struct LineCase {
    const char* name;
    int type, axes;
    std::function<int()> call;
    const char* answer;  // null: the line stays silent
    Lines sent;
};

class CommandLine : public AxisCallTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(CommandLine, IsSentAndTheCallSucceeds) {
    const LineCase& p = GetParam();
    Connect(p.type, p.axes);
    if (p.answer) Answer(p.answer);
    EXPECT_EQ(p.call(), 0);
    EXPECT_EQ(line_->Sent(), p.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLine,
    ::testing::Values(
        LineCase{"Identify", 1, 3, [] { return Identify(g_text); }, "X 1 2 3 4\r\n", {"identify\r\n"}},
        LineCase{"IdentifyEx", 1, 3, [] { return IdentifyEx(g_text, 10); }, "X 1 2 3 4\r\n", {"identify\r\n"}},
        LineCase{"GetStatus", 1, 3, [] { return GetStatus(&g_int); }, "0\r\n", {"st\r\n"}},
        LineCase{"GetError", 1, 3, [] { return GetError(&g_int); }, "0\r\n", {"ge\r\n"}},
        LineCase{"SetAxisModeVarne", 2, 3, [] { return SetAxisMode(0, 1, 2, 0); }, nullptr,
                 {"0 1 setaxis\r\n", "1 2 setaxis\r\n", "2 3 setaxis\r\n"}},
        LineCase{"SetAxisModeTwoAxes", 1, 2, [] { return SetAxisMode(0, 1, 3, 0); }, nullptr,
                 {"0 1 setaxis\r\n", "1 2 setaxis\r\n"}},
        LineCase{"GetAxisMode", 1, 3, [] { return GetAxisMode(&g_int, &g_int, &g_int, nullptr); }, "0 1 2\r\n",
                 {"-1 getaxis\r\n"}},
        LineCase{"SetVelocityComma", 1, 3, [] { return SetVelocity("25,00"); }, nullptr, {"25.00 setvel\r\n"}},
        LineCase{"GetVelocity", 1, 3, [] { return GetVelocity(g_text); }, "10.0\r\n", {"getvel\r\n"}},
        LineCase{"GetVelocityEx", 1, 3, [] { return GetVelocityEx(g_text, 8); }, "10.0\r\n", {"getvel\r\n"}},
        LineCase{"SetAcceleration", 1, 3, [] { return SetAcceleration("-5"); }, nullptr, {"-5 setaccel\r\n"}},
        LineCase{"GetAcceleration", 1, 3, [] { return GetAcceleration(g_text); }, "1\r\n", {"getaccel\r\n"}},
        LineCase{"GetAccelerationEx", 1, 3, [] { return GetAccelerationEx(g_text, 8); }, "1\r\n",
                 {"getaccel\r\n"}},
        LineCase{"JoystickEnable", 1, 3, [] { return JoystickEnable(); }, nullptr, {"1 j\r\n"}},
        LineCase{"JoystickDisableUlmeta", 64, 3, [] { return JoystickDisable(); }, nullptr, {"0 j\r\n"}},
        LineCase{"SetJoystickVelocity", 1, 3, [] { return SetJoystickVelocity("2.5"); }, nullptr, {"2.5 js\r\n"}},
        LineCase{"GetJoystickVelocity", 1, 3, [] { return GetJoystickVelocity(g_text); }, "3\r\n",
                 {"getjoyspeed\r\n"}},
        LineCase{"GetJoystickVelocityEx", 64, 3, [] { return GetJoystickVelocityEx(g_text, 8); }, "3\r\n",
                 {"getjoyspeed\r\n"}},
        LineCase{"SetOriginTwoAxes", 1, 2, [] { return SetOrigin(); }, nullptr, {"0 0 setpos\r\n"}},
        LineCase{"MoveAbsoluteOne", 1, 1, [] { return MoveAbsolute("10", nullptr, nullptr, nullptr); }, nullptr,
                 {"10 m\r\n"}},
        LineCase{"MoveAbsoluteTwo", 1, 2, [] { return MoveAbsolute("10", "20", nullptr, nullptr); }, nullptr,
                 {"10 20 m\r\n"}},
        LineCase{"MoveAbsoluteFour", 64, 4, [] { return MoveAbsolute("1", "2,5", "-3", "4.25"); }, nullptr,
                 {"1 2.5 -3 4.25 m\r\n"}},
        LineCase{"MoveRelativeThree", 1, 3, [] { return MoveRelative("1", "-2", "3.5", nullptr); }, nullptr,
                 {"1 -2 3.5 r\r\n"}},
        LineCase{"MoveAbsoluteAutoReplyOne", 1, 1, [] { return MoveAbsoluteAutoReply("7", nullptr, nullptr, nullptr); },
                 "0\r\n", {"7 m 0 r st\r\n"}},
        LineCase{"MoveAbsoluteAutoReplyThree", 1, 3, [] { return MoveAbsoluteAutoReply("10", "20", "30", nullptr); },
                 "0\r\n", {"10 20 30 m 0 0 0 r st\r\n"}},
        LineCase{"MoveRelativeAutoReplyFour", 2, 4, [] { return MoveRelativeAutoReply("1", "2", "3", "4"); },
                 "0\r\n", {"1 2 3 4 r 0 0 0 0 r st\r\n"}},
        LineCase{"GetPosAxis", 1, 3, [] { return GetPosAxis(2, g_text); }, "1 2 3\r\n", {"p\r\n"}},
        LineCase{"GetPos", 1, 3, [] { return GetPos(g_text, g_text, g_text, nullptr); }, "1 2 3\r\n", {"p\r\n"}},
        LineCase{"ClearParameterStack", 1, 3, [] { return ClearParameterStack(); }, nullptr, {"clear\r\n"}},
        LineCase{"GetParamsOnStack", 64, 3, [] { return GetParamsOnStack(&g_int); }, "2\r\n", {"gsp\r\n"}},
        LineCase{"Calibrate", 1, 3, [] { return Calibrate(); }, "0\r\n", {"cal st\r\n"}},
        LineCase{"RangeMeasure", 1, 3, [] { return RangeMeasure(); }, "0\r\n", {"rm st\r\n"}},
        LineCase{"GetLimits", 1, 2,
                 [] { return GetLimits(g_text, g_text, g_text, g_text, nullptr, nullptr, nullptr, nullptr); },
                 "0 1\r\n0 2\r\n", {"getlimit\r\n"}}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST_F(AxisCallTest, DefaultModelWithMachineTypeZeroSetsModesOfTwoAxesOnly) {
    Connect(1, 4);
    C().nCMachineType = 0;
    EXPECT_EQ(SetAxisMode(2, 1, 0, 1), 0);
    EXPECT_EQ(line_->Sent(), (Lines{"2 1 setaxis\r\n", "1 2 setaxis\r\n"}));
}

TEST_F(AxisCallTest, UserSeparatorInNumberTextsBecomesAPoint) {
    Connect(1, 2);
    SetDecimalSeparator(';');
    EXPECT_EQ(MoveAbsolute("1;5", "-2,25", nullptr, nullptr), 0);
    EXPECT_EQ(SetVelocity("7;5"), 0);
    EXPECT_EQ(line_->Sent(), (Lines{"1.5 -2.25 m\r\n", "7.5 setvel\r\n"}));
}

// ---- Pre-check: every call refuses before sending anything --------------

struct NamedCall {
    const char* name;
    std::function<int()> call;
    bool joystickMask;  // models 0 and 6 only
};

std::vector<NamedCall> AllCalls() {
    static char b[8][256];
    return {
        {"Identify", [] { return Identify(b[0]); }, false},
        {"IdentifyEx", [] { return IdentifyEx(b[0], 256); }, false},
        {"GetStatus", [] { return GetStatus(&g_int); }, false},
        {"GetError", [] { return GetError(&g_int); }, false},
        {"SetAxisMode", [] { return SetAxisMode(0, 0, 0, 0); }, false},
        {"GetAxisMode", [] { return GetAxisMode(&g_int, &g_int, &g_int, &g_int); }, false},
        {"SetVelocity", [] { return SetVelocity("1"); }, false},
        {"GetVelocity", [] { return GetVelocity(b[0]); }, false},
        {"GetVelocityEx", [] { return GetVelocityEx(b[0], 256); }, false},
        {"SetAcceleration", [] { return SetAcceleration("1"); }, false},
        {"GetAcceleration", [] { return GetAcceleration(b[0]); }, false},
        {"GetAccelerationEx", [] { return GetAccelerationEx(b[0], 256); }, false},
        {"JoystickEnable", [] { return JoystickEnable(); }, true},
        {"JoystickDisable", [] { return JoystickDisable(); }, true},
        {"SetJoystickVelocity", [] { return SetJoystickVelocity("1"); }, true},
        {"GetJoystickVelocity", [] { return GetJoystickVelocity(b[0]); }, true},
        {"GetJoystickVelocityEx", [] { return GetJoystickVelocityEx(b[0], 256); }, true},
        {"SetOrigin", [] { return SetOrigin(); }, false},
        {"MoveAbsolute", [] { return MoveAbsolute("1", "2", "3", "4"); }, false},
        {"MoveRelative", [] { return MoveRelative("1", "2", "3", "4"); }, false},
        {"MoveAbsoluteAutoReply", [] { return MoveAbsoluteAutoReply("1", "2", "3", "4"); }, false},
        {"MoveRelativeAutoReply", [] { return MoveRelativeAutoReply("1", "2", "3", "4"); }, false},
        {"GetPosAxis", [] { return GetPosAxis(1, b[0]); }, false},
        {"GetPosAxisEx", [] { return GetPosAxisEx(1, b[0], 256); }, false},
        {"GetPos", [] { return GetPos(b[0], b[1], b[2], b[3]); }, false},
        {"GetPosEx", [] { return GetPosEx(b[0], b[1], b[2], b[3], 256); }, false},
        {"ClearParameterStack", [] { return ClearParameterStack(); }, false},
        {"GetParamsOnStack", [] { return GetParamsOnStack(&g_int); }, true},
        {"Calibrate", [] { return Calibrate(); }, false},
        {"RangeMeasure", [] { return RangeMeasure(); }, false},
        {"GetLimits", [] { return GetLimits(b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]); }, false},
        {"GetLimitsEx", [] { return GetLimitsEx(b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], 256); }, false},
    };
}

struct StateCase {
    const char* name;
    int type;
    bool connected, waiting;
    int code, joystickCode;
};

class PreCheckCodes : public AxisCallTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(PreCheckCodes, EveryCallReturnsTheCodeAndSendsNothing) {
    const StateCase& p = GetParam();
    Connect(p.type, 3);
    C().bCConnected = p.connected;
    C().bCWaitingForReply = p.waiting;
    for (const NamedCall& c : AllCalls()) {
        if ((c.joystickMask ? p.joystickCode : p.code) == 0) continue;
        EXPECT_EQ(c.call(), c.joystickMask ? p.joystickCode : p.code) << c.name;
    }
    EXPECT_TRUE(line_->Sent().empty());
    C().bCWaitingForReply = false;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PreCheckCodes,
    ::testing::Values(StateCase{"NotConnected", 1, false, false, 3, 3},
                      StateCase{"WaitingForReply", 1, true, true, 10, 10},
                      StateCase{"JoystickOnVarne", 2, true, false, 0, 23},
                      StateCase{"SingleAxisControllerAxisCheckComesLast", 4, true, false, 8, 8},
                      StateCase{"SingleAxisNotConnectedStillEight", 16, false, false, 8, 8}),
    [](const ::testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

TEST_F(AxisCallTest, WithoutControllerEveryCallReturnsSix) {
    auto saved = std::move(zel::Interface().controller);
    for (const NamedCall& c : AllCalls()) EXPECT_EQ(c.call(), ZEL_ERR_NO_CONTROLLER) << c.name;
    zel::Interface().controller = std::move(saved);
}

// ---- Argument checks ------------------------------------------------------

struct ArgumentCase {
    const char* name;
    int axes;
    std::function<int()> call;
    int code;
};

class ArgumentCodes : public AxisCallTest, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(ArgumentCodes, RefusedBeforeSending) {
    const ArgumentCase& p = GetParam();
    Connect(1, p.axes);
    EXPECT_EQ(p.call(), p.code);
    EXPECT_TRUE(line_->Sent().empty());
}

const std::string g_longNumber = "0." + std::string(9998, '0');  // a number, but no command fits it
const std::string g_longText(10000, '7');                         // out of the double range

INSTANTIATE_TEST_SUITE_P(
    Table, ArgumentCodes,
    ::testing::Values(
        ArgumentCase{"MoveNullThirdText", 3, [] { return MoveAbsolute("10", "20", nullptr, nullptr); }, 12},
        ArgumentCase{"MoveEmptyText", 2, [] { return MoveRelative("", "1", nullptr, nullptr); }, 12},
        ArgumentCase{"MoveNotANumber", 2, [] { return MoveAbsoluteAutoReply("1", "1x", nullptr, nullptr); }, 12},
        ArgumentCase{"MoveTwoNumbersInOneText", 1, [] { return MoveAbsolute("1 2", nullptr, nullptr, nullptr); }, 12},
        ArgumentCase{"MoveFiveAxes", 5, [] { return MoveAbsolute("1", "2", "3", "4"); }, 8},
        ArgumentCase{"MoveNoAxes", -1, [] { return MoveRelativeAutoReply("1", "2", "3", "4"); }, 8},
        ArgumentCase{"MoveLongNumber", 1,
                     [] { return MoveAbsolute(g_longNumber.c_str(), nullptr, nullptr, nullptr); }, 12},
        ArgumentCase{"SetVelocityNull", 3, [] { return SetVelocity(nullptr); }, 14},
        ArgumentCase{"SetVelocityAbc", 3, [] { return SetVelocity("abc"); }, 12},
        ArgumentCase{"SetVelocityEmpty", 3, [] { return SetVelocity(""); }, 12},
        ArgumentCase{"SetVelocityLongNumber", 3, [] { return SetVelocity(g_longNumber.c_str()); }, 12},
        ArgumentCase{"SetAccelerationLongText", 3, [] { return SetAcceleration(g_longText.c_str()); }, 12},
        ArgumentCase{"SetAccelerationNull", 3, [] { return SetAcceleration(nullptr); }, 14},
        ArgumentCase{"SetJoystickVelocityNull", 3, [] { return SetJoystickVelocity(nullptr); }, 14},
        ArgumentCase{"SetJoystickVelocityInfinite", 3, [] { return SetJoystickVelocity("1e999"); }, 12},
        ArgumentCase{"SetAxisModeThreeOnThreeAxes", 3, [] { return SetAxisMode(0, 1, 3, 0); }, 12},
        ArgumentCase{"SetAxisModeNegative", 1, [] { return SetAxisMode(-1, 0, 0, 0); }, 12},
        ArgumentCase{"SetAxisModeFourthAxis", 4, [] { return SetAxisMode(0, 0, 0, INT_MAX); }, 12},
        ArgumentCase{"GetPosAxisZero", 3, [] { return GetPosAxis(0, g_text); }, 8},
        ArgumentCase{"GetPosAxisMinusOne", 3, [] { return GetPosAxis(-1, g_text); }, 8},
        ArgumentCase{"GetPosAxisAboveCount", 3, [] { return GetPosAxis(4, g_text); }, 8},
        ArgumentCase{"GetPosAxisIntMax", 3, [] { return GetPosAxis(INT_MAX, g_text); }, 8},
        ArgumentCase{"GetLimitsNoAxes", -1,
                     [] { return GetLimits(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); },
                     8}),
    [](const ::testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

// ---- Output pointers, and the asynchronous mode ----------------------------

struct OutputCase {
    const char* name;
    int axes;
    std::function<int()> call;  // with missing outputs
    const char* sent;           // what the asynchronous mode sends
};

std::vector<OutputCase> MissingOutputCases() {
    static char b[256];
    return {
        {"Identify", 3, [] { return Identify(nullptr); }, "identify\r\n"},
        {"IdentifyExSizeZero", 3, [] { return IdentifyEx(b, 0); }, "identify\r\n"},
        {"GetStatus", 3, [] { return GetStatus(nullptr); }, "st\r\n"},
        {"GetError", 3, [] { return GetError(nullptr); }, "ge\r\n"},
        {"GetAxisModeThirdMissing", 3, [] { return GetAxisMode(&g_int, &g_int, nullptr, &g_int); },
         "-1 getaxis\r\n"},
        {"GetVelocity", 3, [] { return GetVelocity(nullptr); }, "getvel\r\n"},
        {"GetVelocityEx", 3, [] { return GetVelocityEx(nullptr, 256); }, "getvel\r\n"},
        {"GetAcceleration", 3, [] { return GetAcceleration(nullptr); }, "getaccel\r\n"},
        {"GetAccelerationExSizeZero", 3, [] { return GetAccelerationEx(b, 0); }, "getaccel\r\n"},
        {"GetJoystickVelocity", 3, [] { return GetJoystickVelocity(nullptr); }, "getjoyspeed\r\n"},
        {"GetJoystickVelocityEx", 3, [] { return GetJoystickVelocityEx(nullptr, 256); }, "getjoyspeed\r\n"},
        {"GetParamsOnStack", 3, [] { return GetParamsOnStack(nullptr); }, "gsp\r\n"},
        {"GetLimitsSecondUpperMissing", 2,
         [] { return GetLimits(b, b, b, nullptr, nullptr, nullptr, nullptr, nullptr); }, "getlimit\r\n"},
        {"GetLimitsExSizeZero", 1, [] { return GetLimitsEx(b, b, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0); },
         "getlimit\r\n"},
    };
}

class MissingOutput : public AxisCallTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(MissingOutput, GivesFourteenAndSendsNothing) {
    Connect(1, GetParam().axes);
    EXPECT_EQ(GetParam().call(), ZEL_ERR_NULL_POINTER);
    EXPECT_TRUE(line_->Sent().empty());
}

TEST_P(MissingOutput, IsAllowedInTheAsynchronousModeWhichReturnsAfterSending) {
    Connect(1, GetParam().axes, kAsync);
    ASSERT_EQ(C().ucCSignalMode, 4);
    EXPECT_EQ(GetParam().call(), 0);
    EXPECT_EQ(line_->Sent(), Lines{GetParam().sent});
    // The reply is awaited: further typed calls are refused until it is collected.
    EXPECT_EQ(GetStatus(&g_int), ZEL_ERR_BUSY);
}

INSTANTIATE_TEST_SUITE_P(Table, MissingOutput, ::testing::ValuesIn(MissingOutputCases()),
                         [](const ::testing::TestParamInfo<OutputCase>& info) { return std::string(info.param.name); });

TEST_F(AxisCallTest, PositionOutputsNeededOnlyForExistingAxes) {
    Connect(1, 1);
    char pos[256];
    Answer("4.5\r\n");
    EXPECT_EQ(GetPos(pos, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(pos, "4.5");
    EXPECT_EQ(GetPos(nullptr, pos, pos, pos), ZEL_ERR_NULL_POINTER);
    EXPECT_EQ(GetPosAxis(1, nullptr), ZEL_ERR_NULL_POINTER);
    EXPECT_EQ(GetPosAxisEx(1, pos, 0), ZEL_ERR_NULL_POINTER);
    EXPECT_EQ(line_->Sent().size(), 1u);
}

TEST_F(AxisCallTest, AsynchronousGetPosScansAtOnce) {
    Connect(1, 2, kAsync);
    char a[16] = "untouched", b[16] = "untouched";
    // The reply has not arrived when the call scans it.
    EXPECT_EQ(GetPos(a, b, nullptr, nullptr), ZEL_ERR_POSITION);
    EXPECT_EQ(line_->Sent(), Lines{"p\r\n"});
    C().bCWaitingForReply = false;
    // Arrived at once: the positions are stored, nothing is copied.
    Answer("1.5 2.5\r\n");
    EXPECT_EQ(GetPos(a, b, nullptr, nullptr), 0);
    EXPECT_STREQ(a, "untouched");
    EXPECT_DOUBLE_EQ(C().pCAxes[1]->dAPos, 2.5);
}

TEST_F(AxisCallTest, AsynchronousGetStatusLeavesTheOutputAlone) {
    Connect(1, 3, kAsync);
    int status = -7;
    Answer("5\r\n");
    EXPECT_EQ(GetStatus(&status), 0);
    EXPECT_EQ(status, -7);
}

// ---- Replies --------------------------------------------------------------

struct IntegerCase {
    const char* reply;
    int code, value;
};

void PrintTo(const IntegerCase& c, std::ostream* os) { *os << "reply \"" << c.reply << "\""; }

class IntegerReplies : public AxisCallTest, public ::testing::WithParamInterface<IntegerCase> {};

TEST_P(IntegerReplies, AreWholeDecimalIntegers) {
    const IntegerCase& p = GetParam();
    Connect(1, 3);
    int status = -7, error = -7, count = -7;
    for (int i = 0; i < 3; ++i) Answer(p.reply);
    EXPECT_EQ(GetStatus(&status), p.code);
    EXPECT_EQ(GetError(&error), p.code);
    EXPECT_EQ(GetParamsOnStack(&count), p.code);
    EXPECT_EQ(status, p.value);
    EXPECT_EQ(error, p.value);
    EXPECT_EQ(count, p.value);
}

INSTANTIATE_TEST_SUITE_P(Table, IntegerReplies,
                         ::testing::Values(IntegerCase{"12\r\n", 0, 12}, IntegerCase{"-3\r\n", 0, -3},
                                           IntegerCase{" 2147483647 \r\n", 0, INT_MAX},
                                           IntegerCase{"-2147483648\r\n", 0, INT_MIN},
                                           IntegerCase{"2147483648\r\n", 13, -7},
                                           IntegerCase{"99999999999999999999\r\n", 13, -7},
                                           IntegerCase{"1.5\r\n", 13, -7}, IntegerCase{"abc\r\n", 13, -7},
                                           IntegerCase{"12 13\r\n", 13, -7}, IntegerCase{"\r\n", 13, -7},
                                           IntegerCase{"-\r\n", 13, -7}));

TEST_F(AxisCallTest, IntegerRepliesAreReadFromTheConvertedReplyEvenWhenRawRepliesAreHandedOut) {
    Connect(1, 3);
    PreprocessReply(0);
    int status = 0;
    Answer("17\r\n");
    EXPECT_EQ(GetStatus(&status), 0);
    EXPECT_EQ(status, 17);
}

TEST_F(AxisCallTest, AxisModes) {
    Connect(1, 3);
    int m1 = -7, m2 = -7, m3 = -7, m4 = -7;
    Answer("0 1 2\r\n");
    EXPECT_EQ(GetAxisMode(&m1, &m2, &m3, &m4), 0);
    EXPECT_EQ((std::vector<int>{m1, m2, m3, m4}), (std::vector<int>{0, 1, 2, -7}));
    Answer("5 7 9\r\n");  // outside 0..2: 0
    EXPECT_EQ(GetAxisMode(&m1, &m2, &m3, nullptr), 0);
    EXPECT_EQ((std::vector<int>{m1, m2, m3}), (std::vector<int>{0, 0, 0}));
    m1 = m2 = m3 = -7;
    Answer("1 abc 2\r\n");
    EXPECT_EQ(GetAxisMode(&m1, &m2, &m3, nullptr), ZEL_ERR_REPLY_NUMBER);
    Answer("1 2\r\n");
    EXPECT_EQ(GetAxisMode(&m1, &m2, &m3, nullptr), ZEL_ERR_REPLY_NUMBER);
    EXPECT_EQ((std::vector<int>{m1, m2, m3}), (std::vector<int>{-7, -7, -7}));
}

TEST_F(AxisCallTest, TextRepliesAreHandedOutConvertedOrRaw) {
    Connect(1, 3);
    char text[256];
    SetDecimalSeparator(',');
    Answer("12.5\r\n");
    EXPECT_EQ(GetVelocity(text), 0);
    EXPECT_STREQ(text, "12,5");
    PreprocessReply(0);
    Answer("12.5\r\n");
    EXPECT_EQ(GetAcceleration(text), 0);
    EXPECT_STREQ(text, "12.5\r\n");
}

// Positions in the separator modes: the mode decides between the token as
// received, the token with the user separator and the re-formatted value.
struct PositionCase {
    const char* name;
    std::function<void()> mode;
    const char* reply;
    Lines expected;
};

class PositionFormat : public AxisCallTest, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(PositionFormat, GetPosGetPosAxisAndGetPosEx) {
    const PositionCase& p = GetParam();
    Connect(1, 3);
    p.mode();
    char a[256], b[256], c[256], d[256] = "fourth";
    Answer(p.reply);
    ASSERT_EQ(GetPos(a, b, c, d), 0);
    EXPECT_EQ((Lines{a, b, c}), p.expected);
    EXPECT_STREQ(d, "fourth");
    Answer(p.reply);
    ASSERT_EQ(GetPosAxis(3, c), 0);
    EXPECT_EQ(c, p.expected[2]);
    Answer(p.reply);
    ASSERT_EQ(GetPosEx(a, b, c, nullptr, sizeof a), 0);
    EXPECT_EQ((Lines{a, b, c}), p.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PositionFormat,
    ::testing::Values(
        PositionCase{"SystemSeparatorDecimalsOfTheLastTokenWithSeparator", [] { SetDecimalSeparator(0); },
                     "10.00000 20.5 30\r\n", {"10.0", "20.5", "30.0"}},
        PositionCase{"SystemSeparatorFiveDecimals", [] { SetDecimalSeparator(0); }, "10 20.00000 -0.00001\r\n",
                     {"10.00000", "20.00000", "-0.00001"}},
        PositionCase{"SystemSeparatorFromCommas", [] { SetDecimalSeparator(0); }, "1,5 2,25 3,125\r\n",
                     {"1.500", "2.250", "3.125"}},
        PositionCase{"TokensWithoutDecimalsKeepTheDecimals", [] { SetDecimalSeparator(0); }, "1. 2 3\r\n",
                     {"1.00000", "2.00000", "3.00000"}},
        PositionCase{"NoConversionTokensAsReceived", [] { SetDecimalSeparator(0xFF); }, "10.00000 20,5 30\r\n",
                     {"10.00000", "20,5", "30"}},
        PositionCase{"UserSeparator", [] { SetDecimalSeparator(','); }, "10.00000 20.5 30\r\n",
                     {"10,00000", "20,5", "30"}},
        PositionCase{"UserSeparatorFromOtherSeparators", [] { SetDecimalSeparator(';'); }, "1.5 2,5 3;5\r\n",
                     {"1;5", "2;5", "3;5"}},
        PositionCase{"RawReplies", [] { PreprocessReply(0); }, "10.00000 20,5 +3e1\r\n",
                     {"10.00000", "20,5", "+3e1"}}),
    [](const ::testing::TestParamInfo<PositionCase>& info) { return std::string(info.param.name); });

TEST_F(AxisCallTest, MoveAbsoluteThenGetPosRoundTripOverTheLine) {
    Connect(1, 3);
    ASSERT_EQ(MoveAbsolute("10", "20", "30", nullptr), 0);
    Answer("10.00000 20.00000 30.00000\r\n");
    char a[256], b[256], c[256];
    ASSERT_EQ(GetPos(a, b, c, nullptr), 0);
    EXPECT_EQ((Lines{a, b, c}), (Lines{"10.00000", "20.00000", "30.00000"}));
    EXPECT_EQ(line_->Sent(), (Lines{"10 20 30 m\r\n", "p\r\n"}));
}

class DemoAxisCallTest : public AxisCallTest {
protected:
    void SetUp() override { Load("[Startup]\nMode=DEMO\n"); }
};

TEST_F(DemoAxisCallTest, MoveAbsoluteThenGetPosRoundTripOnTheSimulator) {
    ASSERT_EQ(InitController(1, 3, 1, 9600, 0, 0, 0), 0);
    ASSERT_EQ(C().nCInterface, zel::kInterfaceDemo);
    C().bCConnected = true;
    ASSERT_EQ(MoveAbsolute("10", "20", "30", nullptr), 0);
    clock_.Advance(600000);  // long enough for any simulated move
    char a[256], b[256], c[256];
    ASSERT_EQ(GetPos(a, b, c, nullptr), 0);
    EXPECT_EQ((Lines{a, b, c}), (Lines{"10.00000", "20.00000", "30.00000"}));
    char p2[256];
    ASSERT_EQ(GetPosAxis(2, p2), 0);
    EXPECT_STREQ(p2, "20.00000");
}

TEST_F(AxisCallTest, BadPositionReplyGivesElevenAndKeepsThePositions) {
    Connect(1, 3);
    char a[256] = "", b[256] = "", c[256] = "";
    Answer("1 2 3\r\n");
    ASSERT_EQ(GetPos(a, b, c, nullptr), 0);
    Answer("1.5 2.5\r\n");
    EXPECT_EQ(GetPos(a, b, c, nullptr), ZEL_ERR_POSITION);
    Answer("abc 2 3\r\n");
    EXPECT_EQ(GetPosAxis(1, a), ZEL_ERR_POSITION);
    EXPECT_STREQ(a, "");  // GetPosAxis clears its output first
    EXPECT_DOUBLE_EQ(C().pCAxes[0]->dAPos, 1.0);
    EXPECT_EQ(GetPosAxis(2, b), ZEL_ERR_POSITION);  // silent line: time-out, no position
}

TEST_F(AxisCallTest, LimitsTakeTheirDecimalsFromTheReply) {
    Connect(1, 2);
    char l1[256], h1[256], l2[256], h2[256];
    Answer("-1.5 10.25\r\n-2 20\r\n");
    ASSERT_EQ(GetLimits(l1, h1, l2, h2, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ((Lines{l1, h1, l2, h2}), (Lines{"-1.50", "10.25", "-2.00", "20.00"}));
    EXPECT_EQ(C().nCLimitDecimals, 2);
    // The position decimals are a separate setting.
    EXPECT_EQ(C().nCPosDecimals, 5);

    SetDecimalSeparator(0xFF);
    Answer("-1.5 10.25\r\n-2 20\r\n");
    ASSERT_EQ(GetLimitsEx(l1, h1, l2, h2, nullptr, nullptr, nullptr, nullptr, 256), 0);
    EXPECT_EQ((Lines{l1, h1, l2, h2}), (Lines{"-1.5", "10.25", "-2", "20"}));

    Answer("-1.5 10.25\r\n-2\r\n");  // one value short
    EXPECT_EQ(GetLimits(l1, h1, l2, h2, nullptr, nullptr, nullptr, nullptr), ZEL_ERR_REPLY_NUMBER);
}

// ---- A system whose decimal separator is a comma ----------------------------

class CommaSystemTest : public AxisCallTest {
protected:
    void SetUp() override {
        if (comma_.empty()) GTEST_SKIP() << "no locale with a decimal comma is installed";
        env_ = std::make_unique<zeltest::ScopedEnv>("LC_ALL", comma_.c_str());
        Load(nullptr);
    }
    void TearDown() override {
        AxisCallTest::TearDown();
        env_.reset();
    }
    std::string comma_ = zeltest::CommaLocale();
    std::unique_ptr<zeltest::ScopedEnv> env_;
};

TEST_F(CommaSystemTest, PositionsAndLimitsUseTheSystemSeparator) {
    Connect(1, 3);
    char a[256], b[256], c[256];
    Answer("10.00000 20.5 30\r\n");
    ASSERT_EQ(GetPos(a, b, c, nullptr), 0);
    EXPECT_EQ((Lines{a, b, c}), (Lines{"10,0", "20,5", "30,0"}));
    Answer("-1.25 1\r\n-2 2\r\n0 3.5\r\n");  // one decimal, from 3.5
    char l[3][256], h[3][256];
    ASSERT_EQ(GetLimits(l[0], h[0], l[1], h[1], l[2], h[2], nullptr, nullptr), 0);
    EXPECT_EQ((Lines{l[0], h[0], l[2], h[2]}), (Lines{"-1,3", "1,0", "0,0", "3,5"}));
}

TEST_F(CommaSystemTest, NumberTextsWithEitherSeparatorGoOutWithAPoint) {
    Connect(1, 2);
    EXPECT_EQ(SetVelocity("2,5"), 0);
    EXPECT_EQ(SetAcceleration("2.5"), 0);
    EXPECT_EQ(MoveRelative("1,5", "-0.5", nullptr, nullptr), 0);
    EXPECT_EQ(line_->Sent(), (Lines{"2.5 setvel\r\n", "2.5 setaccel\r\n", "1.5 -0.5 r\r\n"}));
}

TEST_F(AxisCallTest, FormattingDoesNotFollowTheProcessLocale) {
    const std::string comma = zeltest::CommaLocale();
    if (comma.empty()) GTEST_SKIP() << "no locale with a decimal comma is installed";
    Connect(1, 2);
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(std::setlocale(LC_NUMERIC, comma.c_str()), nullptr);
    char a[256], b[256];
    Answer("1.25 -2.5\r\n");
    const int code = GetPos(a, b, nullptr, nullptr);
    const int move = MoveAbsoluteA("7.75", 1) | MoveAbsoluteA("0,5", 2);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_EQ(code, 0);
    // One decimal, from the last token; rounded half away from zero.
    EXPECT_EQ((Lines{a, b}), (Lines{"1.3", "-2.5"}));
    EXPECT_EQ(move, 0);
    EXPECT_EQ(line_->Sent().back(), "7.75 0.5 m\r\n");
}

// ---- Failures of the command --------------------------------------------

TEST_F(AxisCallTest, CommandFailuresAreReportedNotSwallowed) {
    Connect(1, 2);
    int status = -7;
    EXPECT_EQ(GetStatus(&status), ZEL_ERR_TIMEOUT);  // the line stays silent
    EXPECT_EQ(status, -7);
    EXPECT_EQ(zel::Interface().lastApiError, ZEL_ERR_TIMEOUT);
    line_->failWrites = true;
    EXPECT_EQ(SetOrigin(), ZEL_ERR_COMMAND_FAILED);
    EXPECT_EQ(MoveAbsolute("1", "2", nullptr, nullptr), ZEL_ERR_COMMAND_FAILED);
    EXPECT_EQ(SetAxisMode(1, 1, 0, 0), ZEL_ERR_COMMAND_FAILED);
    EXPECT_EQ(line_->Sent(), Lines{"st\r\n"});
}

TEST_F(AxisCallTest, SetAxisModeStopsAtTheFirstFailingCommand) {
    Connect(2, 3);
    line_->shortWrite = 0;  // an incomplete write ...
    line_->errorWord = 8;   // ... with a framing error on the line
    EXPECT_EQ(SetAxisMode(1, 1, 1, 0), ZEL_ERR_COMMAND_FAILED);
    EXPECT_EQ(line_->Sent().size(), 1u);
}

TEST_F(AxisCallTest, OriginCommandTooLongForTheLineIsRefused) {
    Connect(1, 200);  // "0 " per axis does not fit one line
    EXPECT_EQ(SetOrigin(), ZEL_ERR_PARAMETER);
    EXPECT_TRUE(line_->Sent().empty());
}

// ---- Bounded copies ---------------------------------------------------------

constexpr char kCanary = '\x5A';

TEST_F(AxisCallTest, LongRepliesStopAtTheBufferEnd) {
    Connect(1, 1);
    const std::string longReply(400, 'r');
    char buffer[300];
    using TextCall = std::function<int(char*)>;
    const std::vector<TextCall> calls = {[](char* b) { return Identify(b); }, [](char* b) { return GetVelocity(b); },
                                         [](char* b) { return GetAcceleration(b); },
                                         [](char* b) { return GetJoystickVelocity(b); }};
    for (const TextCall& call : calls) {
        std::memset(buffer, kCanary, sizeof buffer);
        Answer(longReply + "\r\n");
        ASSERT_EQ(call(buffer), 0);
        EXPECT_EQ(std::string(buffer), longReply.substr(0, 255));
        EXPECT_EQ(std::string(buffer + 256, buffer + 300), std::string(44, kCanary));
    }
}

TEST_F(AxisCallTest, ExFormsWriteNothingBeyondTheirSize) {
    Connect(1, 2);
    char b[8][16];
    auto fill = [&] { std::memset(b, kCanary, sizeof b); };
    auto intact = [&](int i, size_t from) {
        return std::string(b[i] + from, b[i] + 16) == std::string(16 - from, kCanary);
    };

    fill();
    Answer("identify reply\r\n");
    ASSERT_EQ(IdentifyEx(b[0], 4), 0);
    EXPECT_STREQ(b[0], "ide");
    EXPECT_TRUE(intact(0, 4));

    fill();
    Answer("10.00000 20.00000\r\n");
    ASSERT_EQ(GetPosEx(b[0], b[1], nullptr, nullptr, 5), 0);
    EXPECT_STREQ(b[0], "10.0");
    EXPECT_STREQ(b[1], "20.0");
    EXPECT_TRUE(intact(0, 5) && intact(1, 5));

    fill();
    Answer("10.00000 20.00000\r\n");
    ASSERT_EQ(GetPosAxisEx(2, b[0], 1), 0);
    EXPECT_STREQ(b[0], "");
    EXPECT_TRUE(intact(0, 1));

    fill();
    Answer("-100.5 100.5\r\n-200.5 200.5\r\n");
    ASSERT_EQ(GetLimitsEx(b[0], b[1], b[2], b[3], nullptr, nullptr, nullptr, nullptr, 3), 0);
    EXPECT_STREQ(b[0], "-1");
    EXPECT_STREQ(b[3], "20");
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(intact(i, 3)) << i;
    for (int i = 4; i < 8; ++i) EXPECT_TRUE(intact(i, 0)) << i;
}

TEST_F(AxisCallTest, RawTokenOfMaximalLengthFitsTheDefaultBuffer) {
    Connect(1, 1);
    SetDecimalSeparator(0xFF);
    const std::string token = "1." + std::string(253, '0');  // the longest token the scanner takes
    char buffer[300];
    std::memset(buffer, kCanary, sizeof buffer);
    Answer(token + "\r\n");
    ASSERT_EQ(GetPos(buffer, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(buffer), token);
    EXPECT_EQ(std::string(buffer + 256, buffer + 300), std::string(44, kCanary));
}

// ---- Number texts in and out ------------------------------------------------

struct FixedCase {
    double value;
    int decimals;
    char separator;
    const char* text;
};

void PrintTo(const FixedCase& c, std::ostream* os) {
    *os << c.value << " with " << c.decimals << " decimals and '" << c.separator << "'";
}

class FixedNotation : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedNotation, RoundsHalfAwayFromZeroToTwelveSignificantDigits) {
    const FixedCase& p = GetParam();
    EXPECT_EQ(zel::FixedText(p.value, p.decimals, p.separator), p.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FixedNotation,
    ::testing::Values(FixedCase{10, 5, '.', "10.00000"}, FixedCase{12.5, 1, ',', "12,5"},
                      FixedCase{-3.25, 1, '.', "-3.3"}, FixedCase{0.125, 2, '.', "0.13"},
                      FixedCase{2.5, 0, '.', "3"}, FixedCase{99.96, 1, '.', "100.0"},
                      FixedCase{-0.00001, 4, '.', "0.0000"}, FixedCase{-0.0, 2, '.', "0.00"},
                      FixedCase{0.1, 18, '.', "0.100000000000000000"},
                      FixedCase{123456.789012345, 9, '.', "123456.789012000"},
                      FixedCase{0.000123456789012345, 18, '.', "0.000123456789012000"},
                      FixedCase{999999999999.5, 0, '.', "1000000000000"},
                      FixedCase{1.5, -3, '.', "2"}, FixedCase{1.5, 254, '.', "1.500000000000000000"},
                      FixedCase{1.25e15, 2, ',', "1,25E+15"}, FixedCase{-1e300, 5, '.', "-1E+300"}));

TEST(GeneralNotation, KeepsTheDigitsOfTheTarget) {
    EXPECT_EQ(zel::GeneralText(10), "10");
    EXPECT_EQ(zel::GeneralText(-2.5), "-2.5");
    EXPECT_EQ(zel::GeneralText(123.456789), "123.456789");
    EXPECT_EQ(zel::GeneralText(1234567), "1234567");
    EXPECT_EQ(zel::GeneralText(0.1), "0.1");
    EXPECT_EQ(zel::GeneralText(-0.0), "0");
    EXPECT_EQ(zel::GeneralText(1e-7), "1e-07");
}

}  // namespace
