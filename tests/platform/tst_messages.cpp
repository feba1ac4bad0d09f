#include "platform/zel_messages.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace zel {
namespace {

struct Delivery {
    ZelWindow window;
    unsigned message;
    intptr_t wParam, lParam;
    bool operator==(const Delivery& o) const {
        return window == o.window && message == o.message && wParam == o.wParam &&
               lParam == o.lParam;
    }
};

// Window procedure recording into the std::vector<Delivery> given as context.
intptr_t Record(void* context, ZelWindow window, unsigned message, intptr_t wParam,
                intptr_t lParam) {
    static_cast<std::vector<Delivery>*>(context)->push_back({window, message, wParam, lParam});
    return 0;
}

bool FdReadable() {
    pollfd p{MessageFd(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

class Messages : public testing::Test {
protected:
    void SetUp() override { ResetMessageState(); }
    void TearDown() override {
        ResetMessageState();
        SetEventPump(nullptr, nullptr);
        SetMessageBoxHandler(nullptr, nullptr);
    }
    std::vector<Delivery> got_;
};

TEST_F(Messages, DeliveredInPostingOrderToTheirWindows) {
    std::vector<Delivery> other;
    ASSERT_EQ(ZelSetWindowProc(1, Record, &got_), ZEL_OK);
    ASSERT_EQ(ZelSetWindowProc(2, Record, &other), ZEL_OK);
    EXPECT_TRUE(PostMessage(1, 1034, 0, 10));
    EXPECT_TRUE(PostMessage(2, 2029, 21, -1));
    EXPECT_TRUE(PostMessage(1, 16, 3, 30));
    EXPECT_EQ(QueuedMessageCount(), 3u);
    EXPECT_TRUE(got_.empty());  // posting never calls the procedure

    EXPECT_EQ(ZelDispatchMessages(), 3);
    EXPECT_EQ(got_, (std::vector<Delivery>{{1, 1034, 0, 10}, {1, 16, 3, 30}}));
    EXPECT_EQ(other, (std::vector<Delivery>{{2, 2029, 21, -1}}));
    EXPECT_EQ(QueuedMessageCount(), 0u);
    EXPECT_EQ(ZelDispatchMessages(), 0);
}

TEST_F(Messages, RegistryDecidesWhoCanReceive) {
    EXPECT_EQ(ZelSetWindowProc(0, Record, &got_), ZEL_ERR_PARAMETER);
    EXPECT_FALSE(PostMessage(0, 1, 0, 0));
    EXPECT_FALSE(PostMessage(5, 1, 0, 0));  // never registered
    EXPECT_EQ(QueuedMessageCount(), 0u);

    ASSERT_EQ(SetWindowProc(5, Record, &got_), ZEL_OK);
    ASSERT_EQ(SetWindowProc(6, Record, &got_), ZEL_OK);
    EXPECT_TRUE(HasWindowProc(5));
    EXPECT_TRUE(PostMessage(5, 1, 0, 0));
    EXPECT_TRUE(PostMessage(6, 2, 0, 0));

    // Removing a procedure drops what is still queued for that window.
    EXPECT_EQ(SetWindowProc(5, nullptr, nullptr), ZEL_OK);
    EXPECT_FALSE(HasWindowProc(5));
    EXPECT_FALSE(PostMessage(5, 3, 0, 0));
    EXPECT_EQ(DispatchQueuedMessages(), 1);
    EXPECT_EQ(got_, (std::vector<Delivery>{{6, 2, 0, 0}}));

    // Replacing a procedure sends later deliveries to the new one.
    std::vector<Delivery> replaced;
    ASSERT_EQ(SetWindowProc(6, Record, &replaced), ZEL_OK);
    EXPECT_TRUE(PostMessage(6, 4, 0, 0));
    DispatchQueuedMessages();
    EXPECT_EQ(replaced.size(), 1u);
    EXPECT_EQ(got_.size(), 1u);
}

TEST_F(Messages, DescriptorIsReadableExactlyWhileMessagesAreQueued) {
    ASSERT_GE(ZelMessageFd(), 0);
    EXPECT_EQ(ZelMessageFd(), MessageFd());
    ASSERT_EQ(SetWindowProc(1, Record, &got_), ZEL_OK);
    ASSERT_EQ(SetWindowProc(2, Record, &got_), ZEL_OK);
    EXPECT_FALSE(FdReadable());

    PostMessage(1, 1, 0, 0);
    PostMessage(1, 2, 0, 0);
    EXPECT_TRUE(FdReadable());
    PostedMessage msg;
    ASSERT_TRUE(PeekMessage(msg));
    EXPECT_EQ(msg.message, 1u);
    EXPECT_TRUE(FdReadable());
    ASSERT_TRUE(PeekMessage(msg));
    EXPECT_FALSE(FdReadable());
    EXPECT_FALSE(PeekMessage(msg));

    // Every way of emptying the queue clears it.
    PostMessage(1, 1, 0, 0);
    DispatchQueuedMessages();
    EXPECT_FALSE(FdReadable());
    PostMessage(2, 1, 0, 0);
    SetWindowProc(2, nullptr, nullptr);
    EXPECT_FALSE(FdReadable());
    PostMessage(1, 1, 0, 0);
    ResetMessageState();
    EXPECT_FALSE(FdReadable());
}

// Context of a procedure that posts further messages from inside a dispatch.
struct Reposter {
    std::vector<Delivery> got;
    unsigned repostBelow = 0;  // messages below this number post number + 1
};

intptr_t Repost(void* context, ZelWindow window, unsigned message, intptr_t wParam,
                intptr_t lParam) {
    auto* r = static_cast<Reposter*>(context);
    r->got.push_back({window, message, wParam, lParam});
    if (message < r->repostBelow) {
        EXPECT_TRUE(PostMessage(window, message + 1, 0, 0));
    }
    return 0;
}

TEST_F(Messages, MessagesPostedDuringDispatchAreDeliveredToo) {
    Reposter r;
    r.repostBelow = 3;
    ASSERT_EQ(SetWindowProc(9, Repost, &r), ZEL_OK);
    PostMessage(9, 1, 0, 0);
    PostMessage(9, 10, 0, 0);
    EXPECT_EQ(ZelDispatchMessages(), 4);
    ASSERT_EQ(r.got.size(), 4u);
    EXPECT_EQ(r.got[0].message, 1u);
    EXPECT_EQ(r.got[1].message, 10u);
    EXPECT_EQ(r.got[2].message, 2u);
    EXPECT_EQ(r.got[3].message, 3u);
}

TEST_F(Messages, EndlessRepostingIsCutAndStaysSignalled) {
    Reposter r;
    r.repostBelow = ~0u;  // every message posts the next one
    ASSERT_EQ(SetWindowProc(9, Repost, &r), ZEL_OK);
    PostMessage(9, 1, 0, 0);
    EXPECT_EQ(ZelDispatchMessages(), int(1 + kMaxExtraDispatched));
    EXPECT_EQ(QueuedMessageCount(), 1u);
    EXPECT_TRUE(FdReadable());
}

TEST_F(Messages, QueueIsBounded) {
    ASSERT_EQ(SetWindowProc(1, Record, &got_), ZEL_OK);
    for (size_t i = 0; i < kMaxQueuedMessages; ++i) ASSERT_TRUE(PostMessage(1, 1, 0, 0));
    EXPECT_FALSE(PostMessage(1, 1, 0, 0));
    EXPECT_EQ(QueuedMessageCount(), kMaxQueuedMessages);
}

TEST_F(Messages, ConcurrentPostersKeepTheirOwnOrder) {
    constexpr int kThreads = 4, kPerThread = 500;
    ASSERT_EQ(SetWindowProc(1, Record, &got_), ZEL_OK);
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i) PostMessage(1, 1, t, i);
        });
    }
    // Dispatch while they post.
    while (got_.size() < size_t(kThreads * kPerThread)) {
        if (ZelDispatchMessages() == 0) std::this_thread::yield();
    }
    for (auto& p : posters) p.join();
    std::vector<intptr_t> next(kThreads, 0);
    for (const Delivery& d : got_) {
        ASSERT_EQ(d.lParam, next[size_t(d.wParam)]) << "from thread " << d.wParam;
        ++next[size_t(d.wParam)];
    }
}

struct PumpLog {
    int calls = 0;
    int answer = 0;
    ZelWindow close = 0;
};

int Pump(void* context, ZelWindow* closeWindow) {
    auto* log = static_cast<PumpLog*>(context);
    ++log->calls;
    if (log->answer) *closeWindow = log->close;
    return log->answer;
}

TEST_F(Messages, HostPumpReportsCloseRequests) {
    ZelWindow close = 0;
    EXPECT_FALSE(HasEventPump());
    EXPECT_FALSE(CallHostPump(close));

    PumpLog log;
    ZelSetEventPump(Pump, &log);
    EXPECT_TRUE(HasEventPump());
    EXPECT_FALSE(CallHostPump(close));
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(close, 0);

    log.answer = 1;
    log.close = 77;
    EXPECT_TRUE(CallHostPump(close));
    EXPECT_EQ(close, 77);

    ZelSetEventPump(nullptr, nullptr);
    EXPECT_FALSE(HasEventPump());
    EXPECT_FALSE(CallHostPump(close));
    EXPECT_EQ(log.calls, 2);
}

struct BoxLog {
    ZelWindow owner = 0;
    std::string text, caption;
    unsigned type = 0;
};

int Box(void* context, ZelWindow owner, const char* text, const char* caption, unsigned type) {
    auto* log = static_cast<BoxLog*>(context);
    *log = {owner, text, caption, type};
    return ZEL_IDNO;
}

TEST_F(Messages, MessageBoxGoesToTheHandler) {
    BoxLog log;
    ZelSetMessageBoxHandler(Box, &log);
    EXPECT_EQ(ShowMessageBox(3, "Save the model?", "Question", ZEL_MB_YESNO), ZEL_IDNO);
    EXPECT_EQ(log.owner, 3);
    EXPECT_EQ(log.text, "Save the model?");
    EXPECT_EQ(log.caption, "Question");
    EXPECT_EQ(log.type, ZEL_MB_YESNO);

    EXPECT_EQ(ShowMessageBox(0, nullptr, nullptr, ZEL_MB_OK), ZEL_IDNO);
    EXPECT_EQ(log.text, "");
}

TEST_F(Messages, MessageBoxWithoutHandlerWritesToStandardError) {
    testing::internal::CaptureStderr();
    const int answer = ShowMessageBox(0, "Port not found", "ZELComm.dll: Error 43.2", ZEL_MB_OK);
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(written, "ZELComm.dll: Error 43.2: Port not found\n");
}

}  // namespace
}  // namespace zel
