#include "platform/zel_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace zel {
namespace {

uint32_t SteadyMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TEST(RealClock, CountsMillisecondsOfTheMonotonicClock) {
    ASSERT_FALSE(CurrentClock().IsVirtual());
    // Bracketed by two readings of the monotonic clock: wrong units or the
    // wall clock would fall outside.
    const uint32_t before = SteadyMs();
    const uint32_t tick = TickCount();
    const uint32_t after = SteadyMs();
    EXPECT_LE(tick - before, after - before);
}

TEST(RealClock, SleepLastsAtLeastTheRequestedTime) {
    const auto start = std::chrono::steady_clock::now();
    const uint32_t tickStart = TickCount();
    SleepMs(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_GE(TickCount() - tickStart, 29u);  // ticks are truncated milliseconds
}

TEST(VirtualClock, MovesOnlyBySleepAndAdvanceAndWraps) {
    VirtualClock clock(0xFFFFFFF0u);
    EXPECT_EQ(clock.TickCount(), 0xFFFFFFF0u);
    clock.Sleep(0x10);
    EXPECT_EQ(clock.TickCount(), 0u);
    clock.Advance(4000);
    EXPECT_EQ(clock.TickCount(), 4000u);
}

TEST(VirtualClock, ConcurrentSleepsAllCount) {
    VirtualClock clock(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&clock] {
            for (int i = 0; i < 1000; ++i) clock.Sleep(1);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(clock.TickCount(), 4000u);
}

TEST(ClockSelection, ScopedClockInstallsAndRestores) {
    VirtualClock clock(500);
    {
        ScopedClock scoped(clock);
        EXPECT_TRUE(CurrentClock().IsVirtual());
        SleepMs(250);  // a simulated sleep takes no real time
        EXPECT_EQ(TickCount(), 750u);
        // Other threads see the installed clock too.
        uint32_t seen = 0;
        std::thread([&seen] { seen = TickCount(); }).join();
        EXPECT_EQ(seen, 750u);
    }
    EXPECT_FALSE(CurrentClock().IsVirtual());
    EXPECT_EQ(clock.TickCount(), 750u);
}

}  // namespace
}  // namespace zel
