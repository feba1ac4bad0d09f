// The serial event thread: exists while the port is open, reads everything
// the line delivers into the port's receive queue and reports the three line
// events to the owning controller: break (KvCOnBreak), line error
// (KvCOnError) and the arrival of the event character (KvCOnEventChar, the
// reply scanner).
//
// It waits with poll on the port and on a stop signal (an eventfd); CloseIt
// stops it through that signal, never by closing the descriptor under it.
// Events that arrive while the owner is still busy with the previous one
// are read and reported by the next wait, so none is lost (several line
// ends may be reported as one event, as the line's own event mechanism
// does). A device that hangs up or vanishes is reported once as a line
// error; the dead descriptor is not polled again.
#pragma once

#include "platform/zel_serial_port.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace zel {

class TKvSerial;

class TSerThread {
public:
    // Starts the thread on the serial object's open port.
    explicit TSerThread(TKvSerial* serial);
    // Stops the thread and waits for it to end, without limit.
    ~TSerThread();
    TSerThread(const TSerThread&) = delete;
    TSerThread& operator=(const TSerThread&) = delete;

    // Sets the terminate flag and wakes the thread.
    void Terminate();
    // Waits up to ms (real time) for the thread to end; true once it has.
    bool WaitFor(uint32_t ms);
    bool Ended() const { return ended_; }
    bool IsCurrentThread() const;
    // The event thread the calling thread is, if any.
    static const TSerThread* Current();
    // True once the device was found gone.
    bool DeviceLost() const { return deviceLost_; }
    // How often the thread has woken from its wait for line events; a dead
    // descriptor that kept waking it would show here as a growing count.
    uint64_t Wakeups() const { return wakeups_; }

    // Hands the event character to the reply scanner of the owner.
    void KvSTOnEventChar();

    TKvSerial* pSTSerial;

private:
    void Execute();
    // Waits for the next line events in the event mask; true with bits 0
    // when the thread is asked to stop.
    bool WaitCommEvent(unsigned& bits);

    std::shared_ptr<SerialPort> port_;
    StopSignal stop_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> deviceLost_{false};
    int emptyWakes_ = 0;  // "readable" wake-ups in a row that found nothing
    std::atomic<bool> ended_{false};
    std::atomic<uint64_t> wakeups_{0};
    std::mutex endedLock_;
    std::condition_variable endedCv_;
    std::thread thread_;
};

}  // namespace zel
