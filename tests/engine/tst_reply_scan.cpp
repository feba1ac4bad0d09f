// Reply scanning: completion by line count or expected text, signalling,
// break and line-error notifications, terminating a wait.
#include "common/fake_serial.h"
#include "platform/zel_messages.h"
#include "support/library_state.h"

#include <gtest/gtest.h>

namespace {

class ReplyScan : public ::testing::Test {
protected:
    void SetUp() override {
        zel::ResetLibraryState();
        zel::ResetMessageState();
        line_ = &zeltest::InstallFakeSerial(c_);
        line_->SetActive(true);
        zel::SetWindowProc(kWindow, Record, &posted_);
        c_.hCWnd = kWindow;
        c_.unCMessage = 1034;
    }
    void TearDown() override { zel::ResetMessageState(); }
    // Starts awaiting a reply as command execution does.
    void Await(int lines, const std::string& expected = "") {
        c_.pCSerial->SetExpectedReply(expected);
        c_.pCSerial->nSTExpectedLines = expected.empty() ? lines : -1;
        c_.bCReplyComplete = false;
        c_.bCWaitingForReply = true;
    }
    static intptr_t Record(void* ctx, ZelWindow, unsigned msg, intptr_t w, intptr_t) {
        static_cast<std::vector<std::pair<unsigned, intptr_t>>*>(ctx)->push_back({msg, w});
        return 0;
    }
    static constexpr ZelWindow kWindow = 0x42;
    zel::TController c_{0};
    zeltest::FakeSerial* line_ = nullptr;
    std::vector<std::pair<unsigned, intptr_t>> posted_;
};

TEST_F(ReplyScan, ExpectedTextCutsTheReply) {
    Await(0, "0\r\n0\r\n");
    line_->Deliver("0\r\n");
    EXPECT_TRUE(c_.bCWaitingForReply);
    EXPECT_FALSE(c_.bCReplyComplete);
    line_->Deliver("0\r\n");
    EXPECT_FALSE(c_.bCWaitingForReply);
    EXPECT_TRUE(c_.bCReplyComplete);
    EXPECT_EQ(c_.Reply(), "");

    Await(0, "OK");
    line_->Deliver("12 OK\r\n");
    EXPECT_TRUE(c_.bCReplyComplete);
    EXPECT_EQ(c_.Reply(), "12 ");
}

TEST_F(ReplyScan, LineCountCompletesOnCrLfPairsOnly) {
    Await(2);
    line_->Deliver("1.5\r\n");
    EXPECT_TRUE(c_.bCWaitingForReply);
    line_->Deliver("2.5\r\n");
    EXPECT_TRUE(c_.bCReplyComplete);
    EXPECT_EQ(c_.Reply(), "1.5\r\n2.5\r\n");
    EXPECT_EQ(c_.pCSerial->nSTExpectedLines, 0) << "completion resets the counters";

    struct Case { const char* text; int pairs; };
    for (const Case& k : {Case{"12\n", 0}, Case{"12\r\n", 1}, Case{"\r\r\n", 1}, Case{"\r\n\r\n", 2},
                          Case{"\n\r", 0}, Case{"", 0}})
        EXPECT_EQ(c_.KvCCheckEvChars(k.text), k.pairs) << k.text;
}

TEST_F(ReplyScan, SignalModeFourConvertsAndPostsStreamingModeSixPostsEveryChunk) {
    c_.KvCSetWaitMode(0x200);
    Await(1);
    line_->Deliver(" 3.5 \r\n");
    EXPECT_EQ(c_.Reply(), "3.5");
    EXPECT_EQ(c_.RawReply(), " 3.5 \r\n");
    c_.KvCSetWaitMode(0x4000);
    Await(5);
    line_->Deliver("ab");
    EXPECT_FALSE(c_.bCWaitingForReply) << "every chunk completes";
    line_->Deliver("cd");
    EXPECT_EQ(::ZelDispatchMessages(), 3);
    ASSERT_EQ(posted_.size(), 3u);
    for (const auto& m : posted_) EXPECT_EQ(m, (std::pair<unsigned, intptr_t>{1034, 0}));
}

TEST_F(ReplyScan, BreakAndLineErrorPostWhateverTheState) {
    c_.KvCOnBreak();
    EXPECT_EQ(c_.nCLastError, ZEL_ERR_BREAK);
    Await(1);
    c_.KvCOnError();
    EXPECT_EQ(c_.nCLastError, ZEL_ERR_LINE_ERROR);
    EXPECT_TRUE(c_.bCReplyComplete) << "a waiting sender is released";
    ::ZelDispatchMessages();
    ASSERT_EQ(posted_.size(), 2u);
    EXPECT_EQ(posted_[0].second, 21);
    EXPECT_EQ(posted_[1].second, 24);
}

TEST_F(ReplyScan, TerminateWaitingOnlyActsWhileWaiting) {
    c_.KvCSetWaitMode(0x80);  // signal mode 2: SetEvent
    c_.bCWaitingForReply = false;
    c_.KvCTerminateWaiting();
    EXPECT_FALSE(c_.hCEvent->IsSignalled());
    Await(1);
    c_.KvCTerminateWaiting();
    EXPECT_TRUE(c_.hCEvent->IsSignalled());
    EXPECT_FALSE(c_.bCReplyComplete);
}

}  // namespace
