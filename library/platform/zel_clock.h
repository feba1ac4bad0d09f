// Time for the whole library: a wrapping 32-bit millisecond tick count and
// sleeping. Every part of the library reads time through this one object so
// that tests can install a virtual clock and run simulated moves and long
// time-outs in microseconds.
#pragma once

#include <atomic>
#include <cstdint>

namespace zel {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic milliseconds, wrapping at 2^32 (GetTickCount).
    virtual uint32_t TickCount() = 0;
    // Sleeps for ms milliseconds (0 yields).
    virtual void Sleep(uint32_t ms) = 0;
    // True for a virtual clock: timed waits that see no signal advance the
    // clock to their deadline instead of waiting in real time.
    virtual bool IsVirtual() const { return false; }
    // Moves a virtual clock forward; does nothing on the real clock.
    virtual void Advance(uint32_t ms) { (void)ms; }
};

// The clock in use (the real monotonic clock unless a test installed another).
Clock& CurrentClock();
// Installs a clock (nullptr restores the real one). The caller keeps ownership.
void SetClock(Clock* clock);

// Virtual time for tests: starts at `start`, moves only by Sleep and Advance.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(uint32_t start = 1000);
    uint32_t TickCount() override;
    void Sleep(uint32_t ms) override;
    bool IsVirtual() const override { return true; }
    void Advance(uint32_t ms) override;
private:
    std::atomic<uint64_t> now_;
};

inline uint32_t TickCount() { return CurrentClock().TickCount(); }
inline void SleepMs(uint32_t ms) { CurrentClock().Sleep(ms); }

// Installs a clock for the lifetime of a scope (tests).
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock) { SetClock(&clock); }
    ~ScopedClock() { SetClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace zel
