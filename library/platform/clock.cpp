// The real monotonic clock, the virtual test clock and the process-wide
// clock selection.
#include "platform/zel_clock.h"

#include <cerrno>
#include <ctime>
#include <sched.h>

namespace zel {

namespace {

class MonotonicClock final : public Clock {
public:
    uint32_t TickCount() override {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                            static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(ms);  // wraps like GetTickCount
    }

    void Sleep(uint32_t ms) override {
        if (ms == 0) {
            ::sched_yield();
            return;
        }
        timespec request{};
        request.tv_sec = static_cast<time_t>(ms / 1000u);
        request.tv_nsec = static_cast<long>(ms % 1000u) * 1000000L;
        timespec remaining{};
        // A signal handler interrupts nanosleep; sleep the rest.
        while (::nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
    }
};

// Never destroyed: code running from static destructors or the library's
// unload may still read the time.
Clock& RealClock() {
    static Clock* const clock = new MonotonicClock;
    return *clock;
}

std::atomic<Clock*> g_installed{nullptr};

}  // namespace

Clock& CurrentClock() {
    Clock* installed = g_installed.load(std::memory_order_acquire);
    return installed ? *installed : RealClock();
}

void SetClock(Clock* clock) { g_installed.store(clock, std::memory_order_release); }

VirtualClock::VirtualClock(uint32_t start) : now_(start) {}

uint32_t VirtualClock::TickCount() {
    return static_cast<uint32_t>(now_.load(std::memory_order_acquire));
}

void VirtualClock::Sleep(uint32_t ms) { Advance(ms); }

void VirtualClock::Advance(uint32_t ms) { now_.fetch_add(ms, std::memory_order_acq_rel); }

}  // namespace zel
