// The wait-for-reply thread: runs on the worker and hands back, refusal of
// a run in progress and after an abort, the silent abort of a waiting run,
// reply completion and time-out of WaitForReply, the caller released by the
// reply while the worker ends on its own, messages and the host pump
// while the caller waits, and a close request of the host.
#include "serial/wait_for_reply_thread.h"

#include "common/test_util.h"

#include "engine/controller.h"
#include "platform/zel_messages.h"
#include "serial/kv_serial.h"
#include "support/library_state.h"
#include "support/protocol_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

using zel::TWaitForReplyThread;
using Clock = std::chrono::steady_clock;

class WaitForReplyThread : public ::testing::Test {
protected:
    ~WaitForReplyThread() override {
        zel::SetEventPump(nullptr, nullptr);
        zel::ResetMessageState();
        zel::State().terminating = false;
        zel::KvDiagProtSetupFile(false, -1, 1);  // a test that failed with the protocol on
    }
    zel::TController c_{7};
    TWaitForReplyThread t_{c_.pCSerial.get()};
};

struct Probe {
    std::thread::id ranOn;
    int runs = 0;
};

void Record(void* object, int* argument) {
    auto* p = static_cast<Probe*>(object);
    p->ranOn = std::this_thread::get_id();
    ++p->runs;
    *argument += 1;
}

TEST_F(WaitForReplyThread, RunsOnTheWorkerAndHandsTheArgumentBack) {
    Probe probe;
    int argument = 41;
    t_.Run(&Record, &probe, &argument, false);
    EXPECT_EQ(probe.runs, 1);
    EXPECT_EQ(argument, 42);
    EXPECT_NE(probe.ranOn, std::this_thread::get_id());
    EXPECT_FALSE(t_.Running());
    // Back to back: each Run gives its start signal right after the worker
    // has signalled the end of the previous run, before it waits again.
    for (int i = 0; i < 500; ++i) t_.Run(&Record, &probe, &argument, i % 2 == 0);
    EXPECT_EQ(probe.runs, 501);
    EXPECT_EQ(argument, 542);
    EXPECT_THROW(t_.Run(nullptr, nullptr, &argument, false), std::invalid_argument);
}

TEST_F(WaitForReplyThread, RefusesARunWhileOneIsInProgress) {
    int ms = 300;
    auto first = std::async(std::launch::async, [&] {
        t_.Run(&TWaitForReplyThread::MySleep, &t_, &ms, false);
    });
    while (!t_.Running()) std::this_thread::yield();
    int other = 0;
    try {
        t_.Run(&TWaitForReplyThread::MySleep, &t_, &other, false);
        ADD_FAILURE() << "no EThreadInUse";
    } catch (const zel::EThreadInUse& e) {
        EXPECT_STREQ(e.what(), "Thread in use");
        EXPECT_TRUE(dynamic_cast<const std::logic_error*>(&e));
    }
    first.get();
    EXPECT_EQ(t_.BeepCount(), 1);
}

TEST_F(WaitForReplyThread, AbortEndsAWaitingRunAtOnceAndRefusesLaterRuns) {
    int ms = 15000;
    const auto start = Clock::now();
    auto run = std::async(std::launch::async, [&] {
        t_.Run(&TWaitForReplyThread::MySleep, &t_, &ms, true);
    });
    while (t_.BeepCount() == 0) std::this_thread::yield();  // MySleep has begun
    t_.AbortThread();
    EXPECT_THROW(run.get(), zel::EAbort);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(t_.Aborted());
    EXPECT_FALSE(t_.Running());
    try {
        t_.Run(&TWaitForReplyThread::MySleep, &t_, &ms, false);
        ADD_FAILURE() << "no EAbortedThread";
    } catch (const zel::EAbortedThread& e) {
        EXPECT_STREQ(e.what(), "Aborted thread");
        EXPECT_TRUE(dynamic_cast<const std::runtime_error*>(&e));
    }
    // The destructor wakes the blocked worker and joins it.
}

TEST_F(WaitForReplyThread, WaitForReplyEndsAtItsTimeOutAfterOneBeep) {
    const auto start = Clock::now();
    t_.RunWaitForReply(1000);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(950));
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_EQ(t_.BeepCount(), 1);
}

TEST_F(WaitForReplyThread, WaitForReplyEndsOnReplyCompletionEvenWithoutTimeOut) {
    std::thread scanner([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        t_.EventReplyComplete.Set();
    });
    const auto start = Clock::now();
    t_.RunWaitForReply(-1);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    scanner.join();
    // Completed before the wait began: it ends at once, not at the time-out.
    const auto again = Clock::now();
    t_.RunWaitForReply(5000);
    EXPECT_LT(Clock::now() - again, std::chrono::seconds(1));
}

TEST_F(WaitForReplyThread, AReplyReleasesTheCallerAndTheEndingWorkerNeverDisturbsTheNextWait) {
    // The caller goes on at the reply while the worker ends on its own. The
    // next command's PrepareForReply and Run must neither lose that worker
    // (a reset before it saw the reply would leave it waiting for good) nor
    // let its late "run done" end their own wait. The trace protocol is on,
    // so that every wait goes through the worker.
    zeltest::TempDir dir;
    zeltest::ScopedEnv protocolDir("ZELCOMM_PROTOCOL_DIR", dir.path().c_str());
    zel::KvDiagProtSetupFile(true, zel::kLogTrace, 1);
    for (int i = 0; i < 2000; ++i) {
        t_.PrepareForReply();
        if (i % 3 == 0) {
            t_.SignalReplyComplete();  // the reply came before the wait began
            t_.RunWaitForReply(-1);
        } else {
            std::thread scanner([&] { t_.SignalReplyComplete(); });
            t_.RunWaitForReply(-1);
            scanner.join();
        }
        if (i % 200 == 199) {
            // No reply this time: the wait lasts its whole time-out.
            t_.PrepareForReply();
            const auto start = Clock::now();
            t_.RunWaitForReply(30);
            EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(25)) << "iteration " << i;
        }
    }
    EXPECT_FALSE(t_.Running());
    // Another function after a released wait runs only once the worker is
    // free, and hands its argument back as always.
    Probe probe;
    int argument = 0;
    for (int i = 1; i <= 1000; ++i) {
        t_.SignalReplyComplete();
        t_.RunWaitForReply(-1);
        t_.Run(&Record, &probe, &argument, i % 2 == 0);
        ASSERT_EQ(probe.runs, i);
        ASSERT_EQ(argument, i);
    }
    EXPECT_EQ(t_.BeepCount(), 2000 + 10 + 1000);
    zel::KvDiagProtSetupFile(false, -1, 1);
}

TEST_F(WaitForReplyThread, TheCallerDispatchesMessagesAndCallsTheHostPumpWhileItWaits) {
    static std::thread::id dispatchedOn;
    static std::atomic<int> pumpCalls;
    dispatchedOn = {};
    pumpCalls = 0;
    zel::SetWindowProc(0x42, [](void*, ZelWindow, unsigned, intptr_t, intptr_t) -> intptr_t {
        dispatchedOn = std::this_thread::get_id();
        return 0;
    }, nullptr);
    zel::SetEventPump([](void*, ZelWindow*) -> int {
        ++pumpCalls;
        return 0;
    }, nullptr);
    std::thread poster([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        zel::PostMessage(0x42, 1, 0, 0);
    });
    t_.RunWaitForReply(300);
    poster.join();
    EXPECT_EQ(dispatchedOn, std::this_thread::get_id());
    EXPECT_GE(pumpCalls.load(), 5) << "the host pump runs at least every 20 ms";
}

TEST_F(WaitForReplyThread, ACloseRequestEndsTheWaitAndLeavesTheThreadUsable) {
    static std::atomic<int> pumpCalls;
    static ZelWindow closedWindow;
    static intptr_t closedWith;
    pumpCalls = 0;
    closedWindow = 0;
    closedWith = -1;
    zel::SetWindowProc(0x99, [](void*, ZelWindow w, unsigned m, intptr_t wp, intptr_t) -> intptr_t {
        if (m == ZEL_WM_CLOSE) {
            closedWindow = w;
            closedWith = wp;
        }
        return 0;
    }, nullptr);
    zel::SetEventPump([](void*, ZelWindow* window) -> int {
        if (++pumpCalls < 3) return 0;
        *window = 0x99;
        return 1;
    }, nullptr);
    const auto start = Clock::now();
    EXPECT_THROW(t_.RunWaitForReply(-1), zel::EAbort);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(zel::State().terminating);
    zel::SetEventPump(nullptr, nullptr);
    zel::DispatchQueuedMessages();
    EXPECT_EQ(closedWindow, ZelWindow(0x99));
    EXPECT_EQ(closedWith, 7) << "the controller's number";
    EXPECT_FALSE(t_.Aborted());
    const int beeps = t_.BeepCount();
    t_.RunWaitForReply(100);  // outlasts the caller's first turn: the worker runs
    EXPECT_EQ(t_.BeepCount(), beeps + 1);
}

TEST_F(WaitForReplyThread, TheWorkerRunsWhenTheTraceRecordsItOrTheReplyIsSlow) {
    // Without the trace protocol a reply within the caller's first turn of
    // waiting (20 ms) needs no worker; a slower reply or a time-out starts
    // it with what is left of the time-out. With the trace on, every run
    // goes through the worker, whose beep is a trace line.
    zeltest::TempDir dir;
    zeltest::ScopedEnv protocolDir("ZELCOMM_PROTOCOL_DIR", dir.path().c_str());
    struct Case {
        const char* name;
        bool trace;
        int replyAfterMs;  // -1: no reply
        int timeoutMs;
        int beeps;
        int minMs, maxMs;  // how long the run lasts
    };
    const Case cases[] = {
        {"quick reply, no trace", false, 0, 1000, 0, 0, 500},
        {"slow reply, no trace", false, 150, 1000, 1, 140, 900},
        {"time-out, no trace", false, -1, 300, 1, 290, 1000},
        {"short time-out, no trace", false, -1, 10, 0, 9, 700},
        {"quick reply, trace", true, 0, 1000, 1, 0, 500},
        {"time-out, trace", true, -1, 300, 1, 290, 1000},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        if (k.trace) zel::KvDiagProtSetupFile(true, zel::kLogTrace, 1);
        t_.PrepareForReply();
        const int beeps = t_.BeepCount();
        std::thread scanner;
        if (k.replyAfterMs == 0)
            t_.SignalReplyComplete();
        else if (k.replyAfterMs > 0)
            scanner = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(k.replyAfterMs));
                t_.SignalReplyComplete();
            });
        const auto start = Clock::now();
        t_.RunWaitForReply(k.timeoutMs);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (scanner.joinable()) scanner.join();
        if (k.trace) zel::KvDiagProtSetupFile(false, -1, 1);
        // A worker started for a run that the reply ended may beep just after.
        t_.PrepareForReply();
        t_.SignalReplyComplete();
        t_.Run(&TWaitForReplyThread::MySleep, &t_, nullptr, false);
        EXPECT_EQ(t_.BeepCount() - 1, beeps + k.beeps);
        EXPECT_GE(took, k.minMs);
        EXPECT_LE(took, k.maxMs);
    }
}

TEST(WaitForReplyThreadLife, StartsAtOnceWhenAskedAndEndsCleanlyInAnyState) {
    Probe probe;
    int argument = 0;
    {
        TWaitForReplyThread started(nullptr, &Record, &probe, &argument, true);
        EXPECT_EQ(started.EventRunDone.Wait(5000), zel::kWaitObject0);
        EXPECT_EQ(probe.runs, 1);
    }
    { TWaitForReplyThread idle(nullptr); }
    {
        TWaitForReplyThread sleeping(nullptr);
        int ms = 60000;
        auto run = std::async(std::launch::async, [&] {
            try {
                sleeping.Run(&TWaitForReplyThread::MyBeep, &sleeping, &ms, false);
            } catch (const zel::EAbort&) {
            }
        });
        while (sleeping.BeepCount() == 0) std::this_thread::yield();
        sleeping.AbortThread();
        run.get();
    }  // destroyed with its worker blocked for good: woken and joined
}

}  // namespace
