#include "serial/kv_serial.h"

#include <cstdlib>

#include "engine/controller.h"
#include "platform/zel_messages.h"
#include "platform/zel_paths.h"
#include "platform/zel_serial_port.h"
#include "platform/zel_system.h"
#include "serial/port_enumeration.h"
#include "serial/ser_thread.h"
#include "serial/wait_for_reply_thread.h"
#include "support/library_state.h"
#include "support/protocol_log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

namespace zel {

namespace {

std::atomic<bool> gDefaultXonXoff{true};

// Most a single pull takes from the port before the events found so far
// are handled; a flooding peer cannot keep the reader from reporting.
constexpr size_t kMaxPullBytes = 64 * 1024;

// Dispatches the posted messages, logging each with the given line.
void DispatchLogged(const char* format) {
    const size_t limit = QueuedMessageCount() + kMaxExtraDispatched;
    PostedMessage msg;
    for (size_t n = 0; n < limit && PeekMessage(msg); ++n) {
        KvGProtLog(format, static_cast<intptr_t>(msg.window), static_cast<int>(msg.message),
                   static_cast<int>(msg.lParam), static_cast<int>(msg.wParam), kLogTrace);
        DispatchMessage(msg);
    }
}

}  // namespace

void SetDefaultXonXoff(bool on) { gDefaultXonXoff = on; }
bool DefaultXonXoff() { return gDefaultXonXoff; }

TKvSerial::TKvSerial(TController* owner) : pOwner(owner) {
    for (int i = 0; i < kMaxPorts; ++i)
        if (PortPresentFlag(i)) pPortNames.push_back("COM" + std::to_string(i + 1));
    nPort = pPortNames.empty() ? 0 : 1;
    bXonXoff = DefaultXonXoff();
}

TKvSerial::~TKvSerial() {
    // Virtual calls from a destructor reach this class's own CloseIt, which
    // is what must run here: the derived parts are already gone.
    TKvSerial::CloseIt();
    // Threads still ending call into this object: wait for them.
    endingThreads_.clear();
    std::unique_ptr<TWaitForReplyThread> waitThread;
    {
        std::lock_guard<std::mutex> lock(waitThreadLock_);
        waitThread = std::move(waitThread_);
    }
    waitThread.reset();
    retiredWaitThreads_.clear();
}

void TKvSerial::SetActive(bool active) {
    if (TestPointSet(kTpSetActiveNothing)) return;
    if (active && !bActive)
        bActive = OpenIt();
    else if (!active && bActive)
        CloseIt();
}

void TKvSerial::SetPort(int n) {
    if (n < 0) return;
    nPort = 0;
    if (pPortNames.empty()) return;
    // A port number the machine may have is kept as asked: opening a missing
    // device then fails, instead of silently driving whatever sits on another
    // port. Numbers beyond the eight ports fall back to the first one found.
    nPort = (n > kMaxPorts) ? std::atoi(pPortNames.front().c_str() + 3) : n;
}

std::shared_ptr<SerialPort> TKvSerial::Port() const {
    std::lock_guard<std::mutex> lock(portLock_);
    return port_;
}

int TKvSerial::TimeoutMs() const {
    const int t = pOwner ? pOwner->nCTimeout : 0;
    return t < 1 ? 1000 : t;
}

// ---- Opening and closing ---------------------------------------------------

bool TKvSerial::OpenIt() {
    if (TestPointSet(kTpOpenFails)) return false;
    if (bActive) return false;
    if (pOwner && pOwner->nCInterface == kInterfaceDemo) {
        // Demo mode opens no device, so it runs on machines without any
        // serial port: the object behaves as an open port with nothing
        // attached.
        if (TestPointSet(kTpOpenFailsAfterName)) return false;
        bDemoOpen = true;
        unEventMask = kDefaultEventMask;
        bActive = true;
        return true;
    }
    if (nPort <= 0) return false;
    char name[16];
    std::snprintf(name, sizeof name, "COM%d", nPort % 10);
    if (TestPointSet(kTpOpenFailsAfterName)) return false;

    // A thread of an earlier opening that is still ending uses this object.
    for (auto& t : endingThreads_) t.reset();
    endingThreads_.clear();

    // 5. Open the device exclusively.
    const std::string path = PortDevicePath(nPort);
    const std::string where = std::string(name) + " (" + path + ")";
    PortError error = PortError::kNone;
    const int connectTimeout = pOwner && pOwner->nCLongTimeout > 0 ? pOwner->nCLongTimeout : 5000;
    std::shared_ptr<SerialPort> port = SerialPort::Open(path, error, connectTimeout);
    if (!port) {
        const std::string why = std::string(PortErrorName(error)) + ", " + SystemErrorText(LastError());
        KvGProtLog("[TKvSerial::OpenIt(), %s: %s]\r\n", where.c_str(), why.c_str(), kLogError);
    }
    InstallPort(port);

    // 6.-8. What the port offers and is set to, its event mask, time-outs.
    if (ProtocolOn()) {
        ProtCommProperties();
        KvSProtCommState();
    }
    ProtEventMaskAndTimeouts();

    // 9. Queue sizes: the driver's queues are its own; nothing to request.
    // 10. Line settings.
    if (port) {
        SerialSettings s;
        s.baudRate = BaudRateOfCode(pOwner ? pOwner->ucCBaudCode : 4);
        s.xonXoff = bXonXoff;
        s.ctsRts = bCtsRtsHandshake;
        s.xonChar = ucXonChar;
        s.xoffChar = ucXoffChar;
        if (!port->Configure(s, error)) {
            const std::string why = std::string(PortErrorName(error)) + ", " + SystemErrorText(LastError());
            KvGProtLog("[TKvSerial::OpenIt(), %s: %s]\r\n", where.c_str(), why.c_str(), kLogError);
            port.reset();
            std::lock_guard<std::mutex> lock(portLock_);
            port_.reset();
            hPort = -1;
        }
    }
    // 11.
    if (ProtocolOn()) KvSProtCommState();
    return FinishOpening(port != nullptr);
}

void TKvSerial::InstallPort(const std::shared_ptr<SerialPort>& port) {
    {
        std::lock_guard<std::mutex> lock(portLock_);
        port_ = port;
    }
    hPort = port ? port->Fd() : -1;
    rxQueue_.Clear();
    rxQueue_.TakeErrors();
    SerialCounters counters;
    countersKept_ = port && port->Counters(counters);
    lastOverrun_ = counters.overrun;
    lastBufferOverrun_ = counters.bufferOverrun;
    lastParity_ = counters.parity;
    portEventMask_ = 0;
}

bool TKvSerial::FinishOpening(bool portOpen) {
    // 12. Event character, break and line error.
    if (portOpen) {
        unEventMask = kDefaultEventMask;
        if (!(unWaitMode & ZEL_WAIT_MASK_IN_THREAD)) portEventMask_ = unEventMask.load();
    }
    // 13.
    ProtEventMaskAndTimeouts();
    // 14.
    if (TestPointSet(kTpOpenNoThread)) return portOpen;
    // 15.
    if (portOpen) {
        threadReading_ = true;
        pSerThread = std::make_unique<TSerThread>(this);
        hasEventThread_ = true;
        KvGProtLog("[TKvSerial::OpenIt(), pSerThread=%0x08x]\r\n",
                   static_cast<int>(reinterpret_cast<uintptr_t>(pSerThread.get())), kLogTrace);
    }
    // 16.
    if ((unWaitMode & ZEL_WAIT_REPLY_THREAD) && portOpen)
        ReplaceWaitForReplyThread(std::make_unique<TWaitForReplyThread>(this));
    // 17.
    bActive = portOpen;
    return portOpen;
}

bool TKvSerial::AttachPort(std::shared_ptr<SerialPort> port) {
    if (bActive || !port) return false;
    for (auto& t : endingThreads_) t.reset();
    endingThreads_.clear();
    InstallPort(port);
    return FinishOpening(true);
}

void TKvSerial::CloseIt() {
    KvGProtLog("[TKvSerial::CloseIt]\r\n", kLogTrace);
    if (bActive) {
        if (unWaitMode & ZEL_WAIT_REPLY_THREAD) {
            TWaitForReplyThread* wait = WaitForReplyThread();
            if (wait && wait->Running()) {
                KvGProtLog("[TKvSerial::CloseIt(), WaitForReplyThread->AbortThread()...]\r\n", kLogTrace);
                wait->AbortThread();
                KvGProtLog("[TKvSerial::CloseIt(), WaitForReplyThread->AbortThread() done]\r\n", kLogTrace);
            }
        }
        StopEventThread();
        KvGProtLog("[TKvSerial::CloseHandle()]\r\n", kLogTrace);
        {
            // The event thread, if it is still ending, holds the port until
            // it has; the descriptor is never closed under a running wait.
            std::lock_guard<std::mutex> lock(portLock_);
            port_.reset();
        }
        hPort = -1;
        bDemoOpen = false;
        bActive = false;
    }
    KvGProtLog("[TKvSerial::CloseIt done]\r\n", kLogTrace);
}

void TKvSerial::StopEventThread() {
    if (!pSerThread) return;
    // 3., 4. Terminate flag, event mask 0 (the stop signal ends the wait).
    pSerThread->Terminate();
    portEventMask_ = 0;
    // 5. At most 200 ms. A close from within the thread's own callbacks
    // cannot wait for it; it ends once the callback returns.
    const bool ended = !pSerThread->IsCurrentThread() && pSerThread->WaitFor(200);
    if (ended)
        KvGProtLog("[TKvSerial::CloseIt() WaitForSingleObject returned WAIT_OBJECT_0]\r\n", kLogTrace);
    else
        KvGProtLog("[TKvSerial::CloseIt() WaitForSingleObject returned TIMEOUT]\r\n", kLogTrace);
    hasEventThread_ = false;
    // 6.
    if ((unWaitMode & ZEL_WAIT_KEEP_THREAD) && !pSerThread->IsCurrentThread()) {
        const bool pump = (unWaitMode & ZEL_WAIT_PUMP_ON_CLOSE) != 0;
        if (pump)
            DispatchLogged("[TKvSerial::CloseIt() PeekMessage() returned after WaitForSingleObject\n"
                           "HWND=0x%x, Message=0x%x, LParam=0x%x, WParam=0x%x]\r\n");
        KvGProtLog("[TKvSerial::CloseIt() deleting Thread]\r\n", kLogTrace);
        pSerThread.reset();  // waits for the thread to end
        if (pump)
            DispatchLogged("[TKvSerial::CloseIt() PeekMessage() returned after delete SerThread\n"
                           "HWND=0x%x, Message=0x%x, LParam=0x%x, WParam=0x%x]\r\n");
    } else if (ended) {
        pSerThread.reset();
    } else {
        // Left to end on its own; joined by the next OpenIt or at destruction.
        endingThreads_.push_back(std::move(pSerThread));
    }
}

// ---- Diagnostic dumps ------------------------------------------------------

void TKvSerial::ProtCommProperties() {
    if (!Port()) {
        KvGProtLog("[GetCommProperties() failed]\r\n", kLogError);
        return;
    }
    // A terminal has none of these properties; they are reported as 0.
    KvGProtLog("[GetCommProperties() successful]\r\n", kLogTrace);
    for (const char* line : {"[PacketLength=%d]\r\n", "[PacketVersion=%d]\r\n"})
        KvGProtLog(line, 0, kLogTrace);
    KvGProtLog("[ServiceMask=0x%.08x]\r\n", 0, kLogTrace);
    KvGProtLog("[MaxTxQueue=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[MaxRxQueue=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[MaxBaud=0x%.08x]\r\n", 0, kLogTrace);
    KvGProtLog("[ProvSubType=%d]\r\n", 0, kLogTrace);
    for (const char* line : {"[ProvCapabilities=0x%.08x]\r\n", "[SettableParams=0x%.08x]\r\n",
                             "[SettableBaud=0x%.08x]\r\n", "[SettableData=0x%.08x]\r\n",
                             "[SettableStopParity=0x%.08x]\r\n"})
        KvGProtLog(line, 0, kLogTrace);
    KvGProtLog("[CurrentTxQueue=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[CurrentRxQueue=%d]\r\n", 0, kLogTrace);
}

void TKvSerial::KvSProtCommState() {
    std::shared_ptr<SerialPort> port = Port();
    SerialLineState st;
    if (!port || !port->ReadLineState(st)) {
        KvGProtLog("[KvSProtCommState() failed]\r\n", kLogError);
        return;
    }
    unsigned lines = 0;
    const bool haveLines = port->ModemLines(lines);
    // The record's fields, filled from termios where it has them.
    const int binary = (!st.canonical && !st.signals && !st.translatesInput && !st.outputProcessing) ? 1 : 0;
    const int dtrControl = (haveLines && (lines & kLineDtr)) ? 1 : 0;
    const int rtsControl = st.crtscts ? 2 : ((haveLines && (lines & kLineRts)) ? 1 : 0);
    KvGProtLog("[GetCommState() successful]\r\n", kLogTrace);
    KvGProtLog("[DCBlength=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[BaudRate=%d]\r\n", st.baudRate, kLogTrace);
    KvGProtLog("[fBinary=%d]\r\n", binary, kLogTrace);
    KvGProtLog("[fParity=%d]\r\n", (st.parity != 0 && st.inpck) ? 1 : 0, kLogTrace);
    KvGProtLog("[fOutxCtsFlow=%d]\r\n", st.crtscts ? 1 : 0, kLogTrace);
    KvGProtLog("[fOutxDsrFlow=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[fDtrControl=%d]\r\n", dtrControl, kLogTrace);
    KvGProtLog("[fDsrSensitivity=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[fTXContinueOnXoff=%d]\r\n", st.ixoff ? 0 : 1, kLogTrace);
    KvGProtLog("[fOutX=%d]\r\n", st.ixon ? 1 : 0, kLogTrace);
    KvGProtLog("[fInX=%d]\r\n", st.ixoff ? 1 : 0, kLogTrace);
    KvGProtLog("[fErrorChar=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[fNull=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[fRtsControl=%d]\r\n", rtsControl, kLogTrace);
    KvGProtLog("[fAbortOnError=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[XonLim=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[XoffLim=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[ByteSize=%d]\r\n", st.dataBits, kLogTrace);
    KvGProtLog("[Parity=%d]\r\n", st.parity, kLogTrace);
    KvGProtLog("[StopBits=%d]\r\n", st.twoStopBits ? 2 : 0, kLogTrace);
    KvGProtLog("[XonChar=0x%02x]\r\n", st.vstart, kLogTrace);
    KvGProtLog("[XoffChar=0x%02x]\r\n", st.vstop, kLogTrace);
    KvGProtLog("[ErrorChar=0x%02x]\r\n", 0, kLogTrace);
    KvGProtLog("[EofChar=0x%02x]\r\n", 0, kLogTrace);
    KvGProtLog("[EvtChar=0x%02x]\r\n", 0, kLogTrace);
}

void TKvSerial::ProtEventMaskAndTimeouts() {
    const bool open = Port() != nullptr;
    if (open && ProtocolOn()) {
        KvGProtLog("[GetCommMask() successful]\r\n", kLogTrace);
        KvGProtLog("[EvtMask=0x%.08x]\r\n", static_cast<int>(portEventMask_.load()), kLogTrace);
    }
    // The time-outs are VMIN 0 and VTIME 0, set with the line settings: a
    // read returns what is there. Without a port they cannot be set.
    if (!open) {
        KvGProtLog("[SetCommTimeouts() failed]\r\n", kLogError);
        if (ProtocolOn()) KvGProtLog("[GetCommTimeOuts() failed]\r\n", kLogError);
        return;
    }
    if (!ProtocolOn()) return;
    KvGProtLog("[GetCommTimeouts() successful]\r\n", kLogTrace);
    KvGProtLog("[ReadIntervalTimeout=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[ReadTotalTimeoutMultiplier=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[ReadTotalTimeoutConstant=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[WriteTotalTimeoutMultiplier=%d]\r\n", 0, kLogTrace);
    KvGProtLog("[WriteTotalTimeoutConstant=%d]\r\n", 0, kLogTrace);
}

// ---- Reading the line ----------------------------------------------------

unsigned TKvSerial::PullInput(SerialPort& port, bool& readFailed, int& got) {
    readFailed = false;
    got = 0;
    std::string raw;
    char chunk[4096];
    while (raw.size() < kMaxPullBytes) {
        PortError error;
        const int n = port.Read(chunk, sizeof chunk, error);
        if (n < 0) {
            readFailed = true;
            break;
        }
        if (n == 0) break;
        raw.append(chunk, static_cast<size_t>(n));
        // A short read took everything there was; more wakes the next poll.
        if (static_cast<size_t>(n) < sizeof chunk) break;
    }
    got = static_cast<int>(raw.size());
    unsigned events = 0;
    bool parity = false;
    if (countersKept_) {
        SerialCounters c;
        if (port.Counters(c)) {
            unsigned ce = 0;
            if (c.overrun != lastOverrun_) ce |= kCeOverrun;
            if (c.bufferOverrun != lastBufferOverrun_) ce |= kCeRxOver;
            parity = c.parity != lastParity_;
            lastOverrun_ = c.overrun;
            lastBufferOverrun_ = c.bufferOverrun;
            lastParity_ = c.parity;
            events |= rxQueue_.AddErrors(ce);
        }
    }
    if (!raw.empty())
        events |= rxQueue_.Feed(raw.data(), raw.size(), port.MarksLineErrors(), ucEventChar, parity);
    return events;
}

int TKvSerial::WriteBuffer(const char* bytes, int count) {
    if (!bActive || !bytes || count <= 0) return 0;
    // An open port with nothing attached takes every byte.
    if (bDemoOpen) return count;
    std::shared_ptr<SerialPort> port = Port();
    if (!port) return 0;
    PortError error;
    return port->Write(bytes, count, 0, error);
}

int TKvSerial::ReadBuffer(char* bytes, int count) {
    if (!bActive || !bytes || count <= 0) return 0;
    return static_cast<int>(rxQueue_.Take(bytes, static_cast<size_t>(count)));
}

bool TKvSerial::TransmitText(const std::string& text, int expectedLines, int& written) {
    written = 0;
    if (!bActive) return false;
    KvGProtLog("[TKvSerial::TransmitText(), Mode=%d]\r\n", static_cast<int>(unLineMode), kLogTrace);
    nSTExpectedLines = expectedLines;
    {
        // A wait through the wait-for-reply thread waits for this reply.
        std::lock_guard<std::mutex> lock(waitThreadLock_);
        if (waitThread_) waitThread_->PrepareForReply();
    }
    KvGProtLog("[COM%d Out(%d)]\r\n%s", nPort, static_cast<int>(text.size()), text.c_str(), kLogData);
    const int count = static_cast<int>(text.size());
    bool ok;
    if (bDemoOpen) {
        written = count;
        ok = true;
    } else {
        std::shared_ptr<SerialPort> port = Port();
        PortError error = PortError::kNone;
        if (port) {
            written = port->Write(text.data(), count, TimeoutMs(), error);
        } else {
            SetLastError(EBADF);
        }
        ok = port && written == count;
    }
    if (ok)
        KvGProtLog("[TKvSerial::WriteFile() success, %d written]\r\n", written, kLogTrace);
    else
        KvGProtLog("[TKvSerial::WriteFile()==0]\r\n", kLogTrace);
    KvGProtLog("[TKvSerial::TransmitText() done, %d written, Success=%d]\r\n", written, ok ? 1 : 0,
               kLogTrace);
    return ok;
}

std::string TKvSerial::ReceiveText(int& count) {
    count = 0;
    // The text of one read. On the stack: the event thread's reply scanner
    // and a port reset on the caller's thread may both read at once.
    char buffer[1024];
    KvGProtLog("[TKvSerial::ReceiveText(), Mode=%d]\r\n", static_cast<int>(unLineMode), kLogTrace);
    std::string text;
    bool ok = false;
    if (bActive) {
        const int waiting = GetBufRec();
        KvGProtLog("[TKvSerial::GetBufRec=%d]\r\n", waiting, kLogTrace);
        if (waiting > 0) {
            const int want = waiting < 1023 ? waiting : 1023;
            const int got = ReadBuffer(buffer, want);
            if (got > 0) {
                text.assign(buffer, static_cast<size_t>(got));
                count = got;
                ok = true;
                KvGProtLog("[TKvSerial::ReadFile!=0, %d read]\r\n", got, kLogTrace);
            }
        }
    }
    if (ok)
        KvGProtLog("[COM%d In(%d)]\r\n%s", nPort, count, text.c_str(), kLogData);
    else
        KvGProtLog("[COM%d In(%d) failed]\r\n%s", nPort, count, text.c_str(), kLogData);
    KvGProtLog("[TKvSerial::ReceiveText done, Success=%d]\r\n", ok ? 1 : 0, kLogTrace);
    // The text ends at its first zero character, as a C text would.
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

bool TKvSerial::DataInBuffer(int& inCount, int& outCount, unsigned& errorWord) {
    return QueryLine(inCount, &outCount, errorWord);
}

bool TKvSerial::QueryLine(int& inCount, int* outCountWanted, unsigned& errorWord) {
    int outCount = 0;
    inCount = 0;
    errorWord = 0;
    if (outCountWanted) *outCountWanted = 0;
    if (!bActive) return false;
    if (!bDemoOpen) {
        std::shared_ptr<SerialPort> port = Port();
        if (!port) {
            SetLastError(EBADF);
            return false;
        }
        // Without a running event thread nobody else reads the line.
        if (!threadReading_) {
            bool readFailed;
            int got;
            PullInput(*port, readFailed, got);
        }
        inCount = static_cast<int>(rxQueue_.Size());
        if (outCountWanted) outCount = port->OutputQueued();
        errorWord = rxQueue_.TakeErrors();
    }
    if (outCountWanted) *outCountWanted = outCount;
    KvGProtLog("[TKvSerial::DataInBuffer ClearCommError(), In=%d, Out=%d, Error=%d]\r\n", inCount, outCount,
               static_cast<int>(errorWord), kLogTrace);
    return true;
}

int TKvSerial::GetBufRec() {
    int in = 0, out = 0;
    unsigned errors = 0;
    // The reply scanner asks this for every line it reads: the output count
    // costs a system call (TIOCOUTQ) and only the protocol shows it.
    QueryLine(in, ProtocolOn() ? &out : nullptr, errors);
    KvGProtLog("[TKvSerial::GetBufRec returns %d]\r\n", in, kLogData);
    return in;
}

bool TKvSerial::Purge() {
    if (!bActive) return false;
    bool ok = true;
    if (!bDemoOpen) {
        std::shared_ptr<SerialPort> port = Port();
        ok = port && port->Flush(true, true);
    }
    rxQueue_.Clear();
    return ok;
}

bool TKvSerial::TransmitCommChar(char c) {
    if (!bActive) return false;
    if (bDemoOpen) return true;
    std::shared_ptr<SerialPort> port = Port();
    if (!port) return false;
    PortError error;
    return port->SendBreakChar(c, TimeoutMs(), error);
}

bool TKvSerial::HasEventThread() const { return hasEventThread_; }

// ---- Wait-for-reply thread ------------------------------------------------

TWaitForReplyThread* TKvSerial::WaitForReplyThread() const {
    std::lock_guard<std::mutex> lock(waitThreadLock_);
    return waitThread_.get();
}

void TKvSerial::ReplaceWaitForReplyThread(std::unique_ptr<TWaitForReplyThread> thread) {
    std::unique_ptr<TWaitForReplyThread> old;
    {
        std::lock_guard<std::mutex> lock(waitThreadLock_);
        old = std::move(waitThread_);
        waitThread_ = std::move(thread);
    }
    // Runs that have ended by now release their objects.
    retiredWaitThreads_.erase(std::remove_if(retiredWaitThreads_.begin(), retiredWaitThreads_.end(),
                                             [](const std::unique_ptr<TWaitForReplyThread>& t) {
                                                 return !t->Running();
                                             }),
                              retiredWaitThreads_.end());
    if (old && old->Running())
        retiredWaitThreads_.push_back(std::move(old));  // a Run below us still uses it
}

bool TKvSerial::RunWaitForReply(int timeoutMs) {
    TWaitForReplyThread* thread = WaitForReplyThread();
    if (!thread) return false;
    try {
        thread->RunWaitForReply(timeoutMs);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TKvSerial::SignalReplyComplete() {
    std::lock_guard<std::mutex> lock(waitThreadLock_);
    if (!waitThread_) return;
    const TSerThread* current = TSerThread::Current();
    if (current && current->pSTSerial == this) {
        // On the event thread the worker is woken when the thread has
        // handled the event (WakeDeferredWorker), the waiting caller now.
        waitThread_->ReleaseCaller();
        deferredWorkerWake_ = waitThread_.get();
    } else {
        waitThread_->SignalReplyComplete();
    }
}

void TKvSerial::WakeDeferredWorker() {
    std::lock_guard<std::mutex> lock(waitThreadLock_);
    // A thread object replaced meanwhile has been released or ends on its own.
    if (deferredWorkerWake_ && deferredWorkerWake_ == waitThread_.get()) waitThread_->WakeWorker();
    deferredWorkerWake_ = nullptr;
}

void TKvSerial::SetExpectedReply(const std::string& text) {
    std::lock_guard<std::mutex> lock(expectedReplyLock);
    sExpectedReply = text;
}

std::string TKvSerial::ExpectedReply() const {
    std::lock_guard<std::mutex> lock(expectedReplyLock);
    return sExpectedReply;
}

}  // namespace zel
