// The wait-for-reply thread: runs one function at a time on a worker thread
// while the calling thread waits and keeps the application's messages
// flowing.
//
// The worker never suspends itself: between runs it waits on its own start
// signal (an auto-reset event set by Run), so a Run that follows the end of
// the previous one at once cannot lose its wake-up. AbortThread ends the
// function the worker is in at its next wait (every wait of a thread
// function goes through this object: MsgWaitForSingleObject, Sleep) and
// leaves the worker waiting for a start signal that no Run gives any more;
// the destructor wakes it for good and joins it.
//
// Messages are dispatched by the thread that called Run, never by the
// worker: window procedures and the host toolkit's event pump belong to the
// application's thread. A wait of a thread function (WaitForReply) is a plain
// wait that ends on its event, its time-out, an abort or the destruction.
#pragma once

#include "platform/zel_event.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace zel {

class TKvSerial;

// Run while another run is in progress.
class EThreadInUse : public std::logic_error {
public:
    EThreadInUse();
};

// Run after AbortThread.
class EAbortedThread : public std::runtime_error {
public:
    EAbortedThread();
};

// The silent abort: a run that was aborted (or given up on a close request)
// while its caller waited. Callers end the operation without a report of
// their own.
class EAbort : public std::runtime_error {
public:
    explicit EAbort(const char* message = "Operation aborted");
};

class TWaitForReplyThread {
public:
    // The function a run executes: object is what Run was given, argument
    // points at the run's own copy of the int argument (for the waiting
    // functions a time-out in ms, -1 = none); the value the function leaves
    // there is copied back to the caller's int when the run has finished.
    using ThreadFunction = void (*)(void* object, int* argument);

    // The worker starts idle unless startNow is set and a function is given.
    explicit TWaitForReplyThread(TKvSerial* serial, ThreadFunction function = nullptr,
                                 void* object = nullptr, int* argument = nullptr, bool startNow = false);
    ~TWaitForReplyThread();
    TWaitForReplyThread(const TWaitForReplyThread&) = delete;
    TWaitForReplyThread& operator=(const TWaitForReplyThread&) = delete;

    // Runs function(object, argument) on the worker and returns when it has
    // finished (or was aborted). msgWait: the calling thread dispatches the
    // library's messages and calls the host pump while it waits. Raises
    // EThreadInUse, EAbortedThread, or EAbort when the run was aborted or a
    // close request of the host ended the wait. A null function is refused
    // with std::invalid_argument. A run that follows a run whose worker is
    // still ending (see RunWaitForReply) first waits for that worker.
    void Run(ThreadFunction function, void* object, int* argument, bool msgWait);
    // Run(WaitForReply, this, &timeoutMs, true), with two differences that
    // spare each reply hand-overs between threads: the caller goes on as
    // soon as the reply is complete, without waiting for the worker to
    // notice it too (the worker then ends its run on its own; the next run
    // and the destructor wait for that); and while the trace protocol is off
    // (nothing records the worker's run) the worker is only started when the
    // reply has not come within the caller's first turn of waiting (20 ms),
    // with what is left of the time-out.
    void RunWaitForReply(int timeoutMs);

    // The reply a wait is for is complete (or the wait is to be released):
    // ends WaitForReply on the worker and releases its caller.
    void SignalReplyComplete();
    // Its two halves, for a signaller that wakes the worker a little later
    // (when it is about to sleep itself, so that the woken caller does not
    // have to share a core with the worker): ReleaseCaller marks the reply
    // complete and ends the caller's wait; WakeWorker lets the worker see
    // it (EventReplyComplete itself is not set: the next command may have
    // reset it for its own reply by then).
    void ReleaseCaller();
    void WakeWorker();
    // Makes EventReplyComplete non-signalled for the next reply. A worker
    // still ending an earlier run that was released by its reply still
    // ends (it waits for its own reply's number, not for the event alone).
    void PrepareForReply();

    // Thread functions; object is the TWaitForReplyThread.
    static void WaitForReply(void* object, int* argument);
    static void MyBeep(void* object, int* argument);
    static void MySleep(void* object, int* argument);

    // Ends the current function at its next wait, releases a waiting Run
    // (which raises EAbort) and refuses every later run.
    void AbortThread();

    // Waits for the event at most timeoutMs (-1: no limit). On the caller's
    // thread it dispatches posted messages as they arrive and calls the host
    // pump at least every 20 ms; a close request of the host sets the
    // library's terminating flag, posts ZEL_WM_CLOSE to the window named and
    // ends the wait with kWaitAbandoned. On the worker it is a plain wait
    // that also ends on abort or destruction (the function is then left at
    // once). Returns kWaitObject0, kWaitTimeout or kWaitAbandoned.
    // `done`, when given, is a condition that also ends the wait (see
    // Event::Wait); whoever makes it true notifies the event.
    uint32_t MsgWaitForSingleObject(Event& event, int timeoutMs, const std::function<bool()>& done = {});
    // Sleeps on the library clock; on the worker it ends on abort as above.
    void Sleep(uint32_t ms);

    // A caller is in Run.
    bool Running() const { return bRunning; }
    bool Aborted() const { return bAborted; }
    // System beeps given so far (a beep is a trace line).
    int BeepCount() const { return nBeeps; }

    TKvSerial* pSerial;
    Event EventRunDone{true, false};
    Event EventReplyComplete{true, false};
    std::atomic<bool> bAborted{false};
    std::atomic<bool> bRunning{false};
    std::atomic<int> nBeeps{0};

private:
    struct WorkerStopped {};  // unwinds a thread function on abort or destruction

    void Execute(bool startNow);
    void WaitForIdleWorker();
    bool WaitForStart();  // false when the object is being destroyed
    bool OnWorker() const;
    bool StopRequested() const { return bAborted || cancelled_ || terminated_; }
    void RunFunction(ThreadFunction function, void* object, int* argument, bool msgWait, bool releaseOnReply);
    uint32_t WorkerWait(Event& event, uint32_t timeoutMs, const std::function<bool()>& done = {});
    uint32_t PumpingWait(Event& event, int timeoutMs, const std::function<bool()>& done);
    void WakeWorkerWait();
    void Beep();

    ThreadFunction function_ = nullptr;  // written by Run before the start signal
    void* object_ = nullptr;
    int argument_ = 0;

    std::atomic<bool> terminated_{false};
    std::atomic<bool> cancelled_{false};  // a close request ended Run's wait
    std::atomic<bool> closeRequested_{false};
    // Replies are numbered: PrepareForReply arms the next number, and
    // SignalReplyComplete marks the armed number as signalled. A wait for
    // reply n ends once signalledReply_ >= n, even if the event has been
    // reset for a later reply meanwhile.
    std::atomic<uint64_t> armedReply_{1};
    std::atomic<uint64_t> signalledReply_{0};
    uint64_t runReply_ = 1;  // the reply the current run waits for (written by Run before the start signal)
    Event startSignal_{false, false};     // auto reset: one run per signal
    Event workerIdle_{true, true};        // set while the worker is between runs
    Event sleepEvent_{true, false};       // never set: what Sleep waits on
    std::mutex workerWaitLock_;
    Event* workerWaitEvent_ = nullptr;    // the event the worker waits on now
    std::thread worker_;
};

}  // namespace zel
