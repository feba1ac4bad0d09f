// The command and reply calls on a demo-mode controller: replies of the
// simulated controller, separator modes, raw replies, asynchronous replies,
// bad arguments and bounded buffers.
#include "common/library_fixture.h"
#include "engine/demo_simulator_internal.h"
#include "platform/zel_clock.h"
#include "platform/zel_messages.h"
#include "platform/zel_system.h"
#include "support/library_state.h"

#include <cstdio>
#include <cstring>
#include <string>

using zeltest::LibraryFixture;

namespace {

class DemoCommands : public LibraryFixture {
protected:
    void SetUp() override {
        zel::demo::SetDemoErrorPending(false);
        Load("[Startup]\nMode=DEMO\n");
        ASSERT_EQ(InitController(1, 3, 1, 9600, 0, 0, 0), 0);
        ASSERT_EQ(OpenController(), 0);
    }
    void TearDown() override {
        zel::demo::SetDemoErrorPending(false);
        LibraryFixture::TearDown();
    }
    std::string Run(const char* command, int lines = 1) {
        char reply[256];
        std::memset(reply, 'x', sizeof reply);
        const int code = ExecuteCommand(command, lines, reply);
        EXPECT_EQ(code, 0) << command;
        return code == 0 ? std::string(reply) : std::string();
    }
    zel::VirtualClock clock_{5000};
    zel::ScopedClock scoped_{clock_};
};

TEST_F(DemoCommands, SimulatedControllerAnswers) {
    EXPECT_EQ(Run("identify"), "Controller in demo mode");
    EXPECT_EQ(Run("abc", 0), "");
    EXPECT_EQ(Run("ge"), "2000");
    EXPECT_EQ(Run("ge"), "0");
}

TEST_F(DemoCommands, StraightLineMoveOnTheVirtualClock) {
    Run("10 sv", 0);
    Run("30 40 0 m", 0);
    clock_.Advance(2000);
    // Two seconds plus the simulated transfer time of the commands.
    double x = 0, y = 0, z = -1;
    ASSERT_EQ(std::sscanf(Run("p").c_str(), "%lf %lf %lf", &x, &y, &z), 3);
    EXPECT_GE(x, 15.0);
    EXPECT_LT(x, 15.5);
    EXPECT_NEAR(y / x, 40.0 / 30.0, 1e-4) << "both axes arrive together";
    EXPECT_EQ(z, 0.0);
    EXPECT_EQ(Run("st"), "1") << "still moving";
    clock_.Advance(3000);
    EXPECT_EQ(Run("p"), "30.00000 40.00000 0.00000");
    EXPECT_EQ(Run("st"), "0");
}

TEST_F(DemoCommands, CalibrationAnswersTheStatusAfterTheSimulatedWait) {
    Run("10 sv", 0);
    Run("5 5 5 m", 0);
    clock_.Advance(1000);
    EXPECT_EQ(Run("p"), "5.00000 5.00000 5.00000");
    const uint32_t before = clock_.TickCount();
    EXPECT_EQ(Run("cal", 1), "0") << "cal is sent as cal st and awaits its status";
    EXPECT_GE(clock_.TickCount() - before, 4000u);
    EXPECT_EQ(Run("p"), "0.00000 0.00000 0.00000");
}

TEST_F(DemoCommands, SeparatorModesAndRawReplies) {
    Run("12.5 sv", 0);
    const char system = zel::SystemDecimalSeparator();
    ASSERT_EQ(SetDecimalSeparator(','), 0);
    EXPECT_EQ(Run("gv"), "12,50000");
    ASSERT_EQ(SetDecimalSeparator(0xFF), 0);
    EXPECT_EQ(Run("gv"), "12.50000");
    ASSERT_EQ(SetDecimalSeparator(0x100 | ';'), 0) << "only the low byte counts";
    EXPECT_EQ(Run("gv"), "12;50000");
    ASSERT_EQ(SetDecimalSeparator(0), 0);
    EXPECT_EQ(Run("gv"), std::string("12") + system + "50000");
    // Number texts from callers may use the user's separator as well.
    ASSERT_EQ(SetDecimalSeparator(','), 0);
    Run("2,5 sv", 0);
    EXPECT_EQ(Run("gv"), "2,50000");
    ASSERT_EQ(SetDecimalSeparator(0), 0);

    ASSERT_EQ(PreprocessReply(0), 0);
    EXPECT_EQ(Run("getlimit", 3), " 0.00000 0.00000\r\n 0.00000 0.00000\r\n 0.00000 0.00000\r\n");
    ASSERT_EQ(PreprocessReply(0x100), 0) << "low byte 0: still raw";
    EXPECT_EQ(Run("st"), "0\r\n");
    ASSERT_EQ(PreprocessReply(1), 0);
    EXPECT_EQ(Run("st"), "0");
}

TEST_F(DemoCommands, ArgumentErrors) {
    char reply[256];
    struct Case { const char* command; int lines; char* reply; int code; };
    const Case cases[] = {
        {nullptr, 1, reply, 5}, {"", 1, reply, 5}, {"st", 1, nullptr, 14}, {"st", -1, reply, 22},
        {"st", 256, reply, 12}, {"st", -2, reply, 12}, {"st", 0, nullptr, 0},
    };
    for (const Case& k : cases)
        EXPECT_EQ(ExecuteCommand(k.command, k.lines, k.reply), k.code) << (k.command ? k.command : "null");
    const std::string huge(100000, 'a');
    EXPECT_EQ(ExecuteCommand(huge.c_str(), 1, reply), ZEL_ERR_PARAMETER);
    EXPECT_EQ(ExecuteCommand(std::string(253, 'b').c_str(), 0, reply), 0);
    EXPECT_EQ(ExecuteCommand(std::string(254, 'b').c_str(), 0, reply), ZEL_ERR_PARAMETER);
    EXPECT_EQ(Run("st"), "0") << "the next command works";
    EXPECT_EQ(GetReply(nullptr), ZEL_ERR_NULL_POINTER);
    EXPECT_EQ(GetReplyEx(reply, 0), ZEL_ERR_NULL_POINTER);
}

TEST_F(DemoCommands, RepliesNeverWriteBeyondTheBuffer) {
    // Four axes of limits give a reply longer than small buffers.
    ASSERT_EQ(CloseController(), 0);
    ASSERT_EQ(InitController(1, 4, 1, 9600, 0, 0, 0), 0);
    ASSERT_EQ(OpenController(), 0);
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(ExecuteCommandEx("getlimit", 4, buffer, 16), 0);
    EXPECT_EQ(std::strlen(buffer), 15u);
    for (size_t i = 16; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << i;
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(GetReplyEx(buffer, 8), 0);
    EXPECT_EQ(std::strlen(buffer), 7u);
    EXPECT_EQ(buffer[8], '#');
}

TEST_F(DemoCommands, AsynchronousModeNotifiesAndGetReplyCollects) {
    struct Seen { int count = 0; intptr_t first = -1; } seen;
    const ZelWindow window = 0x1234;
    ASSERT_EQ(ZelSetWindowProc(window, [](void* ctx, ZelWindow, unsigned msg, intptr_t w, intptr_t) -> intptr_t {
        if (msg == 1034) {
            static_cast<Seen*>(ctx)->count++;
            static_cast<Seen*>(ctx)->first = w;
        }
        return 0;
    }, &seen), 0);
    ASSERT_EQ(InitController(0, 0, 0, 0, window, 1034, 0x100A04), 0);
    EXPECT_EQ(ExecuteCommand("st", 1, nullptr), 0) << "no buffer needed in the asynchronous mode";
    EXPECT_EQ(ZelDispatchMessages(), 1);
    EXPECT_EQ(seen.count, 1);
    EXPECT_EQ(seen.first, 0);
    char reply[256];
    ASSERT_EQ(GetReply(reply), 0);
    EXPECT_STREQ(reply, "0");
    ZelSetWindowProc(window, nullptr, nullptr);
}

TEST_F(DemoCommands, CloseAndReopen) {
    EXPECT_EQ(CloseController(), 0);
    EXPECT_EQ(CloseController(), 3);
    char reply[256];
    EXPECT_EQ(GetReply(reply), 3);
    EXPECT_EQ(AbortCommand(), 3);
    EXPECT_EQ(OpenController(), 0);
    EXPECT_EQ(OpenController(), 0) << "opening again reconnects";
    EXPECT_EQ(AbortCommand(), 0);
    EXPECT_EQ(ResetComm(), 0);
}

}  // namespace
