#include "platform/zel_event.h"

#include "platform/zel_clock.h"
#include "platform/zel_messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <thread>

namespace zel {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// A wait on its own thread. The event calls the wait's condition under its
// lock before every sleep, so once `checks` is non-zero the thread is asleep
// or about to be, and anything the test does to the event comes after.
class ThreadedWait {
public:
    ThreadedWait(Event& event, uint32_t timeoutMs, bool messages = false, bool doneValue = false) {
        future_ = std::async(std::launch::async, [this, &event, timeoutMs, messages, doneValue] {
            auto done = [this, doneValue] {
                checks_.fetch_add(1);
                return doneValue;
            };
            return messages ? event.WaitOrMessage(timeoutMs, done) : event.Wait(timeoutMs, done);
        });
    }
    ThreadedWait(const ThreadedWait&) = delete;
    ThreadedWait& operator=(const ThreadedWait&) = delete;

    // True once the waiter has reached the event (bounded at 5 s).
    bool Waiting() {
        const auto limit = Steady::now() + 5s;
        while (checks_.load() == 0 && Steady::now() < limit) std::this_thread::sleep_for(1ms);
        return checks_.load() > 0;
    }
    bool Finished() { return future_.wait_for(0s) == std::future_status::ready; }
    // The result, or nothing when the wait has not ended within `limit`.
    std::optional<uint32_t> Result(std::chrono::milliseconds limit = 5000ms) {
        if (future_.wait_for(limit) != std::future_status::ready) return std::nullopt;
        return future_.get();
    }

private:
    std::atomic<int> checks_{0};
    std::future<uint32_t> future_;
};

// Waits until `count` of the waits have finished (bounded at 5 s).
int WaitForFinished(ThreadedWait& a, ThreadedWait& b, int count) {
    const auto limit = Steady::now() + 5s;
    int finished = 0;
    while ((finished = int(a.Finished()) + int(b.Finished())) < count && Steady::now() < limit) {
        std::this_thread::sleep_for(1ms);
    }
    return finished;
}

TEST(Event, SignalStateByResetMode) {
    struct Case {
        bool manual, initial;
        uint32_t first, second;  // two Wait(0) in a row
    } cases[] = {
        {true, true, kWaitObject0, kWaitObject0},
        {true, false, kWaitTimeout, kWaitTimeout},
        {false, true, kWaitObject0, kWaitTimeout},  // the first wait consumes it
        {false, false, kWaitTimeout, kWaitTimeout},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "manual " << c.manual << " initial " << c.initial);
        Event event(c.manual, c.initial);
        EXPECT_EQ(event.Wait(0), c.first);
        EXPECT_EQ(event.Wait(0), c.second);

        event.Set();
        EXPECT_TRUE(event.IsSignalled());
        EXPECT_EQ(event.Wait(0), kWaitObject0);
        EXPECT_EQ(event.Wait(0), c.manual ? kWaitObject0 : kWaitTimeout);

        event.Set();
        event.Reset();
        EXPECT_EQ(event.Wait(0), kWaitTimeout);
    }
}

TEST(Event, PulseWithoutWaiterIsLost) {
    for (bool manual : {true, false}) {
        Event event(manual, false);
        event.Pulse();
        EXPECT_EQ(event.Wait(0), kWaitTimeout);
        // A pulse also clears an earlier Set.
        event.Set();
        event.Pulse();
        EXPECT_FALSE(event.IsSignalled());
        EXPECT_EQ(event.Wait(0), kWaitTimeout);
    }
}

TEST(Event, ManualPulseReleasesEveryCurrentWaiterOnly) {
    Event event(true, false);
    ThreadedWait a(event, 5000), b(event, 5000);
    ASSERT_TRUE(a.Waiting());
    ASSERT_TRUE(b.Waiting());
    event.Pulse();
    EXPECT_EQ(a.Result(), kWaitObject0);
    EXPECT_EQ(b.Result(), kWaitObject0);
    EXPECT_FALSE(event.IsSignalled());
    // A wait that starts after the pulse does not see it.
    EXPECT_EQ(event.Wait(20), kWaitTimeout);
}

TEST(Event, AutoResetReleasesOneWaiterPerSetOrPulse) {
    for (bool pulse : {false, true}) {
        SCOPED_TRACE(pulse ? "Pulse" : "Set");
        Event event(false, false);
        auto release = [&] { pulse ? event.Pulse() : event.Set(); };
        ThreadedWait a(event, 5000), b(event, 5000);
        ASSERT_TRUE(a.Waiting());
        ASSERT_TRUE(b.Waiting());

        release();
        EXPECT_EQ(WaitForFinished(a, b, 1), 1);
        std::this_thread::sleep_for(50ms);  // room for a wrong second release
        EXPECT_EQ(int(a.Finished()) + int(b.Finished()), 1);
        EXPECT_FALSE(event.IsSignalled());

        release();
        EXPECT_EQ(a.Result(), kWaitObject0);
        EXPECT_EQ(b.Result(), kWaitObject0);
    }
}

TEST(Event, DoneConditionEndsAnInfiniteWaitWithoutSignal) {
    for (bool messages : {false, true}) {
        Event event(true, false);
        ThreadedWait wait(event, kInfinite, messages, /*doneValue=*/true);
        const std::optional<uint32_t> result = wait.Result();
        if (!result) event.Set();  // release the stuck waiter before failing
        EXPECT_EQ(result, std::optional<uint32_t>(kWaitObject0)) << "messages " << messages;
    }
}

TEST(Event, SetFromAnotherThreadWakesTheWaiterEarly) {
    Event event(false, false);
    ThreadedWait wait(event, 5000);
    ASSERT_TRUE(wait.Waiting());
    event.Set();
    EXPECT_EQ(wait.Result(4000ms), std::optional<uint32_t>(kWaitObject0));
    EXPECT_FALSE(event.IsSignalled());  // consumed by the waiter
}

TEST(Event, RealTimeoutWaitsTheFullTime) {
    Event event(true, false);
    const auto start = Steady::now();
    EXPECT_EQ(event.Wait(50), kWaitTimeout);
    EXPECT_GE(Steady::now() - start, 50ms);
}

TEST(Event, VirtualClockTimeoutsPassAtOnce) {
    VirtualClock clock(1000);
    ScopedClock scoped(clock);
    Event event(true, false);
    const auto start = Steady::now();

    EXPECT_EQ(event.Wait(0), kWaitTimeout);
    EXPECT_EQ(clock.TickCount(), 1000u);
    EXPECT_EQ(event.Wait(4000), kWaitTimeout);
    EXPECT_EQ(clock.TickCount(), 5000u);
    EXPECT_EQ(event.WaitOrMessage(4000), kWaitTimeout);
    EXPECT_EQ(clock.TickCount(), 9000u);

    event.Set();
    EXPECT_EQ(event.Wait(4000), kWaitObject0);
    EXPECT_EQ(clock.TickCount(), 9000u);  // a satisfied wait takes no time
    EXPECT_LT(Steady::now() - start, 2s);
}

intptr_t IgnoreMessage(void*, ZelWindow, unsigned, intptr_t, intptr_t) { return 0; }

class EventMessages : public testing::Test {
protected:
    static constexpr ZelWindow kWindow = 7;
    void SetUp() override {
        ResetMessageState();
        ASSERT_EQ(SetWindowProc(kWindow, IgnoreMessage, nullptr), ZEL_OK);
    }
    void TearDown() override { ResetMessageState(); }
};

TEST_F(EventMessages, MessageQueuedBeforeTheWaitEndsIt) {
    ASSERT_TRUE(PostMessage(kWindow, 1, 0, 0));
    Event event(true, false);
    ThreadedWait wait(event, kInfinite, true);
    const std::optional<uint32_t> result = wait.Result();
    if (!result) event.Set();
    EXPECT_EQ(result, std::optional<uint32_t>(kWaitMessage));
    EXPECT_EQ(QueuedMessageCount(), 1u);  // the wait does not dispatch
}

TEST_F(EventMessages, SignalComesBeforeAQueuedMessage) {
    ASSERT_TRUE(PostMessage(kWindow, 1, 0, 0));
    Event event(true, true);
    EXPECT_EQ(event.WaitOrMessage(0), kWaitObject0);
}

TEST_F(EventMessages, PlainWaitIgnoresMessages) {
    Event event(true, false);
    ASSERT_TRUE(PostMessage(kWindow, 1, 0, 0));
    EXPECT_EQ(event.Wait(20), kWaitTimeout);
}

TEST_F(EventMessages, PostFromAnotherThreadWakesEveryMessageWait) {
    Event first(true, false), second(false, false);
    ThreadedWait a(first, 5000, true), b(second, 5000, true);
    ASSERT_TRUE(a.Waiting());
    ASSERT_TRUE(b.Waiting());
    std::thread([] { PostMessage(kWindow, 1, 0, 0); }).join();
    EXPECT_EQ(a.Result(4000ms), std::optional<uint32_t>(kWaitMessage));
    EXPECT_EQ(b.Result(4000ms), std::optional<uint32_t>(kWaitMessage));
}

TEST_F(EventMessages, PostRacingTheStartOfTheWaitIsNeverLost) {
    Event event(true, false);
    for (int i = 0; i < 200; ++i) {
        std::thread poster([] { PostMessage(kWindow, 1, 0, 0); });
        const auto start = Steady::now();
        const uint32_t result = event.WaitOrMessage(5000);
        poster.join();
        ASSERT_EQ(result, kWaitMessage) << "iteration " << i;
        ASSERT_LT(Steady::now() - start, 4s) << "iteration " << i;
        DispatchQueuedMessages();
    }
}

}  // namespace
}  // namespace zel
