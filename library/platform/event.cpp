// Events: manual or automatic reset, Set, Reset, Pulse and timed waits that
// may also end on a posted message.
#include "platform/zel_event.h"

#include "platform/zel_clock.h"
#include "platform/zel_messages.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

namespace zel {

namespace {

// How long a wait on a virtual clock gives other threads, in real time, to
// signal before it jumps the clock to its deadline.
constexpr std::chrono::microseconds kVirtualGrace{1000};

// The threads currently in WaitOrMessage, and a counter of posted messages.
// A poster increments the counter and then, under each waiting event's lock,
// wakes it; a waiter compares the counter under its own lock before every
// sleep, so a post either is seen before sleeping or wakes the sleeper.
struct MessageWaiters {
    std::mutex mutex;
    std::vector<Event*> events;  // one entry per waiting thread
    std::atomic<uint64_t> posted{0};
};

// Never destroyed: messages may be posted from static destructors.
MessageWaiters& Waiters() {
    static MessageWaiters* const waiters = new MessageWaiters;
    return *waiters;
}

// Registers a thread as waiting for messages on an event for its scope and
// remembers the message counter at the start of the wait.
class MessageWaitScope {
public:
    MessageWaitScope(Event* event, bool active) : event_(active ? event : nullptr) {
        if (!event_) return;
        MessageWaiters& w = Waiters();
        std::lock_guard<std::mutex> lock(w.mutex);
        w.events.push_back(event_);
        start_ = w.posted.load(std::memory_order_acquire);
    }
    ~MessageWaitScope() {
        if (!event_) return;
        MessageWaiters& w = Waiters();
        std::lock_guard<std::mutex> lock(w.mutex);
        auto it = std::find(w.events.begin(), w.events.end(), event_);
        if (it != w.events.end()) w.events.erase(it);
    }
    MessageWaitScope(const MessageWaitScope&) = delete;
    MessageWaitScope& operator=(const MessageWaitScope&) = delete;

    bool PostedSinceStart() const {
        return event_ && Waiters().posted.load(std::memory_order_acquire) != start_;
    }

private:
    Event* event_;
    uint64_t start_ = 0;
};

}  // namespace

Event::Event(bool manualReset, bool initiallySignalled)
    : manualReset_(manualReset), signalled_(initiallySignalled) {}

Event::~Event() = default;

void Event::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    // Every waiter re-checks; one of them consumes an auto-reset signal.
    cv_.notify_all();
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

void Event::Pulse() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
        if (waiters_ == 0) return;  // nobody waits: the pulse is lost
        ++pulseGeneration_;
        pulseReleases_ = manualReset_ ? waiters_ : std::min(pulseReleases_ + 1, waiters_);
    }
    cv_.notify_all();
}

void Event::Notify() {
    // Taking the lock orders the caller's change of the condition against a
    // waiter that has checked it but not yet gone to sleep.
    { std::lock_guard<std::mutex> lock(mutex_); }
    cv_.notify_all();
}

bool Event::IsSignalled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return signalled_;
}

uint32_t Event::Wait(uint32_t timeoutMs, const std::function<bool()>& done) {
    return WaitImpl(timeoutMs, done, false);
}

uint32_t Event::WaitOrMessage(uint32_t timeoutMs, const std::function<bool()>& done) {
    return WaitImpl(timeoutMs, done, true);
}

void Event::NotifyMessagePosted() {
    MessageWaiters& w = Waiters();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.posted.fetch_add(1, std::memory_order_acq_rel);
    for (Event* event : w.events) {
        // Taking the event's lock orders the counter change against a waiter
        // that has checked the counter but not yet gone to sleep.
        { std::lock_guard<std::mutex> eventLock(event->mutex_); }
        event->cv_.notify_all();
    }
}

uint32_t Event::WaitImpl(uint32_t timeoutMs, const std::function<bool()>& done, bool messages) {
    try {
        Clock& clock = CurrentClock();
        const bool virtualTime = clock.IsVirtual() && timeoutMs != kInfinite;
        const uint32_t startTick = virtualTime ? clock.TickCount() : 0;
        const auto start = std::chrono::steady_clock::now();
        const auto deadline = virtualTime ? start + kVirtualGrace
                                          : start + std::chrono::milliseconds(timeoutMs);

        // Registered before the queue is looked at: a message posted after
        // this point moves the counter, one posted before is in the queue.
        MessageWaitScope messageScope(this, messages);
        const bool queuedAtStart = messages && QueuedMessageCount() > 0;

        std::unique_lock<std::mutex> lock(mutex_);
        const uint64_t generation = pulseGeneration_;
        ++waiters_;
        struct WaiterCount {
            Event& e;
            ~WaiterCount() {
                --e.waiters_;
                e.pulseReleases_ = std::min(e.pulseReleases_, e.waiters_);
            }
        } waiterCount{*this};

        // Evaluated under the lock; true when the wait is over.
        uint32_t result = kWaitTimeout;
        auto finished = [&]() {
            if (signalled_) {
                if (!manualReset_) signalled_ = false;
                result = kWaitObject0;
                return true;
            }
            if (pulseGeneration_ != generation && pulseReleases_ > 0) {
                --pulseReleases_;
                result = kWaitObject0;
                return true;
            }
            if (done && done()) {
                result = kWaitObject0;
                return true;
            }
            if (messages && (queuedAtStart || messageScope.PostedSinceStart())) {
                result = kWaitMessage;
                return true;
            }
            return false;
        };

        if (finished()) return result;
        if (timeoutMs == 0) return kWaitTimeout;
        if (timeoutMs == kInfinite) {
            while (!finished()) cv_.wait(lock);
            return result;
        }
        while (cv_.wait_until(lock, deadline) != std::cv_status::timeout) {
            if (finished()) return result;
        }
        if (finished()) return result;
        if (virtualTime) {
            // Nothing happened: the simulated time-out passes at once.
            const uint32_t elapsed = clock.TickCount() - startTick;
            if (elapsed < timeoutMs) clock.Advance(timeoutMs - elapsed);
        }
        return kWaitTimeout;
    } catch (...) {
        return kWaitFailed;
    }
}

}  // namespace zel
