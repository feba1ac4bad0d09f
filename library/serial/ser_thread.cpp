#include "serial/ser_thread.h"

#include "engine/controller.h"
#include "platform/zel_system.h"
#include "serial/kv_serial.h"
#include "serial/receive_queue.h"
#include "serial/wait_for_reply_thread.h"
#include "support/error_report.h"
#include "support/library_state.h"
#include "support/protocol_log.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace zel {

namespace {

// "Readable" wake-ups in a row that find nothing to read: a terminal that
// keeps reporting input it does not deliver is treated as gone, so that the
// thread cannot spin on it.
constexpr int kMaxEmptyWakes = 8;

thread_local const TSerThread* tCurrentSerThread = nullptr;

void ShowThreadException(const char* format, const char* what, int place) {
    char text[512];
    std::snprintf(text, sizeof text, format, what ? what : "", 0u);
    ErrorMessageBox(0, text, KvLoadText(100).c_str(), kModuleSerial, place, ZEL_MB_ICONWARNING | ZEL_MB_OK);
}

}  // namespace

TSerThread::TSerThread(TKvSerial* serial) : pSTSerial(serial) {
    port_ = serial->Port();
    if (TestPointSet(kTpThreadKept)) serial->unWaitMode |= ZEL_WAIT_KEEP_THREAD;
    serial->nSTExpectedLines = 0;
    serial->nSTEventCount = 0;
    if (serial->unWaitMode & ZEL_WAIT_MASK_IN_THREAD) serial->SetPortEventMask(serial->unEventMask);
    KvGProtLog("[TSerThread::TSerThread() done]\r\n", kLogTrace);
    thread_ = std::thread([this] { Execute(); });
}

TSerThread::~TSerThread() {
    Terminate();
    if (thread_.joinable()) {
        if (IsCurrentThread())
            thread_.detach();
        else
            thread_.join();
    }
}

void TSerThread::Terminate() {
    terminated_ = true;
    stop_.Signal();
}

bool TSerThread::WaitFor(uint32_t ms) {
    std::unique_lock<std::mutex> lock(endedLock_);
    return endedCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return ended_.load(); });
}

bool TSerThread::IsCurrentThread() const { return tCurrentSerThread == this; }

const TSerThread* TSerThread::Current() { return tCurrentSerThread; }

void TSerThread::KvSTOnEventChar() {
    KvGProtLog("[TSerThread::KvSTOnEventChar()]\r\n", kLogTrace);
    if (pSTSerial->pOwner) pSTSerial->pOwner->KvCOnEventChar();
    KvGProtLog("[TSerThread::KvSTOnEventChar done]\r\n", kLogTrace);
}

void TSerThread::Execute() {
    tCurrentSerThread = this;
    KvGProtLog("[TSerThread::Execute()]\r\n", kLogTrace);
    TController* owner = pSTSerial->pOwner;
    try {
        while (!terminated_) {
            KvGProtLog("[TSerThread::Processing WaitCommEvent()]\r\n", kLogTrace);
            unsigned bits = 0;
            if (!WaitCommEvent(bits)) {
                KvGProtLog("[TSerThread::WaitCommEvent failed]\r\n", kLogError);
                // A wait that fails at once must not spin: pause briefly
                // (the stop signal still ends the pause).
                PortError ignored;
                port_->WaitForEvents(stop_, 10, false, ignored);
                continue;
            }
            KvGProtLog("[TSerThread::WaitCommEvent() returned %d]\r\n", static_cast<int>(bits), kLogTrace);
            if ((bits & kEvBreak) && owner) owner->KvCOnBreak();
            if ((bits & kEvErr) && owner) owner->KvCOnError();
            if (bits & kEvRxFlag) {
                pSTSerial->nSTEventCount += 1;
                KvSTOnEventChar();
            }
            pSTSerial->WakeDeferredWorker();
        }
    } catch (const EAbort& e) {
        ShowThreadException("Exception EAbort raised in Thread Handler: %s at %X", e.what(), 1985);
    } catch (const std::exception& e) {
        ShowThreadException("Exception raised in Thread Handler: %s at %X", e.what(), 1994);
        KvGProtLog("[Exception raised in Thread Handler: %s]\r\n", e.what(), kLogError);
    } catch (...) {
        ShowThreadException("Exception raised in Thread Handler: %s at %X", "unknown exception", 1994);
        KvGProtLog("[Exception raised in Thread Handler: %s]\r\n", "unknown exception", kLogError);
    }
    pSTSerial->WakeDeferredWorker();  // an event handled when the thread ended
    KvGProtLog("[TSerThread(%.08x)::Execute() terminated]\r\n", ThreadId(), kLogTrace);
    // The port is closed by whoever lets go of it last: CloseIt, or this
    // thread when it ended after CloseIt had stopped waiting for it.
    port_.reset();
    pSTSerial->EventThreadEnded();
    {
        std::lock_guard<std::mutex> lock(endedLock_);
        ended_ = true;
    }
    endedCv_.notify_all();
}

bool TSerThread::WaitCommEvent(unsigned& bits) {
    bits = 0;
    for (;;) {
        if (terminated_) return true;
        PortError error = PortError::kNone;
        const unsigned woke = port_->WaitForEvents(stop_, -1, !deviceLost_, error);
        ++wakeups_;
        if (woke & kPortStopped) return true;  // as an empty event mask: no bits
        if (woke & kPortFailed) {
            const int number = LastError();
            char text[300];
            KvShowLastError("GetLastError returned: ", text, sizeof text);
            KvGProtLog("[TSerThread::Execute(), WaitCommEvent-Error %d, %s]\r\n", number, text, kLogError);
            return false;
        }
        if (!(woke & (kPortReadable | kPortHangup))) continue;
        bool readFailed = false;
        int got = 0;
        unsigned found = pSTSerial->PullInput(*port_, readFailed, got);
        const int readError = readFailed ? LastError() : 0;
        bool lost = readFailed || (woke & kPortHangup);
        if (got > 0)
            emptyWakes_ = 0;
        else if (!lost && ++emptyWakes_ >= kMaxEmptyWakes)
            lost = true;
        if (lost && !deviceLost_) {
            deviceLost_ = true;
            // A hang-up without a failed read: the terminal's own answer
            // to a read after it would be an I/O error.
            const int number = readError ? readError : EIO;
            SetLastError(number);
            char text[300];
            KvShowLastError("GetLastError returned: ", text, sizeof text);
            KvGProtLog("[TSerThread::Execute(), WaitCommEvent-Error %d, %s]\r\n", number, text, kLogError);
            found |= kEvErr;  // reported once; the descriptor is not watched again
        }
        found &= pSTSerial->PortEventMask();
        if (found) {
            bits = found;
            return true;
        }
    }
}

}  // namespace zel
