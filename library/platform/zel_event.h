// Events with the semantics the engine relies on: manual or automatic
// reset, Set, Reset, Pulse and a timed Wait. A wait never loses a wake-up:
// the caller can pass the condition the event stands for (for example "the
// reply is complete"); it is checked under the event's lock before the
// waiter sleeps, so a completion that happened just before the wait ends it
// at once instead of at the time-out.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace zel {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Wait results with the values applications know from the original API.
enum WaitResult : uint32_t {
    kWaitObject0 = 0,
    kWaitMessage = 1,          // WAIT_OBJECT_0 + 1: a posted message arrived
    kWaitAbandoned = 0x80,
    kWaitTimeout = 258,
    kWaitFailed = 0xFFFFFFFFu,
};

class Event {
public:
    Event(bool manualReset, bool initiallySignalled);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();    // manual: stays signalled; auto: releases one waiter (or the next wait)
    void Reset();
    // Releases the threads waiting now (auto reset: one of them) and leaves the
    // event non-signalled. A pulse while nobody waits is lost.
    void Pulse();
    // Wakes the threads waiting now without changing the state, so that they
    // check the condition they were given again (a condition that stands for
    // another event: "that event was set").
    void Notify();
    bool IsSignalled() const;

    // Waits up to timeoutMs (kInfinite: without limit). `done`, when given, is
    // checked under the lock before and after every sleep; true ends the wait
    // with kWaitObject0. A successful wait on an auto-reset event consumes the
    // signal. Timed waits measure time with the current Clock: on a virtual
    // clock a wait that sees no signal within about 1 ms of real time moves
    // the clock to its deadline and returns kWaitTimeout. `done` runs under
    // the event's lock: it must not call back into this event or post messages.
    uint32_t Wait(uint32_t timeoutMs, const std::function<bool()>& done = {});

    // As Wait, but also ends with kWaitMessage as soon as a message is posted
    // to the library's message queue (MsgWaitForMultipleObjects). It does not
    // dispatch the message itself. A message already queued when the wait
    // starts ends it at once.
    uint32_t WaitOrMessage(uint32_t timeoutMs, const std::function<bool()>& done = {});

    // Called by the message queue after a message was posted: wakes every
    // thread in WaitOrMessage.
    static void NotifyMessagePosted();

private:
    uint32_t WaitImpl(uint32_t timeoutMs, const std::function<bool()>& done, bool messages);
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool manualReset_;
    bool signalled_;
    // Pulse: each pulse starts a new generation and hands out releases to the
    // threads that were already waiting (all of them, or one for auto reset).
    uint64_t pulseGeneration_ = 0;
    uint32_t pulseReleases_ = 0;
    uint32_t waiters_ = 0;
};

}  // namespace zel
