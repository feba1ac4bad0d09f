#include "serial/wait_for_reply_thread.h"

#include "engine/controller.h"
#include "platform/zel_clock.h"
#include "platform/zel_messages.h"
#include "serial/kv_serial.h"
#include "support/library_state.h"
#include "support/protocol_log.h"

#include <algorithm>

namespace zel {

namespace {

// The wait-for-reply thread whose worker is the calling thread, if any.
thread_local const TWaitForReplyThread* tWorkerOf = nullptr;

// How often a waiting caller gives the host toolkit its turn.
constexpr uint32_t kHostPumpIntervalMs = 20;

int Identity(const void* p) { return static_cast<int>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

EThreadInUse::EThreadInUse() : std::logic_error("Thread in use") {
    KvGProtLog("[EThreadInUse::EThreadInUse()]\r\n", kLogTrace);
}

EAbortedThread::EAbortedThread() : std::runtime_error("Aborted thread") {
    KvGProtLog("[EAbortedThread::EAbortedThread()]\r\n", kLogTrace);
}

EAbort::EAbort(const char* message) : std::runtime_error(message ? message : "") {}

TWaitForReplyThread::TWaitForReplyThread(TKvSerial* serial, ThreadFunction function, void* object,
                                         int* argument, bool startNow)
    : pSerial(serial) {
    function_ = function;
    object_ = object;
    argument_ = argument ? *argument : 0;
    KvGProtLog("[TWaitForReplyThread::TWaitForReplyThread(). CreateEvent()...]\r\n", kLogTrace);
    const bool runNow = startNow && function != nullptr;
    if (runNow) workerIdle_.Reset();
    worker_ = std::thread([this, runNow] { Execute(runNow); });
    KvGProtLog("[TWaitForReplyThread::TWaitForReplyThread() done]\r\n", kLogTrace);
}

TWaitForReplyThread::~TWaitForReplyThread() {
    KvGProtLog("[TWaitForReplyThread::~TWaitForReplyThread(). CloseHandle(Event)...]\r\n", kLogTrace);
    terminated_ = true;
    startSignal_.Set();
    WakeWorkerWait();
    if (worker_.joinable()) {
        if (OnWorker())
            worker_.detach();  // a thread function destroying its own thread object
        else
            worker_.join();
    }
    KvGProtLog("[TWaitForReplyThread::~TWaitForReplyThread() done]\r\n\r\n", kLogTrace);
}

bool TWaitForReplyThread::OnWorker() const { return tWorkerOf == this; }

void TWaitForReplyThread::Execute(bool startNow) {
    tWorkerOf = this;
    KvGProtLog("[TWaitForReplyThread::Execute()]\r\n", kLogTrace);
    bool go = startNow || WaitForStart();
    while (go && !terminated_) {
        KvGProtLog("[TWaitForReplyThread::Execute(), assert()...]\r\n", kLogTrace);
        KvGProtLog("[TWaitForReplyThread::Execute(), ThreadFunction()...]\r\n", kLogTrace);
        try {
            if (function_) function_(object_, &argument_);
        } catch (const WorkerStopped&) {
            // Aborted, cancelled or destroyed: the function is left here.
        } catch (const std::exception& e) {
            KvGProtLog("[Exception raised in Thread Handler: %s]\r\n", e.what(), kLogError);
        } catch (...) {
            KvGProtLog("[Exception raised in Thread Handler: %s]\r\n", "unknown exception", kLogError);
        }
        if (terminated_) break;
        if (!bAborted) {
            // After an abort the waiting Run has been released already.
            KvGProtLog("[TWaitForReplyThread::Execute(), SetEvent()...]\r\n", kLogTrace);
            EventRunDone.Set();
        }
        workerIdle_.Set();
        KvGProtLog("[TWaitForReplyThread::Execute(), Suspend() ...]\r\n", kLogTrace);
        go = WaitForStart();
        if (go) KvGProtLog("[TWaitForReplyThread::Execute(), Suspend() done]\r\n", kLogTrace);
    }
    workerIdle_.Set();
    KvGProtLog("[TWaitForReplyThread::Execute() done]\r\n", kLogTrace);
    tWorkerOf = nullptr;
}

bool TWaitForReplyThread::WaitForStart() {
    // An aborted worker stays here: Run refuses to give the signal.
    startSignal_.Wait(kInfinite, [this] { return terminated_.load(); });
    return !terminated_;
}

void TWaitForReplyThread::Run(ThreadFunction function, void* object, int* argument, bool msgWait) {
    RunFunction(function, object, argument, msgWait, false);
}

void TWaitForReplyThread::RunWaitForReply(int timeoutMs) {
    int argument = timeoutMs;
    RunFunction(&TWaitForReplyThread::WaitForReply, this, &argument, true, true);
}

void TWaitForReplyThread::WaitForIdleWorker() {
    workerIdle_.Wait(kInfinite, [this] { return terminated_.load(); });
}

void TWaitForReplyThread::RunFunction(ThreadFunction function, void* object, int* argument, bool msgWait,
                                      bool releaseOnReply) {
    KvGProtLog("[TWaitForReplyThread::Run(MsgWait=%d)]\r\n", msgWait ? 1 : 0, kLogTrace);
    if (bRunning) throw EThreadInUse();
    if (bAborted) throw EAbortedThread();
    if (!function) throw std::invalid_argument("ThreadFunction != NULL");
    bool idle = false;
    if (!bRunning.compare_exchange_strong(idle, true)) throw EThreadInUse();
    KvGProtLog("[TWaitForReplyThread::Run() 2]\r\n", kLogTrace);
    // The worker may still be ending a run whose caller went on at the
    // reply; it touches nothing of this run, but its "run done" must not
    // end this run's wait.
    WaitForIdleWorker();
    function_ = function;
    object_ = object;
    const int timeoutMs = argument ? *argument : -1;
    const uint64_t reply = armedReply_;
    runReply_ = reply;
    cancelled_ = false;
    closeRequested_ = false;
    KvGProtLog("[TWaitForReplyThread::Run(), ResetEvent()...]\r\n", kLogTrace);
    EventRunDone.Reset();
    bool started = false;
    auto startWorker = [&](int workerArgument) {
        argument_ = workerArgument;
        workerIdle_.Reset();
        KvGProtLog("[TWaitForReplyThread::Run(), Resume()...]\r\n", kLogTrace);
        startSignal_.Set();
        started = true;
    };
    // A wait for a reply with nothing to record the worker's run (no trace
    // protocol: its beep is a trace line) starts the worker only if the
    // reply has not come within the caller's first turn of waiting; most
    // replies come sooner, and each start costs the worker a wake-up.
    const bool deferStart = releaseOnReply && msgWait && !ProtocolWants(kLogTrace);
    if (!deferStart) startWorker(argument ? *argument : 0);
    KvGProtLog("[TWaitForReplyThread::Run(), MsgWaitForSingleObject()/WaitForSingleObject() ...]\r\n",
               kLogTrace);
    // A wait for a reply ends for the caller as soon as the reply is
    // complete; SignalReplyComplete notifies EventRunDone for this.
    std::function<bool()> replyComplete;
    if (releaseOnReply)
        replyComplete = [this, reply] { return signalledReply_ >= reply || EventReplyComplete.IsSignalled(); };
    if (msgWait) {
        uint32_t result;
        if (deferStart) {
            const uint32_t begin = TickCount();
            const int firstTurn = timeoutMs < 0 ? static_cast<int>(kHostPumpIntervalMs)
                                                : std::min(timeoutMs, static_cast<int>(kHostPumpIntervalMs));
            result = MsgWaitForSingleObject(EventRunDone, firstTurn, replyComplete);
            if (result == kWaitTimeout || result == kWaitFailed) {
                const uint32_t elapsed = TickCount() - begin;
                if (timeoutMs < 0) {
                    startWorker(-1);
                    result = MsgWaitForSingleObject(EventRunDone, -1, replyComplete);
                } else if (elapsed < static_cast<uint32_t>(timeoutMs)) {
                    // The worker waits out what is left of the time-out.
                    const int left = timeoutMs - static_cast<int>(elapsed);
                    startWorker(left);
                    result = MsgWaitForSingleObject(EventRunDone, left, replyComplete);
                } else {
                    result = kWaitObject0;  // the whole time-out has passed: the run is over
                }
            }
        } else {
            result = MsgWaitForSingleObject(EventRunDone, timeoutMs, replyComplete);
        }
        // Otherwise Run returns only once the worker has finished or was
        // aborted: the worker's own wait ends at about the same time, or a
        // close request cancels its function.
        while (result != kWaitObject0) {
            if (closeRequested_) {
                cancelled_ = true;
                if (!started) break;
                WakeWorkerWait();
                result = EventRunDone.Wait(kInfinite);
            } else {
                result = MsgWaitForSingleObject(EventRunDone, -1, replyComplete);
            }
        }
    } else {
        EventRunDone.Wait(kInfinite, replyComplete);
    }
    KvGProtLog("[TWaitForReplyThread::Run(), MsgWaitForSingleObject()/WaitForSingleObject() done]\r\n",
               kLogTrace);
    const bool aborted = bAborted;
    // A caller released by the reply leaves the worker its copy of the
    // argument (WaitForReply does not change it), as does a run that did not
    // need the worker.
    const bool workerDone = started && EventRunDone.IsSignalled();
    if (argument && !aborted && workerDone) *argument = argument_;
    bRunning = false;
    if (aborted || closeRequested_) throw EAbort();
    KvGProtLog("[TWaitForReplyThread::Run() done]\r\n", kLogTrace);
}

void TWaitForReplyThread::SignalReplyComplete() {
    // The caller is released first: it is the thread the application waits
    // for; the worker only has to end its run before the next one.
    ReleaseCaller();
    EventReplyComplete.Set();
}

void TWaitForReplyThread::ReleaseCaller() {
    signalledReply_ = armedReply_.load();
    EventRunDone.Notify();
}

void TWaitForReplyThread::WakeWorker() {
    // Only a notification: by now the next command may have reset the event
    // for its own reply, which a Set would report complete. The worker's
    // condition is the reply number ReleaseCaller marked.
    EventReplyComplete.Notify();
}

void TWaitForReplyThread::PrepareForReply() {
    // A worker released by the last reply may not have seen the event yet;
    // the reply number it waits for stays signalled, so the reset cannot
    // keep it waiting.
    ++armedReply_;
    EventReplyComplete.Reset();
}

void TWaitForReplyThread::WaitForReply(void* object, int* argument) {
    auto* self = static_cast<TWaitForReplyThread*>(object);
    KvGProtLog("[TWaitForReplyThread::WaitForReply()...]\r\n\r\n", kLogTrace);
    self->Beep();
    const uint64_t reply = self->runReply_;
    self->MsgWaitForSingleObject(self->EventReplyComplete, argument ? *argument : -1,
                                 [self, reply] { return self->signalledReply_ >= reply; });
    KvGProtLog("[TWaitForReplyThread::WaitForReply() done]\r\n\r\n", kLogTrace);
}

void TWaitForReplyThread::MyBeep(void* object, int* /*argument*/) {
    auto* self = static_cast<TWaitForReplyThread*>(object);
    KvGProtLog("[TWaitForReplyThread::MyBeep() ...]\r\n\r\n", kLogTrace);
    for (int i = 0; i < 10; ++i) {
        self->Beep();
        self->Sleep(10000);
    }
    KvGProtLog("[TWaitForReplyThread::MyBeep() done]\r\n\r\n", kLogTrace);
}

void TWaitForReplyThread::MySleep(void* object, int* argument) {
    auto* self = static_cast<TWaitForReplyThread*>(object);
    KvGProtLog("[TWaitForReplyThread::MySleep() ...]\r\n\r\n", kLogTrace);
    self->Beep();
    const int ms = argument ? *argument : 0;
    self->Sleep(ms > 0 ? static_cast<uint32_t>(ms) : 0);
    KvGProtLog("[TWaitForReplyThread::MySleep() done]\r\n\r\n", kLogTrace);
}

void TWaitForReplyThread::AbortThread() {
    KvGProtLog("[TWaitForReplyThread::AbortThread(). Suspend()]\r\n", kLogTrace);
    bAborted = true;
    WakeWorkerWait();
    KvGProtLog("[TWaitForReplyThread::AbortThread(), Suspend() done]\r\n", kLogTrace);
    KvGProtLog("[TWaitForReplyThread::AbortThread(), SetEvent()...]\r\n", kLogTrace);
    EventRunDone.Set();
    KvGProtLog("[TWaitForReplyThread::AbortThread() done]\r\n", kLogTrace);
}

uint32_t TWaitForReplyThread::MsgWaitForSingleObject(Event& event, int timeoutMs,
                                                     const std::function<bool()>& done) {
    KvGProtLog("[MsgWaitForSingleObject(%x)]\r\n", Identity(&event), kLogTrace);
    uint32_t result;
    if (OnWorker())
        result = WorkerWait(event, timeoutMs < 0 ? kInfinite : static_cast<uint32_t>(timeoutMs), done);
    else
        result = PumpingWait(event, timeoutMs, done);
    KvGProtLog("[MsgWaitForSingleObject(%x) done]\r\n", Identity(&event), kLogTrace);
    return result;
}

uint32_t TWaitForReplyThread::PumpingWait(Event& event, int timeoutMs, const std::function<bool()>& done) {
    const bool limited = timeoutMs >= 0;
    const uint32_t start = TickCount();
    for (;;) {
        uint32_t slice = kHostPumpIntervalMs;
        if (limited) {
            const uint32_t elapsed = TickCount() - start;
            if (elapsed >= static_cast<uint32_t>(timeoutMs)) return kWaitTimeout;
            slice = std::min(slice, static_cast<uint32_t>(timeoutMs) - elapsed);
        }
        const uint32_t r = event.WaitOrMessage(slice, done);
        if (r == kWaitObject0) return kWaitObject0;
        if (r == kWaitFailed) return kWaitFailed;
        if (r == kWaitMessage) {
            KvGProtLog("[App->ProcessMessages()]\r\n", kLogTrace);
            // Bounded, so that a procedure posting to itself cannot hold the
            // wait; what is left is dispatched on the next turn.
            const size_t limit = QueuedMessageCount() + kMaxExtraDispatched;
            PostedMessage msg;
            for (size_t n = 0; n < limit && PeekMessage(msg); ++n) DispatchMessage(msg);
            KvGProtLog("[App->ProcessMessages() done]\r\n", kLogTrace);
        }
        ZelWindow closeWindow = 0;
        if (CallHostPump(closeWindow)) {
            // The user asked to close a window while we waited.
            State().terminating = true;
            const int number = (pSerial && pSerial->pOwner) ? pSerial->pOwner->nCNumber : 0;
            PostMessage(closeWindow, ZEL_WM_CLOSE, number, 0);
            closeRequested_ = true;
            return kWaitAbandoned;
        }
    }
}

uint32_t TWaitForReplyThread::WorkerWait(Event& event, uint32_t timeoutMs, const std::function<bool()>& done) {
    {
        std::lock_guard<std::mutex> lock(workerWaitLock_);
        if (StopRequested()) throw WorkerStopped{};
        workerWaitEvent_ = &event;
    }
    const uint32_t r = event.Wait(timeoutMs, [this, &done] { return StopRequested() || (done && done()); });
    {
        std::lock_guard<std::mutex> lock(workerWaitLock_);
        workerWaitEvent_ = nullptr;
    }
    if (StopRequested()) throw WorkerStopped{};
    return r;
}

void TWaitForReplyThread::WakeWorkerWait() {
    // The stop request is set before this call; a worker that has not begun
    // its wait yet sees it when it does, one that waits is released here.
    std::lock_guard<std::mutex> lock(workerWaitLock_);
    if (workerWaitEvent_) workerWaitEvent_->Pulse();
}

void TWaitForReplyThread::Sleep(uint32_t ms) {
    if (OnWorker())
        WorkerWait(sleepEvent_, ms);
    else
        SleepMs(ms);
}

void TWaitForReplyThread::Beep() {
    ++nBeeps;
    KvGProtLog("[MessageBeep(0xFFFFFFFF)]\r\n", kLogTrace);
}

}  // namespace zel
