// Command execution over a scripted line: framing, rewriting, time-outs,
// the wait of every signal mode, asynchronous completion, abort.
#include "common/fake_serial.h"
#include "common/test_util.h"
#include "platform/zel_clock.h"
#include "platform/zel_messages.h"
#include "support/library_state.h"
#include "support/protocol_log.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using zeltest::FakeSerial;
using Delivery = zeltest::FakeSerial::Delivery;

class ExecuteTest : public ::testing::Test {
protected:
    void SetUp() override {
        zel::ResetLibraryState();
        zel::ResetMessageState();
        Configure(1, 3);
    }
    void TearDown() override {
        zel::ResetMessageState();
        zel::ResetLibraryState();
    }
    void Configure(int typeBit, int axes) {
        c_ = std::make_unique<zel::TController>(0);
        c_->KvCSelectModelByType(typeBit);
        for (int i = 0; i < axes; ++i) c_->pCAxes.push_back(std::make_unique<zel::TAxis>());
        line_ = &zeltest::InstallFakeSerial(*c_);
        line_->SetActive(true);
        c_->bCConnected = true;
        c_->nCTimeout = 5000;
    }
    zel::TController& C() { return *c_; }
    std::unique_ptr<zel::TController> c_;
    FakeSerial* line_ = nullptr;
};

struct FramingCase {
    const char* name;
    int typeBit;
    const char* command;
    unsigned controlWord;
    const char* sent;
};

class Framing : public ExecuteTest, public ::testing::WithParamInterface<FramingCase> {};

TEST_P(Framing, LineSentToTheController) {
    const FramingCase& p = GetParam();
    Configure(p.typeBit, 3);
    line_->Answer("0\r\n", Delivery::Immediately);
    C().KvCExecuteCommand(p.command, p.controlWord);
    ASSERT_EQ(line_->Sent().size(), 1u);
    EXPECT_EQ(line_->Sent()[0], p.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Framing,
    ::testing::Values(FramingCase{"AppendsCrLf", 1, "10 sv", 0x20006, "10 sv\r\n"},
                      FramingCase{"KeepsCrLf", 1, "st\r\n", 0x20006, "st\r\n"},
                      FramingCase{"SeparatorsBecomePoints", 1, "1,5 2.5 m", 0x20006, "1.5 2.5 m\r\n"},
                      FramingCase{"CalGetsStatus", 1, "cal", 0x20006, "cal st\r\n"},
                      FramingCase{"RmGetsStatus", 1, "rm", 0x20006, "rm st\r\n"},
                      FramingCase{"CalStUnchanged", 1, "cal st", 0x20006, "cal st\r\n"},
                      FramingCase{"CalibrateWordNotRewritten", 1, "calibrate", 0x20006, "calibrate\r\n"},
                      FramingCase{"SingleAxisCal", 4, "1 ncal", 0x20006, "1 ncal 1 nst\r\n"},
                      FramingCase{"SingleAxisRangeMeasure", 4, "2 nrangemeasure", 0x20006,
                                  "2 nrangemeasure 2 nst\r\n"},
                      FramingCase{"SingleAxisNoAxisNumber", 4, "ncal", 0x20006, "ncal 0 nst\r\n"}),
    [](const ::testing::TestParamInfo<FramingCase>& info) { return std::string(info.param.name); });

TEST_F(ExecuteTest, CalibrationWaitsForOneStatusLineWithoutTimeOut) {
    zel::VirtualClock clock;
    zel::ScopedClock scoped(clock);
    // The answer comes "much later" on the virtual clock: no time-out fires.
    std::thread late([&] {
        while (!C().bCWaitingForReply) std::this_thread::yield();
        clock.Advance(60000);
        line_->Deliver("0\r\n");
    });
    EXPECT_TRUE(C().KvCExecuteCommand("cal", 0x20006));
    late.join();
    EXPECT_EQ(C().Reply(), "0");
}

TEST_F(ExecuteTest, LongCommandsAreRefusedNotCut) {
    const std::string ok(253, 'a');
    EXPECT_TRUE(C().KvCExecuteCommand(ok, 0x20006));
    EXPECT_FALSE(C().KvCExecuteCommand(std::string(254, 'a'), 0x20006));
    EXPECT_EQ(C().nCLastError, ZEL_ERR_PARAMETER);
    EXPECT_FALSE(C().KvCExecuteCommand(std::string(100000, 'a'), 0x20006));
    EXPECT_EQ(line_->Sent().size(), 1u);
    EXPECT_EQ(line_->Sent()[0], ok + "\r\n");
}

TEST_F(ExecuteTest, SilentControllerTimesOutWithNineteenAndTheLogLine) {
    zeltest::TempDir dir;
    zeltest::ScopedEnv env("ZELCOMM_PROTOCOL_DIR", dir.path().c_str());
    zel::KvDiagProtSetupFile(true, 64, 1);
    zel::VirtualClock clock;
    zel::ScopedClock scoped(clock);
    C().nCTimeout = 1000;
    const uint32_t before = clock.TickCount();
    EXPECT_FALSE(C().KvCExecuteCommand("st", 0x01020006));
    EXPECT_EQ(C().nCLastError, ZEL_ERR_TIMEOUT);
    EXPECT_FALSE(C().bCWaitingForReply);
    EXPECT_GE(clock.TickCount() - before, 1000u);
    zel::KvDiagProtSetupFile(false, -1, 1);
    const std::string log = zeltest::ReadWholeFile(dir.File("Protocol.dat"));
    EXPECT_NE(log.find("[WAIT_TIMEOUT processing >st<]\r\n"), std::string::npos);
}

TEST_F(ExecuteTest, LongTimeOutBitUsesTheLongTimeOut) {
    zel::VirtualClock clock;
    zel::ScopedClock scoped(clock);
    C().nCTimeout = 100;
    const uint32_t before = clock.TickCount();
    EXPECT_FALSE(C().KvCExecuteCommand("st", 0x01020006 | 8));
    EXPECT_GE(clock.TickCount() - before, 5000u);
}

// Every synchronous signal mode, with the reply arriving later from the line
// thread and with the reply complete before the sender starts waiting.
struct ModeCase {
    unsigned waitMode;
    Delivery how;
};

class SignalModes : public ExecuteTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(SignalModes, OneLineReplyCompletesTheCommand) {
    C().KvCSetWaitMode(GetParam().waitMode);
    for (int i = 0; i < 20; ++i) {
        line_->Answer("12.5\r\n", GetParam().how);
        ASSERT_TRUE(C().KvCExecuteCommand("gv", 0x01020006)) << "command " << i;
        EXPECT_EQ(C().Reply(), "12.5");
        EXPECT_EQ(C().RawReply(), "12.5\r\n");
        EXPECT_FALSE(C().bCWaitingForReply);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SignalModes,
    ::testing::Values(ModeCase{0x20, Delivery::Later}, ModeCase{0x40, Delivery::Later},
                      ModeCase{0x80, Delivery::Later}, ModeCase{0x100, Delivery::Later},
                      ModeCase{0x400, Delivery::Later}, ModeCase{0x80000, Delivery::Later},
                      ModeCase{0x2000, Delivery::Later}, ModeCase{0x2080, Delivery::Later},
                      ModeCase{0x40, Delivery::Immediately}, ModeCase{0x80, Delivery::Immediately},
                      ModeCase{0x100, Delivery::Immediately}, ModeCase{0x80000, Delivery::Immediately},
                      ModeCase{0x2000, Delivery::Immediately}));

TEST_F(ExecuteTest, TwoLineReplyInTwoChunks) {
    line_->Answer("1.5\r\n2.5\r\n", Delivery::Later, 2);
    ASSERT_TRUE(C().KvCExecuteCommand("getlimit", 0x02020006));
    EXPECT_EQ(C().Reply(), "1.5\r\n2.5");
}

TEST_F(ExecuteTest, ExpectedReplyTextEndsTheReply) {
    line_->Answer("0\r\n0\r\n", Delivery::Later, 2);
    ASSERT_TRUE(C().KvCExecuteCommand("0 mode\r\nclear\r\n", 0x0402000E, "0\r\n0\r\n"));
    EXPECT_EQ(C().Reply(), "");
}

TEST_F(ExecuteTest, ReplyWithoutEventCharacterIsFoundAfterTheTimeOut) {
    zel::VirtualClock clock;
    zel::ScopedClock scoped(clock);
    line_->Answer("7\r\n", Delivery::ByteOnly);
    EXPECT_TRUE(C().KvCExecuteCommand("st", 0x01020006));
    EXPECT_EQ(C().Reply(), "7");
}

TEST_F(ExecuteTest, ZeroExpectedLinesReturnAfterTransmissionInEveryMode) {
    zel::VirtualClock clock;
    zel::ScopedClock scoped(clock);
    for (unsigned mode : {0x20u, 0x40u, 0x80u, 0u, 0x200u, 0x400u, 0x4000u, 0x80000u, 0x2000u}) {
        C().KvCSetWaitMode(mode);
        const uint32_t before = clock.TickCount();
        EXPECT_TRUE(C().KvCExecuteCommand("10 sv", 0x20006)) << std::hex << mode;
        EXPECT_EQ(clock.TickCount(), before) << std::hex << mode;
    }
}

TEST_F(ExecuteTest, TransmissionFailureAndShortWriteWithLineError) {
    line_->failWrites = true;
    EXPECT_FALSE(C().KvCExecuteCommand("st", 0x01020006));
    EXPECT_FALSE(C().bCWaitingForReply);
    line_->failWrites = false;
    line_->shortWrite = 1;
    line_->errorWord = 0x8;  // framing error: no box, the command fails
    EXPECT_FALSE(C().KvCExecuteCommand("st", 0x01020006));
    EXPECT_FALSE(C().bCWaitingForReply);
}

TEST_F(ExecuteTest, AsynchronousModePostsTheMessageWithTheConvertedReply) {
    struct Seen { unsigned message; intptr_t w; } seen{0, -1};
    const ZelWindow window = 0x77;
    zel::SetWindowProc(window, [](void* ctx, ZelWindow, unsigned msg, intptr_t w, intptr_t) -> intptr_t {
        *static_cast<Seen*>(ctx) = {msg, w};
        return 0;
    }, &seen);
    C().hCWnd = window;
    C().unCMessage = 1034;
    C().KvCSetWaitMode(0x100A04);
    zel::State().decSepMode = 3;
    zel::State().decSepChar = ',';
    line_->Answer("  12.5\r\n");
    ASSERT_TRUE(C().KvCExecuteCommand("gv", 0x01020006));
    while (zel::QueuedMessageCount() == 0) std::this_thread::yield();
    EXPECT_EQ(::ZelDispatchMessages(), 1);
    EXPECT_EQ(seen.message, 1034u);
    EXPECT_EQ(seen.w, 0);
    EXPECT_EQ(C().Reply(), "12,5");
    EXPECT_EQ(C().RawReply(), "  12.5\r\n");
    EXPECT_FALSE(C().bCWaitingForReply);
}

TEST_F(ExecuteTest, BreakDuringAFlagPollingWaitEndsTheCommand) {
    C().KvCSetWaitMode(0x40);
    std::thread aborter([&] {
        while (!C().bCWaitingForReply) std::this_thread::yield();
        C().KvCBreak();
    });
    EXPECT_FALSE(C().KvCExecuteCommand("st", 0x01020006));
    aborter.join();
    EXPECT_FALSE(C().bCWaitingForReply);
    EXPECT_EQ(line_->Sent().back(), "\x03");
}

TEST_F(ExecuteTest, CloseRequestDuringAWaitPostsWmCloseAfterwards) {
    std::vector<unsigned> delivered;
    const ZelWindow window = 0x55;
    zel::SetWindowProc(window, [](void* ctx, ZelWindow, unsigned msg, intptr_t, intptr_t) -> intptr_t {
        static_cast<std::vector<unsigned>*>(ctx)->push_back(msg);
        return 0;
    }, &delivered);
    zel::SetEventPump([](void*, ZelWindow* close) {
        *close = 0x55;
        return 1;
    }, nullptr);
    C().KvCSetWaitMode(0x40);
    EXPECT_FALSE(C().KvCExecuteCommand("st", 0x01020006));
    zel::SetEventPump(nullptr, nullptr);
    EXPECT_TRUE(zel::State().terminating);
    EXPECT_FALSE(C().bCWaitingForReply);
    ::ZelDispatchMessages();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0], static_cast<unsigned>(ZEL_WM_CLOSE));
}

TEST_F(ExecuteTest, PositionAndOriginCommands) {
    line_->Answer("12.500 -3.25 0.0\r\n", Delivery::Immediately);
    ASSERT_TRUE(C().KvCGetPos());
    EXPECT_EQ(C().pCAxes[1]->dAPos, -3.25);
    ASSERT_TRUE(C().KvCSetOrigin(-1));
    EXPECT_EQ(line_->Sent().back(), "0 0 0 setpos\r\n");
    line_->Answer("1.5\r\n", Delivery::Immediately);
    EXPECT_FALSE(C().KvCGetPos()) << "fewer numbers than axes";
    EXPECT_EQ(C().pCAxes[0]->dAPos, 12.5);

    Configure(4, 3);
    struct Case { int index; const char* sent; };
    for (const Case& k : {Case{0, "0 1 setnpos\r\n"}, Case{2, "0 3 setnpos\r\n"},
                          Case{-1, "0 1 setnpos 0 2 setnpos 0 3 setnpos\r\n"}}) {
        ASSERT_TRUE(C().KvCSetOrigin(k.index));
        EXPECT_EQ(line_->Sent().back(), k.sent);
    }
}

}  // namespace
