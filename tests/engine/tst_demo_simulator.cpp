// The demo-mode simulator: the common frame (connect string, transfer time,
// reply delivery, log lines), the multi-axis command set with straight-line
// moves, the single-axis command set with accelerated moves, the moves with
// automatic reply, and bounded handling of hostile input. Everything runs on
// a virtual clock, so the simulated sleeps are exact and cost nothing.
#include "engine/controller.h"
#include "engine/demo_simulator_internal.h"
#include "platform/zel_clock.h"
#include "platform/zel_paths.h"
#include "support/protocol_log.h"

#include "common/test_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <clocale>
#include <string>
#include <vector>

namespace {

using zel::TController;

constexpr int kMulti = 1;   // model type bit of the multi-axis default model
constexpr int kSingle = 4;  // model type bit of a single-axis model (Prusk)

class DemoTest : public ::testing::Test {
protected:
    void SetUp() override { zel::demo::SetDemoErrorPending(false); }
    void TearDown() override { zel::demo::SetDemoErrorPending(false); }

    static void Configure(TController& c, int typeBit, int axes) {
        c.nCInterface = zel::kInterfaceDemo;
        c.KvCSelectModelByType(typeBit);
        for (int k = 0; k < axes; ++k) c.pCAxes.push_back(std::make_unique<zel::TAxis>());
    }
    void Make(int typeBit, int axes) { Configure(c, typeBit, axes); }

    // One transmission as command execution hands it over: the reply text is
    // emptied first; returns what the simulator left in it.
    std::string Send(const std::string& command) { return SendTo(c, command); }
    std::string SendTo(TController& target, const std::string& command) {
        {
            std::lock_guard<std::mutex> lock(target.mCReplyLock);
            target.sCReply.clear();
        }
        result = target.KvCProcessDemoCommand(command, 1);
        std::lock_guard<std::mutex> lock(target.mCReplyLock);
        return target.sCReply;
    }
    // Simulated milliseconds the transmission blocked.
    uint32_t Slept(const std::string& command) {
        const uint32_t before = clock.TickCount();
        Send(command);
        return clock.TickCount() - before;
    }
    void AdvanceTo(uint32_t tick) { clock.Advance(tick - clock.TickCount()); }
    double Pos(size_t axis) const { return c.pCAxes[axis]->dAPos; }

    zel::VirtualClock clock{1000};
    zel::ScopedClock scopedClock{clock};
    TController c{0};
    bool result = false;
};

// ---- Frame -------------------------------------------------------------

TEST_F(DemoTest, OutsideDemoModeNothingHappens) {
    c.KvCSelectModelByType(kMulti);
    c.pCAxes.push_back(std::make_unique<zel::TAxis>());
    c.sCReply = "keep";
    EXPECT_FALSE(c.KvCProcessDemoCommand("identify\r\n", 1));
    EXPECT_FALSE(c.KvCProcessDemoCommand(c.sCConnectString, 1));
    EXPECT_EQ(c.sCReply, "keep");
    EXPECT_EQ(clock.TickCount(), 1000u);
}

TEST_F(DemoTest, CommandWithoutWordIsIgnoredWithoutSleeping) {
    for (int typeBit : {kMulti, kSingle}) {
        TController other(1);
        Configure(other, typeBit, 2);
        for (const char* command : {"", " ", "\r\n", " \t\r\n\r\n"}) {
            SCOPED_TRACE(std::string("type ") + std::to_string(typeBit) + " command '" + command + "'");
            other.sCReply = "keep";
            EXPECT_FALSE(other.KvCProcessDemoCommand(command, 1));
            EXPECT_EQ(other.sCReply, "keep");
            EXPECT_EQ(clock.TickCount(), 1000u);
        }
    }
    EXPECT_FALSE(zel::demo::DemoErrorPending());
}

TEST_F(DemoTest, MultiAxisConnectStringIsAnsweredWholeWithoutExtraWait) {
    Make(kMulti, 2);
    const std::string connect = c.sCConnectString;
    const uint32_t before = clock.TickCount();
    EXPECT_EQ(Send(connect), "0\r\n0\r\n");
    EXPECT_TRUE(result);
    EXPECT_TRUE(c.bCReplyComplete);
    // Transfer time of command and reply, without the 20 ms of other commands.
    EXPECT_EQ(clock.TickCount() - before, (connect.size() + 6) * 1000 / 1200);

    // Even an empty connect string is recognised, by the empty command.
    c.sCConnectString.clear();
    c.sCConnectReply = "ok\r\n";
    EXPECT_EQ(Send(""), "ok\r\n");
    EXPECT_TRUE(result);
    EXPECT_FALSE(zel::demo::DemoErrorPending());
}

TEST_F(DemoTest, SingleAxisConnectStringIsAnsweredForTheAddressedAxis) {
    Make(kSingle, 2);
    c.pCAxes[1]->dAVelocity = 3;
    const std::string connect = TController::KvCExpandAxisNumber(c.sCConnectString, 1);
    ASSERT_EQ(connect, "0 2 nmode\r\n2 nclear\r\n-1 2 snv 2 gne 2 gne 2 gne\r\n");
    const uint32_t before = clock.TickCount();
    EXPECT_EQ(Send(connect), "0\r\n0\r\n");
    EXPECT_EQ(clock.TickCount() - before, (connect.size() + 6) * 1000 / 1200 + 20);
    EXPECT_EQ(c.pCAxes[1]->dAVelocity, 3) << "the words of the connect string are not executed";
}

struct WaitCase {
    int baudCode;
    const char* command;
    uint32_t ms;
};

TEST_F(DemoTest, WaitIsTransferTimeOrFixedWait) {
    Make(kMulti, 2);
    const WaitCase cases[] = {
        {4, "st\r\n", 25},      // (4 + 3) * 1000 / 1200 + 20
        {4, "10 sv\r\n", 25},   // no reply: (7 + 0) * 1000 / 1200 + 20
        {7, "st\r\n", 66},      // 1200 baud: 7 * 1000 / 150 + 20
        {0, "st\r\n", 20},      // 115200 baud: 7 * 1000 / 14400 + 20
        {200, "st\r\n", 25},    // a code outside the table counts as 9600 baud
        {4, "cal st\r\n", 4000},  // fixed wait replaces the transfer time
        {4, "rm st\r\n", 4000},
        {4, "cal\r\n", 4000},
        {4, "rangemeasure\r\n", 4000},
    };
    for (const WaitCase& w : cases) {
        SCOPED_TRACE(w.command);
        c.ucCBaudCode = static_cast<uint8_t>(w.baudCode);
        EXPECT_EQ(Slept(w.command), w.ms);
        EXPECT_TRUE(result);
    }
}

TEST_F(DemoTest, ReplyEndsWithExactlyOneLineEnd) {
    Make(kMulti, 2);
    EXPECT_EQ(Send("identify\r\n"), "Controller in demo mode\r\n");
    EXPECT_EQ(Send("getlimit\r\n"), " 0.00000 0.00000\r\n 0.00000 0.00000\r\n");
    c.pCAxes[0]->dALowLimit = -12.5;
    c.pCAxes[1]->dAHighLimit = 99;
    EXPECT_EQ(Send("getlimit\r\n"), " -12.50000 0.00000\r\n 0.00000 99.00000\r\n");
}

TEST_F(DemoTest, CommandWithoutReplyLeavesTheReplyTextAlone) {
    Make(kMulti, 2);
    c.sCReply = "earlier";
    EXPECT_TRUE(c.KvCProcessDemoCommand("10 sv\r\n", 0));
    EXPECT_EQ(c.sCReply, "earlier");
    EXPECT_EQ(c.dCDemoVelocity, 10);
}

TEST_F(DemoTest, ProtocolShowsEntryReplyFixedWaitAndEnd) {
    zeltest::TempDir dir;
    zeltest::ScopedEnv protocolDir("ZELCOMM_PROTOCOL_DIR", dir.path().c_str());
    zeltest::ScopedEnv ini("ZELCOMM_INI", dir.File("none.ini").c_str());
    zel::ResetConfigPath();
    Make(kMulti, 1);
    zel::KvDiagProtSetupFile(true, zel::kLogTrace, 1);
    c.KvCProcessDemoCommand("cal st\r\n", 1);
    c.KvCProcessDemoCommand(" \r\n", 3);
    zel::KvDiagProtSetupFile(false, -1, 1);
    zel::ResetConfigPath();
    const std::string log = zeltest::ReadWholeFile(dir.File("Protocol.dat"));

    const std::vector<std::string> inOrder = {
        "[TController0::KvCProcessDemoCommand(cal st\r\n,1)]\r\n",
        "[TController::KvCProcessDemoCommand(), calibrating]\r\n",
        "[TController::KvCProcessDemoCommand(), Reply: 0]\r\n",
        "[TController0::KvCOnEventChar()]\r\n",
        "[TController0::KvCProcessDemoCommand() done]\r\n",
        "[TController0::KvCProcessDemoCommand( \r\n,3)]\r\n",
    };
    size_t at = 0;
    for (const std::string& line : inOrder) {
        const size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\nin:\n" << log;
        at = found + line.size();
    }
    EXPECT_EQ(log.find("KvCProcessDemoCommand", at), std::string::npos)
        << "a command without words logs only its entry line";
}

// ---- Demo error ----------------------------------------------------------

TEST_F(DemoTest, UnknownMultiAxisWordArmsErrorForOneQuery) {
    Make(kMulti, 2);
    c.nCLastError = 7;
    c.sCReply = "keep";
    EXPECT_TRUE(c.KvCProcessDemoCommand("abc\r\n", 1));
    EXPECT_EQ(c.sCReply, "keep");
    EXPECT_EQ(Send("ge\r\n"), "2000\r\n");
    EXPECT_EQ(Send("geterror\r\n"), "7\r\n");
    // Words are case-sensitive.
    Send("ST\r\n");
    EXPECT_EQ(Send("ge\r\n"), "2000\r\n");
}

TEST_F(DemoTest, ErrorFlagIsSharedAndOnlyTheMultiAxisSetArmsIt) {
    Make(kMulti, 2);
    TController single(1);
    Configure(single, kSingle, 2);
    single.nCLastError = 5;

    EXPECT_EQ(SendTo(single, "xyz\r\n"), "");
    EXPECT_EQ(SendTo(single, "1 gne\r\n"), "5\r\n") << "an unknown single-axis word arms nothing";

    Send("abc\r\n");
    EXPECT_EQ(SendTo(single, "1 getnerror\r\n"), "2000\r\n") << "armed by the other controller";
    EXPECT_EQ(Send("ge\r\n"), "0\r\n") << "cleared by the query that reported it";
}

// ---- Multi-axis command set ----------------------------------------------

TEST_F(DemoTest, StraightLineMoveArrivesTogether) {
    Make(kMulti, 2);
    Send("10 sv\r\n");
    uint32_t start = clock.TickCount();
    Send("30 40 m\r\n");
    AdvanceTo(start + 2000);
    EXPECT_EQ(Send("st\r\np\r\n"), "1\r\n 15.00000 20.00000\r\n");
    AdvanceTo(start + 4000);
    EXPECT_EQ(Send("st\r\np\r\n"), "0\r\n 30.00000 40.00000\r\n");
    EXPECT_FALSE(c.pCAxes[0]->bAMoving || c.pCAxes[1]->bAMoving);

    start = clock.TickCount();
    Send("-30 -20 rmove\r\n");  // D = 30: 3 s
    AdvanceTo(start + 2000);
    EXPECT_EQ(Send("st\r\npos\r\n"), "1\r\n 10.00000 26.66667\r\n");
    AdvanceTo(start + 3000);
    EXPECT_EQ(Send("st\r\np\r\n"), "0\r\n 0.00000 20.00000\r\n");
}

TEST_F(DemoTest, StatusAddsMovingBitToJoystickBit) {
    Make(kMulti, 2);
    Send("10 sv\r\n");
    EXPECT_EQ(Send("1 j\r\n"), "");
    EXPECT_EQ(Send("st\r\n"), "2\r\n");
    const uint32_t start = clock.TickCount();
    Send("10 0 move\r\n");
    EXPECT_EQ(Send("status\r\n"), "3\r\n");
    AdvanceTo(start + 1000);
    EXPECT_EQ(Send("st\r\n"), "2\r\n");
    Send("0 j\r\n");
    EXPECT_EQ(Send("st\r\n"), "0\r\n");
}

struct InstantCase {
    double velocity;
    const char* command;
    const char* statusAndPositions;  // reply to "st\r\np\r\n" right after
};

TEST_F(DemoTest, MovesWithoutWholeDistanceOrUsableSpeed) {
    const InstantCase cases[] = {
        {10, "0.5 0 m\r\n", "0\r\n 0.00000 0.00000\r\n"},       // D = 0: nothing moves
        {10, "0.5 -0.9 r\r\n", "0\r\n 0.00000 0.00000\r\n"},
        {0, "30 40 m\r\n", "0\r\n 30.00000 40.00000\r\n"},      // velocity 0: at once
        {-5, "30 40 m\r\n", "0\r\n 30.00000 40.00000\r\n"},
        {10, "1e12 0 m\r\n", "0\r\n 1000000000000.00000 0.00000\r\n"},  // beyond the tick range
        {0, "5 m\r\n", "0\r\n 5.00000 0.00000\r\n"},            // missing numbers count as 0
        {0, "7 r\r\n", "0\r\n 7.00000 0.00000\r\n"},
    };
    for (const InstantCase& m : cases) {
        SCOPED_TRACE(m.command);
        TController fresh(2);
        Configure(fresh, kMulti, 2);
        fresh.dCDemoVelocity = m.velocity;
        SendTo(fresh, m.command);
        EXPECT_EQ(SendTo(fresh, "st\r\np\r\n"), m.statusAndPositions);
    }
}

TEST_F(DemoTest, SettingsAreStoredAndReported) {
    Make(kMulti, 2);
    c.dCVersion = 3.14159;
    EXPECT_EQ(Send("version\r\n"), "3.14\r\n");
    Send("2.5 setvel\r\n");
    EXPECT_EQ(Send("getvel\r\n"), "2.50000\r\n");
    Send("-0.125 setaccel\r\n");
    EXPECT_EQ(Send("ga\r\n"), "-0.12500\r\n");
    Send("7 joyspeed\r\n");
    EXPECT_EQ(Send("getjoyspeed\r\n"), "7.00000\r\n");
    c.nCDemoStackCount = 4;
    EXPECT_EQ(Send("gsp\r\n"), "4\r\n");
    Send("clear\r\n");
    EXPECT_EQ(Send("gsp\r\n"), "0\r\n");
    Send("1.5 -2 setpos\r\n");
    EXPECT_EQ(Send("p\r\n"), " 1.50000 -2.00000\r\n");
    EXPECT_FALSE(zel::demo::DemoErrorPending());
}

TEST_F(DemoTest, CalibrationAndRangeMeasureSetPositions) {
    Make(kMulti, 3);
    Send("1 2 3 setpos\r\n");
    EXPECT_EQ(Slept("rm\r\n"), 4000u);
    EXPECT_EQ(Send("p\r\n"), " 0.00000 100.00000 200.00000\r\n");
    EXPECT_EQ(Send("cal st\r\n"), "0\r\n");
    EXPECT_EQ(Send("p\r\n"), " 0.00000 0.00000 0.00000\r\n");
    EXPECT_EQ(Send("rangemeasure st\r\n"), "0\r\n");
    EXPECT_EQ(Pos(2), 200);
    EXPECT_EQ(Send("calibrate\r\n"), "");
    EXPECT_EQ(Pos(2), 0);
}

struct AxisModeCase {
    const char* command;
    const char* reply;
    int mode1, mode2;  // modes of axes 1 and 2 afterwards
};

TEST_F(DemoTest, AxisModesAndBadAxisNumbers) {
    const AxisModeCase cases[] = {
        {"-1 getaxis\r\n", " 2 2\r\n", 2, 2},
        {"2 getaxis\r\n", "2\r\n", 2, 2},
        {"5 2 setaxis\r\n", "", 2, 5},
        {"1 1 setaxis\r\n", "", 1, 2},
        {"5 2 3 setaxis\r\n", "", 2, 2},  // only with exactly three words
        {"getaxis\r\n", "", 2, 2},
        {"0 getaxis\r\n", "", 2, 2},
        {"3 getaxis\r\n", "", 2, 2},
        {"-2 getaxis\r\n", "", 2, 2},
        {"2147483647 getaxis\r\n", "", 2, 2},
        {"-2147483648 getaxis\r\n", "", 2, 2},
        {"99999999999 getaxis\r\n", "", 2, 2},
        {"5 0 setaxis\r\n", "", 2, 2},
        {"5 3 setaxis\r\n", "", 2, 2},
        {"5 -1 setaxis\r\n", "", 2, 2},
        {"5 2147483647 setaxis\r\n", "", 2, 2},
    };
    for (const AxisModeCase& m : cases) {
        SCOPED_TRACE(m.command);
        TController fresh(2);
        Configure(fresh, kMulti, 2);
        EXPECT_EQ(SendTo(fresh, m.command), m.reply);
        EXPECT_EQ(fresh.pCAxes[0]->ucAMode, m.mode1);
        EXPECT_EQ(fresh.pCAxes[1]->ucAMode, m.mode2);
    }
    EXPECT_FALSE(zel::demo::DemoErrorPending());
}

// ---- Multi-axis moves with automatic reply ---------------------------------

struct AutoCase {
    const char* name;
    int axes;
    double velocity, acceleration;
    std::vector<double> start;
    const char* command;
    uint32_t slept;  // travel time plus transfer time
    std::vector<double> positions;
    const char* reply;  // the joystick bit stays unless a move completed
};

TEST_F(DemoTest, MultiAxisMoveWithAutomaticReplyEndsBeforeTheStatus) {
    const AutoCase cases[] = {
        // D = 20, ta = 0.1 s, sa = 0.5: T = 19 / 10 + 0.2 = 2.1 s; transfer 21 * 1000 / 1200 + 20.
        {"absolute", 2, 10, 100, {0, 0}, "10 20 m 0 0 r st\r\n", 2100 + 37, {10, 20}, "0\r\n"},
        // D = 5: T = 4 / 10 + 0.2 = 0.6 s.
        {"relative", 2, 10, 100, {10, 20}, "5 -5 r 0 0 r st\r\n", 600 + 36, {15, 15}, "0\r\n"},
        // Acceleration 0: constant speed, T = 20 / 10.
        {"no acceleration", 2, 10, 0, {0, 0}, "10 20 m 0 0 r st\r\n", 2000 + 37, {10, 20}, "0\r\n"},
        // 2 sa = 100 >= 4: T = 2 * sqrt(4 / 1) = 4 s.
        {"never at full speed", 2, 10, 1, {0, 0}, "4 0 m 0 0 r st\r\n", 4000 + 35, {4, 0}, "0\r\n"},
        // Velocity 0 has no finite travel time: the move completes at once.
        {"velocity 0", 2, 0, 100, {0, 0}, "10 20 m 0 0 r st\r\n", 37, {10, 20}, "0\r\n"},
        // Under a millisecond of travel still arrives.
        {"very fast", 2, 1e6, 0, {0, 0}, "10 20 m 0 0 r st\r\n", 37, {10, 20}, "0\r\n"},
        // Fractional distances only: D = 0, nothing moves.
        {"under one unit", 2, 10, 100, {0, 0}, "0.5 0.5 m 0 0 r st\r\n", 39, {0, 0}, "2\r\n"},
        // The pattern names every axis: two zeros do not fit three axes.
        {"other axis count", 3, 10, 100, {0, 0, 0}, "10 20 m 0 0 r st\r\n", 37, {0, 0, 0}, "2\r\n"},
        {"no axes", 0, 10, 100, {}, "10 m r st\r\n", 31, {}, "2\r\n"},
    };
    for (const AutoCase& m : cases) {
        SCOPED_TRACE(m.name);
        TController fresh(2);
        Configure(fresh, kMulti, m.axes);
        for (size_t k = 0; k < m.start.size(); ++k) fresh.pCAxes[k]->dAPos = m.start[k];
        fresh.dCDemoVelocity = m.velocity;
        fresh.dCDemoAcceleration = m.acceleration;
        fresh.nCDemoStatus = 2;  // joystick on
        const uint32_t before = clock.TickCount();
        EXPECT_EQ(SendTo(fresh, m.command), m.reply);
        EXPECT_EQ(clock.TickCount() - before, m.slept);
        for (size_t k = 0; k < m.positions.size(); ++k) {
            EXPECT_EQ(fresh.pCAxes[k]->dAPos, m.positions[k]) << "axis " << k + 1;
            EXPECT_FALSE(fresh.pCAxes[k]->bAMoving);
        }
    }
}

// ---- Single-axis command set ------------------------------------------------

struct ProfilePoint {
    uint32_t ms;        // after the start of the move
    const char* reply;  // to "1 nst 1 np"
};

struct ProfileCase {
    const char* name;
    double acceleration, velocity, start, target;
    std::vector<ProfilePoint> points;
};

TEST_F(DemoTest, SingleAxisMoveFollowsItsProfileAndArrives) {
    const ProfileCase cases[] = {
        // ta = 0.25 s, sa = 0.0625; T = (10 - 0.125) / 0.5 + 0.5 = 20.25 s.
        {"trapezoidal", 2, 0.5, 0, 10,
         {{100, "1\r\n 0.010000\r\n"},      // accelerating
          {1000, "1\r\n 0.437500\r\n"},     // cruising: 0.75 * 0.5 + 0.0625
          {20100, "1\r\n 9.977500\r\n"},    // braking
          {20250, "0\r\n 10.000000\r\n"}}},
        // 2 sa = 100 > 4: T = 4 s.
        {"triangular", 1, 10, 0, 4,
         {{1000, "1\r\n 0.500000\r\n"}, {3000, "1\r\n 3.500000\r\n"}, {4000, "0\r\n 4.000000\r\n"}}},
        {"triangular backwards", 1, 10, 4, 0,
         {{1000, "1\r\n 3.500000\r\n"}, {4000, "0\r\n 0.000000\r\n"}}},
        // Acceleration 0: constant speed over T = 10 / 2.
        {"no acceleration", 0, 2, 0, 10,
         {{1000, "1\r\n 2.000000\r\n"}, {5000, "0\r\n 10.000000\r\n"}}},
        // The timing follows the whole distance 10; the axis still ends on 10.5.
        {"fractional distance", 2, 0.5, 0, 10.5,
         {{1000, "1\r\n 0.437500\r\n"}, {20250, "0\r\n 10.500000\r\n"}}},
        {"under one unit", 2, 0.5, 0, 0.25, {{0, "0\r\n 0.250000\r\n"}}},
        // No finite profile: the move completes at once.
        {"velocity 0", 2, 0, 0, 10, {{0, "0\r\n 10.000000\r\n"}}},
        {"beyond the tick range", 0, 1e-9, 0, 10, {{0, "0\r\n 10.000000\r\n"}}},
    };
    for (const ProfileCase& m : cases) {
        SCOPED_TRACE(m.name);
        TController fresh(2);
        Configure(fresh, kSingle, 1);
        fresh.pCAxes[0]->dAPos = m.start;
        SendTo(fresh, zel::demo::Fixed(m.acceleration, 6) + " 1 sna\r\n");
        SendTo(fresh, zel::demo::Fixed(m.velocity, 12) + " 1 snv\r\n");
        const uint32_t start = clock.TickCount();
        SendTo(fresh, zel::demo::Fixed(m.target, 6) + " 1 nm\r\n");
        for (const ProfilePoint& p : m.points) {
            SCOPED_TRACE(p.ms);
            if (p.ms > 0) AdvanceTo(start + p.ms);
            EXPECT_EQ(SendTo(fresh, "1 nst 1 np\r\n"), p.reply);
        }
        EXPECT_FALSE(fresh.pCAxes[0]->bAMoving);
    }
}

TEST_F(DemoTest, SingleAxisStatusAndMoves) {
    Make(kSingle, 2);
    Send("0.5 1 snv\r\n");
    Send("2 1 sna\r\n");
    EXPECT_EQ(Send("1 1 nj\r\n"), "");
    EXPECT_EQ(Send("1 nst\r\n"), "2\r\n");
    EXPECT_EQ(Send("2 nst\r\n"), "0\r\n") << "the joystick bit belongs to axis 1";

    Send("0 1 nm\r\n");  // to the current position: no move
    EXPECT_FALSE(c.pCAxes[0]->bAMoving);
    EXPECT_EQ(Send("1 nst\r\n"), "2\r\n");

    c.pCAxes[0]->dAPos = 10;
    Send("1 nr\r\n");  // two words: ignored, and arms no error
    EXPECT_FALSE(c.pCAxes[0]->bAMoving);
    EXPECT_FALSE(zel::demo::DemoErrorPending());
    const uint32_t start = clock.TickCount();
    Send("9 5 1 nr\r\n");  // the distance stands two words before "nr"
    EXPECT_EQ(c.pCAxes[0]->dATargetPos, 15);
    EXPECT_EQ(Send("1 nstatus\r\n"), "3\r\n");
    AdvanceTo(start + 10250);  // d = 5: T = 4.875 / 0.5 + 0.5
    EXPECT_EQ(Send("1 nst 1 npos\r\n"), "0\r\n 15.000000\r\n");
    Send("0 1 nj\r\n");
    EXPECT_EQ(Send("1 nst\r\n"), "0\r\n");
    EXPECT_EQ(Pos(1), 0) << "axis 2 untouched";
}

TEST_F(DemoTest, SingleAxisWordsActOnTheirAxisOnly) {
    Make(kSingle, 2);
    c.dCVersion = 1.5;
    c.pCAxes[1]->dALowLimit = -1;
    c.pCAxes[1]->dAHighLimit = 2;
    c.pCAxes[1]->nAStackCount = 3;
    Send("2.5 2 setnvel\r\n");
    EXPECT_EQ(Send("2 getnvel\r\n"), "2.500000\r\n");
    Send("1.25 2 setnaccel\r\n");
    EXPECT_EQ(Send("2 gna\r\n"), "1.250000\r\n");
    Send("3 2 njs\r\n");
    EXPECT_EQ(Send("2 getnjoyspeed\r\n"), "3.000000\r\n");
    EXPECT_EQ(Send("2 getnlimit\r\n"), "-1.000000 2.000000\r\n");
    EXPECT_EQ(Send("2 gnsp\r\n"), "3\r\n");
    Send("2 nclear\r\n");
    EXPECT_EQ(Send("2 gnsp\r\n"), "0\r\n");
    Send("1 2 setaxis\r\n");
    EXPECT_EQ(Send("2 getaxis\r\n"), "1\r\n");
    EXPECT_EQ(Send("1 getaxis\r\n"), "2\r\n");
    EXPECT_EQ(Send("2 nidentify\r\n"), "Demo mode Prusk 0 0 0 0\r\n");
    EXPECT_EQ(Send("2 nversion\r\n"), "1.50\r\n");

    const zel::TAxis& first = *c.pCAxes[0];
    EXPECT_EQ(first.dAVelocity, 0);
    EXPECT_EQ(first.dAAcceleration, 0);
    EXPECT_EQ(first.dAJoystickSpeed, 0);
    EXPECT_EQ(Send("1 getnlimit\r\n"), "0.000000 0.000000\r\n");
}

TEST_F(DemoTest, SingleAxisCalibrationRangeMeasureAndOrigin) {
    Make(kSingle, 2);
    EXPECT_EQ(Slept("2 nrm\r\n"), 4000u);
    EXPECT_EQ(Pos(1), 200);
    EXPECT_EQ(Send("2 nrangemeasure 2 nst\r\n"), "0\r\n");
    EXPECT_EQ(Slept("2 ncal 2 nst\r\n"), 4000u);
    EXPECT_EQ(Pos(1), 0);
    EXPECT_EQ(Send("1 nrm\r\n"), "");
    EXPECT_EQ(Pos(0), 100);
    Send("3 1 setnpos\r\n");
    EXPECT_EQ(Pos(0), 0) << "setnpos sets the origin, not its number";
    Send("7 2 nrm\r\n");
    Send("2 ncalibrate\r\n");
    EXPECT_EQ(Pos(1), 0);
}

struct AxisChoiceCase {
    const char* command;
    const char* reply;  // status of the axis addressed; empty: none answers
};

TEST_F(DemoTest, SingleAxisChoiceNeverLeavesTheAxisList) {
    Make(kSingle, 2);
    c.pCAxes[0]->nAStatus = 4;
    c.pCAxes[1]->nAStatus = 8;
    const AxisChoiceCase cases[] = {
        {"nst\r\n", "4\r\n"},
        {"0 nst\r\n", "4\r\n"},
        {"-1 nst\r\n", "4\r\n"},
        {"-2147483648 nst\r\n", "4\r\n"},
        {"2 nst\r\n", "8\r\n"},
        {"3 nst\r\n", ""},
        {"2147483647 nst\r\n", ""},
        {"99999999999 nst\r\n", ""},
        {"5 3 snv\r\n", ""},
        {"10 5 nm\r\n", ""},
        {"3 nrm\r\n", ""},
        {"3 gne\r\n", ""},
    };
    for (const AxisChoiceCase& m : cases) {
        SCOPED_TRACE(m.command);
        EXPECT_EQ(Send(m.command), m.reply);
        EXPECT_TRUE(result);
    }
    for (const auto& axis : c.pCAxes) {
        EXPECT_EQ(axis->dAPos, 0);
        EXPECT_EQ(axis->dAVelocity, 0);
        EXPECT_FALSE(axis->bAMoving);
    }

    TController none(1);
    Configure(none, kSingle, 0);
    EXPECT_EQ(SendTo(none, "1 nst\r\n"), "");
    EXPECT_EQ(SendTo(none, "nidentify\r\n"), "");
    EXPECT_TRUE(result);
}

struct SingleAutoCase {
    const char* name;
    double acceleration, velocity, start;
    const char* command;
    uint32_t slept;  // travel time plus transfer time
    double position;
    const char* reply;
};

TEST_F(DemoTest, SingleAxisMoveWithAutomaticReply) {
    const SingleAutoCase cases[] = {
        // T = 20.25 s; transfer (22 + 3) * 1000 / 1200 + 20.
        {"absolute", 2, 0.5, 0, "10 1 nm 0 1 nr 1 nst\r\n", 20250 + 40, 10, "0\r\n"},
        // From 10 by 5: T = 10.25 s.
        {"relative", 2, 0.5, 10, "5 1 nr 0 1 nr 1 nst\r\n", 10250 + 40, 15, "0\r\n"},
        {"triangular", 1, 10, 0, "4 1 nm 0 1 nr 1 nst\r\n", 4000 + 40, 4, "0\r\n"},
        // No finite travel time, or under a millisecond: arrives without waiting.
        {"velocity 0", 2, 0, 0, "10 1 nm 0 1 nr 1 nst\r\n", 40, 10, "0\r\n"},
        {"under one unit", 2, 0.5, 0, "0.5 1 nm 0 1 nr 1 nst\r\n", 41, 0.5, "0\r\n"},
        {"no distance", 2, 0.5, 3, "3 1 nm 0 1 nr 1 nst\r\n", 40, 3, "2\r\n"},
        // The pattern must name the axis addressed, as whole words.
        {"other axis", 2, 0.5, 0, "10 1 nm 0 2 nr 2 nst\r\n", 40, 0, "0\r\n"},
        {"inside a word", 2, 0.5, 0, "5 11 nm 0 1 nr 1 nst\r\n", 40, 0, "2\r\n"},
    };
    for (const SingleAutoCase& m : cases) {
        SCOPED_TRACE(m.name);
        TController fresh(2);
        Configure(fresh, kSingle, 2);
        zel::TAxis& axis = *fresh.pCAxes[0];
        axis.dAAcceleration = m.acceleration;
        axis.dAVelocity = m.velocity;
        axis.dAPos = m.start;
        axis.nAStatus = 2;  // cleared by a completed move
        const uint32_t before = clock.TickCount();
        EXPECT_EQ(SendTo(fresh, m.command), m.reply);
        EXPECT_EQ(clock.TickCount() - before, m.slept);
        EXPECT_EQ(axis.dAPos, m.position);
        EXPECT_FALSE(axis.bAMoving);
    }
}

// ---- Number reading and hostile input -----------------------------------------

TEST(DemoNumbers, WordsReadAsDecimalNumbers) {
    struct Case {
        const char* word;
        double number;
        int integer;
    };
    const Case cases[] = {
        {"2.5", 2.5, 2},       {"-3", -3, -3},          {"+4", 4, 4},
        {".5", 0.5, 0},        {"5.", 5, 5},            {"1e2", 100, 1},
        {"1.5E-1", 0.15, 1},   {"5e", 5, 5},            {"7xyz", 7, 7},
        {"abc", 0, 0},         {"", 0, 0},              {"-", 0, 0},
        {".", 0, 0},           {"1,5", 1, 1},           {"inf", 0, 0},
        {"nan", 0, 0},         {"0x10", 0, 0},          {"1e999", 0, 1},
        {"-0", 0, 0},          {"2147483648", 2147483648.0, INT_MAX},
        {"-99999999999", -99999999999.0, INT_MIN},
    };
    for (const Case& m : cases) {
        SCOPED_TRACE(m.word);
        EXPECT_EQ(zel::demo::NumberValue(m.word), m.number);
        EXPECT_EQ(zel::demo::IntegerValue(m.word), m.integer);
    }
    EXPECT_FALSE(std::signbit(zel::demo::NumberValue("-0")));
}

TEST_F(DemoTest, NumbersDoNotFollowTheProcessLocale) {
    const char* const commaLocales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE", "nl_NL.UTF-8"};
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char* chosen = nullptr;
    for (const char* name : commaLocales) {
        if (std::setlocale(LC_NUMERIC, name)) {
            chosen = name;
            break;
        }
    }
    if (!chosen) GTEST_SKIP() << "no locale with a decimal comma installed";
    Make(kMulti, 1);
    Send("2.5 sv\r\n");
    const std::string reply = Send("gv\r\n");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(reply, "2.50000\r\n") << "locale " << chosen;
}

TEST_F(DemoTest, ListRepliesAreCutAfterTheLastWholeItem) {
    Make(kMulti, 200);
    std::string limits;
    for (int k = 0; k < 14; ++k) limits += " 0.00000 0.00000\r\n";  // 14 * 18 = 252
    EXPECT_EQ(Send("getlimit\r\n"), limits);

    std::string positions = "0\r\n";
    for (int k = 0; k < 31; ++k) positions += " 0.00000";  // 3 + 31 * 8 + 2 = 253
    EXPECT_EQ(Send("st\r\np\r\n"), positions + "\r\n");

    std::string modes;
    for (int k = 0; k < 126; ++k) modes += " 2";  // 126 * 2 + 2 = 254
    EXPECT_EQ(Send("-1 getaxis\r\n"), modes + "\r\n");

    c.dCDemoVelocity = 1e300;  // a single value longer than a reply can hold
    const std::string huge = Send("gv\r\n");
    EXPECT_EQ(huge.size(), 255u);
    EXPECT_EQ(huge.substr(253), "\r\n");
}

TEST_F(DemoTest, MultiAxisCommandsWithoutAxes) {
    Make(kMulti, 0);
    struct Case {
        const char* command;
        const char* reply;
    };
    const Case cases[] = {
        {"10 20 m\r\n", ""},  {"r\r\n", ""},           {"setpos\r\n", ""},
        {"p\r\n", ""},        {"st\r\np\r\n", "0\r\n"}, {"getlimit\r\n", ""},
        {"-1 getaxis\r\n", ""}, {"1 getaxis\r\n", ""}, {"cal st\r\n", "0\r\n"},
        {"rm\r\n", ""},       {" m r st\r\n", "0\r\n"},
    };
    for (const Case& m : cases) {
        SCOPED_TRACE(m.command);
        EXPECT_EQ(Send(m.command), m.reply);
        EXPECT_TRUE(result);
    }
    EXPECT_FALSE(zel::demo::DemoErrorPending());
}

TEST_F(DemoTest, LongCommandsManyWordsAndLongWords) {
    Make(kMulti, 2);
    // 10,000 words: the first two set the positions.
    std::string manyWords;
    for (int k = 0; k < 9999; ++k) manyWords += (k == 0 ? "3 " : "4 ");
    manyWords += "setpos\r\n";
    EXPECT_EQ(Send(manyWords), "");
    EXPECT_EQ(Pos(0), 3);
    EXPECT_EQ(Pos(1), 4);

    // One 10,000-character word is an unknown word.
    EXPECT_EQ(Send(std::string(10000, 'x') + "\r\n"), "");
    EXPECT_TRUE(zel::demo::TakeDemoErrorPending());

    // A word is read up to 255 characters: 1 and 299 zeros reads as 1e254.
    Send("1" + std::string(299, '0') + " -" + std::string(300, '7') + " setpos\r\n");
    EXPECT_EQ(Pos(0), 1e254);
    EXPECT_DOUBLE_EQ(Pos(1), -7.7777777777777777e253);
    // Relative moves beyond the range of a double are refused.
    Send("0 sv\r\n");
    Send("1e308 1e308 setpos\r\n");
    Send("1e308 0 r\r\n");
    EXPECT_EQ(Pos(0), 1e308);

    TController single(1);
    Configure(single, kSingle, 1);
    std::string longSingle;
    for (int k = 0; k < 9998; ++k) longSingle += "5 ";
    longSingle += "1 snv\r\n";
    EXPECT_EQ(SendTo(single, longSingle), "");
    EXPECT_EQ(single.pCAxes[0]->dAVelocity, 5);
    EXPECT_EQ(SendTo(single, std::string(300, 'n') + " 1 " + std::string(300, 'q') + "\r\n"), "");
    EXPECT_TRUE(result);
}

}  // namespace
