// The serial line object: owns the one port of a controller, its line
// settings and (while open) its threads.
//
// The port is the device [Ports] COMn names (a terminal, or tcp://host:port),
// opened exclusively. While it is open the serial event thread reads
// everything the line delivers into the receive queue (bounded, see
// receive_queue.h); ReceiveText, ReadBuffer and the input count of
// DataInBuffer read from that queue, as they would from the driver's input
// queue. Demo mode opens no device: the object then behaves as an open port
// with nothing attached.
#pragma once

#include "serial/receive_queue.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zel {

class TController;
class SerialPort;
class TSerThread;
class TWaitForReplyThread;

class TKvSerial {
public:
    explicit TKvSerial(TController* owner);
    virtual ~TKvSerial();
    TKvSerial(const TKvSerial&) = delete;
    TKvSerial& operator=(const TKvSerial&) = delete;

    // Operations a transport implements; tests replace them with a scripted line.
    virtual bool OpenIt();
    virtual void CloseIt();
    // One write of what the line takes at once / one read from the receive
    // queue; 0 when the port is not open.
    virtual int WriteBuffer(const char* bytes, int count);
    virtual int ReadBuffer(char* bytes, int count);
    // Writes a command text; hands expectedLines to the reply scanner first.
    // Waits for room on the line up to the owner's time-out.
    virtual bool TransmitText(const std::string& text, int expectedLines, int& written);
    // What waits in the input queue, at most 1023 characters a call.
    virtual std::string ReceiveText(int& count);

    // Input and output counts; reads and clears the line's error state (the
    // CE_ bits seen since the last call). False when the query fails (port
    // closed or a system error).
    virtual bool DataInBuffer(int& inCount, int& outCount, unsigned& errorWord);
    int GetBufRec();
    // PurgeComm: drops pending output and input, also the receive queue.
    virtual bool Purge();
    // Sends one character ahead of queued output (CTRL+C).
    virtual bool TransmitCommChar(char c);
    // True while an event thread scans replies for this port.
    virtual bool HasEventThread() const;
    // Runs the wait for the reply on the wait-for-reply thread. True when
    // the run ended normally (the reply completed, the wait was released or
    // its time-out passed); false when there is no such thread, it refused
    // the run (in use, aborted) or the run was aborted.
    virtual bool RunWaitForReply(int timeoutMs);
    // Reply completion releases a wait through the wait-for-reply thread.
    virtual void SignalReplyComplete();
    // The event thread calls this when it has handled an event: the worker
    // of a wait the event released is woken now.
    void WakeDeferredWorker();

    // Expected reply text of the current command: written by the caller's
    // thread before transmission, read by the reply scanner.
    void SetExpectedReply(const std::string& text);
    std::string ExpectedReply() const;

    void SetActive(bool active);
    void SetPort(int n);

    // Serves a port that is open already (a line a tool or test made
    // itself) as OpenIt serves the configured device: event thread, event
    // mask, wait-for-reply thread. False when active or without a port.
    bool AttachPort(std::shared_ptr<SerialPort> port);

    // The wait-for-reply thread (created by OpenIt with wait-mode bit
    // 0x40000, or installed by the self-test); null when there is none.
    TWaitForReplyThread* WaitForReplyThread() const;
    // Installs another wait-for-reply thread (null: none). The one it
    // replaces is destroyed, or kept until this object is destroyed while a
    // run on it is still in progress.
    void ReplaceWaitForReplyThread(std::unique_ptr<TWaitForReplyThread> thread);

    // ---- Used by the serial event thread --------------------------------
    // The open port (shared with the event thread); null when closed.
    std::shared_ptr<SerialPort> Port() const;
    // Reads what the port holds into the receive queue. Returns the line
    // events found; got: bytes read; readFailed: the read failed (the
    // device is gone; LastError tells why).
    unsigned PullInput(SerialPort& port, bool& readFailed, int& got);
    // The event mask in force on the port (SetCommMask): events outside it
    // are not reported; 0 ends a wait of the event thread.
    unsigned PortEventMask() const { return portEventMask_; }
    void SetPortEventMask(unsigned mask) { portEventMask_ = mask; }
    TReceiveQueue& ReceiveQueue() { return rxQueue_; }
    // Called by the event thread when it stops reading the port.
    void EventThreadEnded() { threadReading_ = false; }

    std::atomic<bool> bActive{false};
    std::vector<std::string> pPortNames;  // "COM1".."COM8" of the ports found present
    int nPort = 0;
    int hPort = -1;                      // descriptor of the open port
    std::atomic<bool> bDemoOpen{false};  // "open" in demo mode: no device behind it
    uint8_t ucDataBitsCode = 4;          // data bits = code + 4
    uint8_t ucParity = 0;
    uint8_t ucStopBits = 0;
    int nOutQueue = 2048;
    int nInQueue = 2048;
    bool bCtsRtsHandshake = false;
    bool bDsrDtrHandshake = false;
    bool bXonXoff = true;
    uint8_t ucXonChar = 0x11;
    uint8_t ucXoffChar = 0x13;
    int nXonLimit = 400;
    int nXoffLimit = 1600;
    uint8_t ucErrorChar = 0x3F;
    uint8_t ucEofChar = 0x1A;
    uint8_t ucEventChar = 0x0A;
    bool bParityCheck = false;
    bool bErrorCharReplace = false;
    bool bNullStrip = false;
    bool bAbortOnError = false;
    uint8_t ucThreadPriority = 3;
    int nControllerNumber = 0;
    std::string sExpectedReply;  // guarded by expectedReplyLock
    mutable std::mutex expectedReplyLock;
    // Reply lines the current command expects and event characters counted
    // since the scanner last reset them (kept with the port, for its thread).
    std::atomic<int> nSTExpectedLines{0};
    std::atomic<int> nSTEventCount{0};
    TController* pOwner = nullptr;
    std::atomic<unsigned> unLineMode{0};
    std::atomic<unsigned> unWaitMode{0};
    std::atomic<unsigned> unEventMask{0};
    // The serial event thread while the port is open.
    std::unique_ptr<TSerThread> pSerThread;

private:
    int TimeoutMs() const;
    void InstallPort(const std::shared_ptr<SerialPort>& port);
    bool FinishOpening(bool portOpen);
    void ProtCommProperties();
    void KvSProtCommState();
    void ProtEventMaskAndTimeouts();
    void StopEventThread();
    // DataInBuffer; the output count only when outCount is given.
    bool QueryLine(int& inCount, int* outCount, unsigned& errorWord);

    mutable std::mutex portLock_;
    std::shared_ptr<SerialPort> port_;  // guarded by portLock_
    std::atomic<unsigned> portEventMask_{0};
    std::atomic<bool> hasEventThread_{false};
    std::atomic<bool> threadReading_{false};  // an event thread reads the port
    TReceiveQueue rxQueue_;
    // The driver's error counters when it keeps them (TIOCGICOUNT); the
    // reader of the port uses them to tell overruns and parity errors.
    bool countersKept_ = false;
    uint32_t lastOverrun_ = 0, lastBufferOverrun_ = 0, lastParity_ = 0;
    // Event threads that did not end within CloseIt's 200 ms: they end on
    // their own and are joined later (or at destruction).
    std::vector<std::unique_ptr<TSerThread>> endingThreads_;
    mutable std::mutex waitThreadLock_;
    std::unique_ptr<TWaitForReplyThread> waitThread_;  // guarded by waitThreadLock_
    TWaitForReplyThread* deferredWorkerWake_ = nullptr;  // guarded by waitThreadLock_
    // Replaced while a run on them was still in progress.
    std::vector<std::unique_ptr<TWaitForReplyThread>> retiredWaitThreads_;
};

// XON/XOFF default for new serial objects ("UseXOnXOff" of the configuration).
void SetDefaultXonXoff(bool on);
bool DefaultXonXoff();

}  // namespace zel
