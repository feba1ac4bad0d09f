// The information box and the built-in self-tests, on a demo controller.
#include "common/library_fixture.h"
#include "platform/zel_clock.h"
#include "platform/zel_messages.h"
#include "serial/kv_serial.h"
#include "serial/wait_for_reply_thread.h"

#include <string>
#include <thread>
#include <vector>

using zeltest::LibraryFixture;

namespace {

std::vector<std::string> gBoxes;

int Capture(void*, ZelWindow, const char* text, const char* caption, unsigned) {
    gBoxes.push_back(std::string(caption) + "|" + text);
    return ZEL_IDOK;
}

class SelfTest : public LibraryFixture {
protected:
    void SetUp() override {
        gBoxes.clear();
        zel::SetMessageBoxHandler(Capture, nullptr);
        Load("[Startup]\nMode=DEMO\n");
        ASSERT_EQ(InitController(1, 3, 1, 9600, 0, 0, 0), 0);
    }
    void TearDown() override {
        LibraryFixture::TearDown();
        zel::SetMessageBoxHandler(nullptr, nullptr);
    }
};

TEST_F(SelfTest, InfoShowsVersionSystemAndConnectionState) {
    ASSERT_EQ(ZelCommInfo(), 0);
    ASSERT_EQ(gBoxes.size(), 1u);
    EXPECT_EQ(gBoxes[0].rfind("ZELComm.dll: ZelComm information 0.", 0), 0u) << gBoxes[0];
    EXPECT_NE(gBoxes[0].find("|ZelComm.dll Version 1.012\n\nStatus:\n\nRunning on WIN32_NT\nWin32Platform=2\n"),
              std::string::npos);
    EXPECT_NE(gBoxes[0].find("\n\nNot connected to Controller"), std::string::npos);
    ASSERT_EQ(OpenController(), 0);
    ASSERT_EQ(ZelCommInfo(), 0);
    EXPECT_NE(gBoxes[1].find("\n\nConnected to Controller1 at COM1, Baudrate 9600, Mode="), std::string::npos)
        << gBoxes[1];

    auto saved = std::move(zel::Interface().controller);
    EXPECT_EQ(ZelCommInfo(), ZEL_ERR_NO_CONTROLLER);
    zel::Interface().controller = std::move(saved);
}

TEST_F(SelfTest, TestsRunOnlyWhenConfirmed) {
    EXPECT_EQ(ZelCommTest(0, 1, 2), 0);
    EXPECT_EQ(ZelCommTest(0, 1, 1), 0) << "not connected: nothing to talk to";
    EXPECT_EQ(ZelCommTest(0, 99, 99), 0);
    EXPECT_TRUE(gBoxes.empty());
}

TEST_F(SelfTest, ConversationUnknownCommandAndShortTimeOut) {
    zel::VirtualClock clock;
    zel::ScopedClock scoped(clock);
    ASSERT_EQ(OpenController(), 0);
    EXPECT_EQ(ZelCommTest(0, 1, 1), 0);
    ASSERT_EQ(gBoxes.size(), 1u);
    EXPECT_NE(gBoxes[0].find("|ZelCommTest:\n\ngetdim replied "), std::string::npos);
    EXPECT_NE(gBoxes[0].find("\nidentify replied Controller in demo mode"), std::string::npos);
    // The simulator answers unknown words with nothing but completes the reply.
    EXPECT_EQ(ZelCommTest(0, 2, 2), 0);
    EXPECT_EQ(ZelCommTest(0, 3, 3), 0);
    EXPECT_EQ(zel::Controller()->nCTimeout, 200);
}

TEST_F(SelfTest, WaitThreadExercisesAndAbort) {
    zel::VirtualClock clock;
    zel::ScopedClock scoped(clock);
    ASSERT_EQ(OpenController(), 0);
    zel::TKvSerial& serial = *zel::Controller()->pCSerial;
    EXPECT_EQ(ZelCommTest(0, 5, 5), 0);  // MySleep of 15 s on the virtual clock
    zel::TWaitForReplyThread* first = serial.WaitForReplyThread();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->BeepCount(), 1);
    EXPECT_EQ(ZelCommTest(0, 6, 6), 0);  // WaitForReply runs into its limit
    EXPECT_NE(serial.WaitForReplyThread(), first) << "each exercise uses a new thread object";
    EXPECT_EQ(ZelCommTest(0, 7, 7), 0) << "nothing running: nothing to abort";
    EXPECT_TRUE(gBoxes.empty());
}

}  // namespace
