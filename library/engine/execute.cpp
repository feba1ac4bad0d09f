// Command execution: framing, calibration rewriting, transmission (or the
// demo simulator), and the wait for the reply in the selected signal mode.
#include "engine/controller.h"

#include "platform/zel_clock.h"
#include "platform/zel_messages.h"
#include "serial/kv_serial.h"
#include "support/error_report.h"
#include "support/library_state.h"
#include "support/number_text.h"
#include "support/protocol_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

namespace zel {

namespace {

// Command lines are framed in a buffer of 256 characters: 255 and the zero.
constexpr size_t kLineBufferSize = 256;
// Host pumps are called at least this often while a wait pumps messages.
constexpr uint32_t kPumpSliceMs = 20;

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// True once the tick count has passed the deadline (wrapping arithmetic).
bool Passed(uint32_t now, uint32_t deadline) { return static_cast<int32_t>(now - deadline) > 0; }

// True once the tick count has reached the deadline. A wait that ran out its
// whole time-out may end within the deadline's own millisecond.
bool Reached(uint32_t now, uint32_t deadline) { return static_cast<int32_t>(now - deadline) >= 0; }

uint32_t Remaining(uint32_t now, uint32_t deadline) {
    return Passed(now, deadline) ? 0 : deadline - now;
}

// The last blank-separated token of a line and the integer of the token
// before it (0 when there is none).
void LastTokens(const std::string& line, std::string& last, int& number) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) tokens.emplace_back(line, start, i - start);
    }
    last = tokens.empty() ? std::string() : tokens.back();
    number = 0;
    if (tokens.size() >= 2) {
        const long value = std::strtol(tokens[tokens.size() - 2].c_str(), nullptr, 10);
        number = (value > 0x7FFFFFFFL || value < -0x7FFFFFFFL) ? 0 : static_cast<int>(value);
    }
}

void TrimLineEnd(std::string& text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
}

}  // namespace

bool TController::KvCProcessMessages() {
    LibraryState& s = State();
    ZelWindow closeWindow = 0;
    bool closeRequest = CallHostPump(closeWindow);
    if (!closeRequest) {
        PostedMessage msg;
        while (!s.terminating && PeekMessage(msg)) {
            KvGProtLog("[ProcessMessages: HWND=0x%x, Message=0x%x, WParam=0x%x, LParam=0x%x]\r\n",
                       static_cast<intptr_t>(msg.window), static_cast<int>(msg.message),
                       static_cast<int>(msg.wParam), static_cast<int>(msg.lParam), kLogTrace);
            DispatchMessage(msg);
        }
    } else {
        s.terminating = true;
    }
    if (!s.terminating) return true;
    KvGProtLog("[Terminating while waiting for Reply: HWND=0x%x, Message=0x%x, WParam=0x%x, LParam=0x%x]\r\n",
               static_cast<intptr_t>(closeWindow), ZEL_WM_CLOSE, nCNumber, 0, kLogTrace);
    if (closeRequest) PostMessage(closeWindow, ZEL_WM_CLOSE, nCNumber, 0);
    bCWaitingForReply = false;
    return false;
}

bool TController::KvCExecuteCommand(const std::string& text, unsigned controlWord,
                                    const std::string& expectedReply) {
    KvGProtLog("[TController%d::KvCExecuteCommand(0x%.08x)]\r\n", nCNumber, static_cast<int>(controlWord),
               kLogTrace);
    LibraryState& s = State();
    // The scanner sets the completion flag of the previous command before it
    // sets or pulses that command's events; its caller may have returned in
    // between. Let that scan finish before this command clears the flag and
    // the events, or its late signal would end this command's wait before
    // the reply (found as "complete" = false: a lost reply).
    { std::lock_guard<std::mutex> scan(mCScanLock); }
    nCLastError = 0;
    bool result = true;
    bCReplyComplete = false;
    uint8_t snapshot = ucCSignalMode;

    if (!(controlWord & 0x2000u)) {
        pCLastCommand->sText = text;
        pCLastCommand->unFlags = controlWord;
    }

    // The controller always receives '.' as decimal separator.
    std::string command = text;
    const char user = s.decSepChar;
    for (char& ch : command)
        if (ch == '.' || ch == ',' || ch == user) ch = '.';
    // Commands end at their first zero character, as C texts do.
    const size_t zero = command.find('\0');
    if (zero != std::string::npos) command.resize(zero);

    std::string line = command;
    if (!EndsWith(line, "\r\n")) line += "\r\n";
    if (line.size() >= kLineBufferSize) {
        // Cutting would send a different command: refuse the whole line.
        KvGProtLog("[TController%d::KvCExecuteCommand, command longer than %d characters]\r\n", nCNumber,
                   static_cast<int>(kLineBufferSize - 1), kLogError);
        nCLastError = ZEL_ERR_PARAMETER;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mCReplyLock);
        sCReply.clear();
    }
    int expectedLines = static_cast<int>(controlWord >> 24);

    // Calibration and range measuring run long and answer only with a status.
    if (SingleAxisCommands()) {
        std::string last;
        int axis = 0;
        LastTokens(line, last, axis);
        char ending[64];
        std::snprintf(ending, sizeof ending, "0 %d nr %d nst\r\n", axis, axis);
        if (line.size() > std::strlen(ending) && EndsWith(line, ending)) controlWord |= 0x10000u;
        const bool calibrating = last == "ncal\r\n" || last == "ncalibrate\r\n";
        const bool measuring = last == "nrm\r\n" || last == "nrangemeasure\r\n";
        if ((calibrating || measuring) && expectedReply.empty()) {
            std::string stripped = line;
            TrimLineEnd(stripped);
            std::string rewritten = stripped + " " + std::to_string(axis) + " nst\r\n";
            if (rewritten.size() >= kLineBufferSize) {
                nCLastError = ZEL_ERR_PARAMETER;
                return false;
            }
            line = rewritten;
            expectedLines = 1;
            controlWord |= 0x10004u;
            KvGProtLog(calibrating ? "[TController::KvCExecuteCommand(), calibrating]\r\n"
                                   : "[TController::KvCExecuteCommand(), range measuring]\r\n",
                       kLogTrace);
        }
    } else {
        std::string autoReply = "0";
        for (int i = 1; i < AxesCount(); ++i) autoReply += " 0";
        autoReply += " r st\r\n";
        if (line.size() > 7 && EndsWith(line, autoReply)) controlWord |= 0x10000u;
        if ((line[0] == 'c' || line[0] == 'r') && expectedReply.empty()) {
            const bool calibrating = line == "cal\r\n" || line == "cal st\r\n";
            const bool measuring = line == "rm\r\n" || line == "rm st\r\n";
            if (calibrating || measuring) {
                if (line == "cal\r\n") line = "cal st\r\n";
                if (line == "rm\r\n") line = "rm st\r\n";
                expectedLines = 1;
                controlWord |= 0x10004u;
                KvGProtLog(calibrating ? "[TController::KvCExecuteCommand(), calibrating]\r\n"
                                       : "[TController::KvCExecuteCommand(), range measuring]\r\n",
                           kLogTrace);
            }
        }
    }

    pCSerial->SetExpectedReply(expectedReply);
    if (!expectedReply.empty()) expectedLines = -1;

    const int tick = static_cast<int>(TickCount());
    if (controlWord & 0x100000u)
        KvGProtLog("[Out GR %d (%d exp.):%s]\r\n", tick, expectedLines, line.c_str(), kLogTrace);
    else if (!(controlWord & 0x2000u))
        KvGProtLog("[Out V%d (%d/%s exp.):%s]\r\n", tick, expectedLines, expectedReply.c_str(), line.c_str(),
                   kLogTrace);
    else
        KvGProtLog("[Out PSI %d (%d exp.):%s]\r\n", tick, expectedLines, line.c_str(), kLogTrace);

    pCWakeup->Reset();
    pCTEvent->Reset();
    // A set left by the previous command's late signal (see above).
    if (hCEvent) hCEvent->Reset();
    if (nCInterface == kInterfaceDemo) {
        if (snapshot != 4) snapshot = 1;
        KvCProcessDemoCommand(line, expectedLines, snapshot);
    } else {
        if (expectedLines != 0) bCWaitingForReply = true;
        int written = 0;
        if (!pCSerial->TransmitText(line, expectedLines, written)) {
            KvGProtLog("[TController%d::KvCExecuteCommand, WriteFile-Error]\r\n", nCNumber, kLogError);
            bCWaitingForReply = false;
            return false;
        }
        KvGProtLog("[TController%d::KvCExecuteCommand, Transmit done]\r\n", nCNumber, kLogTrace);
        unsigned errorWord = 0;
        if (written < static_cast<int>(line.size()) && !KvCheckCommError(errorWord)) {
            bCWaitingForReply = false;
            KvGProtLog("[TController::KvCExecuteCommand, KvCheckCommError returned false]\r\n", kLogTrace);
            return false;
        }
    }
    bCBreak = false;

    if (snapshot == 6 || expectedLines == 0) return true;
    if (!IsVReplyComplete()) bCWaitingForReply = true;
    if (snapshot == 4) return true;

    int timeout = 0;
    if (controlWord & 8u)
        timeout = nCLongTimeout;
    else if (!(controlWord & 0x10000u))
        timeout = nCTimeout;
    if (timeout > 0) {
        dwCDeadline = TickCount() + static_cast<uint32_t>(timeout);
        bCTimeoutArmed = true;
    } else {
        bCTimeoutArmed = false;
    }
    const bool armed = bCTimeoutArmed;
    auto completeOrBroken = [this] { return bCReplyComplete.load() || bCBreak.load(); };

    uint32_t waitResult = kWaitAbandoned;
    if (nCInterface == kInterfaceSerial && (pCSerial->unWaitMode & ZEL_WAIT_REPLY_THREAD)) {
        KvGProtLog("[Calling KvSerial->WaitForReplyThread::RunWaitForReply(%d ms)]\r\n", armed ? timeout : -1,
                   kLogTrace);
        bool ran = false;
        try {
            ran = pCSerial->RunWaitForReply(armed ? timeout : -1);
        } catch (const std::exception&) {
            ran = false;
        }
        KvGProtLog("[KvSerial->WaitForReplyThread::RunWaitForReply returned]\r\n", kLogTrace);
        // The run ends when the reply is complete, the wait was released or
        // the time-out passed; the outcome is judged like any other wait.
        if (!ran && !IsVReplyComplete())
            waitResult = kWaitFailed;
        else if (IsVReplyComplete() || !armed || !Reached(TickCount(), dwCDeadline))
            waitResult = kWaitObject0;
        else
            waitResult = kWaitTimeout;
        if (waitResult == kWaitFailed) {
            bCWaitingForReply = false;
            nCLastError = ZEL_ERR_WAIT_FAILED;
            return false;
        }
    } else {
        if (!armed && ((snapshot == 2 || snapshot == 3) && unCEventKind == 0x800)) snapshot = 1;
        if (!armed && snapshot == 7) snapshot = 1;
        if (!hCEvent && (snapshot == 2 || snapshot == 3)) snapshot = 0xFF;  // no event: the wait fails

        if (IsVReplyComplete()) {
            if (hCEvent) hCEvent->Reset();
            waitResult = kWaitObject0;
            KvGProtLog("[TController%d::bCReplyComplete==true, Skipping wait functions]\r\n", nCNumber,
                       kLogTrace);
        } else if ((snapshot == 2 || snapshot == 3) && unCEventKind == 0x2000) {
            KvGProtLog("[Waiting for Event(%d ms), MsgWaitForMultipleObjects]\r\n", armed ? timeout : -1,
                       kLogTrace);
            for (;;) {
                const uint32_t remaining = armed ? Remaining(TickCount(), dwCDeadline) : kInfinite;
                const uint32_t slice = HasEventPump() && remaining > kPumpSliceMs ? kPumpSliceMs : remaining;
                const uint32_t r = hCEvent->WaitOrMessage(slice, completeOrBroken);
                if (r == kWaitObject0) {
                    waitResult = kWaitObject0;
                    break;
                }
                if (r == kWaitFailed) {
                    KvGProtLog("[dwMyWaitResult == 0xFFFFFFFF]\r\n", kLogTrace);
                    waitResult = kWaitFailed;
                    break;
                }
                if (r == kWaitMessage) KvGProtLog("[dwMyWaitResult == WAIT_OBJECT_0 + 1]\r\n", kLogTrace);
                if (!KvCProcessMessages()) return false;
                if (armed && Passed(TickCount(), dwCDeadline)) {
                    waitResult = kWaitTimeout;
                    break;
                }
            }
            hCEvent->Reset();
            KvGProtLog("[TController%d::Waiting for Event done, Result=%d]\r\n", nCNumber,
                       static_cast<int>(waitResult), kLogTrace);
        } else if (snapshot == 2 || snapshot == 3) {
            KvGProtLog("[TController%d::Waiting for Event(%d ms), WaitForSingleObject]\r\n", nCNumber,
                       armed ? timeout : -1, kLogTrace);
            waitResult = hCEvent->Wait(armed ? static_cast<uint32_t>(timeout) : kInfinite, completeOrBroken);
            hCEvent->Reset();
            KvGProtLog("[TController%d::Waiting for Event done, Result=%d]\r\n", nCNumber,
                       static_cast<int>(waitResult), kLogTrace);
        } else if (snapshot == 7) {
            KvGProtLog("[Waiting for TEvent(%d ms), WaitForSingleObject]\r\n", armed ? timeout : -1, kLogTrace);
            waitResult = pCTEvent->Wait(armed ? static_cast<uint32_t>(timeout) : kInfinite, completeOrBroken);
            if (hCEvent) hCEvent->Reset();
            // The event is manual-reset: leave it clear for the next command.
            pCTEvent->Reset();
            KvGProtLog("[Waiting for TEvent done, Result=%d]\r\n", static_cast<int>(waitResult), kLogTrace);
        } else if (snapshot == 0xFF) {
            waitResult = kWaitFailed;
        } else {
            // Flag polling (signal modes 1, and 0 and 5 which have no wait of
            // their own): pump messages and sleep until the flag, CTRL+C, a
            // posted message or the deadline wakes the loop.
            KvGProtLog("[TController%d::Waiting for Flag to be set]\r\n", nCNumber, kLogTrace);
            waitResult = kWaitAbandoned;
            while (waitResult != kWaitObject0 && waitResult != kWaitTimeout) {
                pCWakeup->Reset();
                if (!KvCProcessMessages()) return false;
                if (s.terminating || !pCSerial || !(bCConnected || bCConnecting)) {
                    bCTimeoutArmed = false;
                    bCWaitingForReply = false;
                    return false;
                }
                const uint32_t now = TickCount();
                if (bCReplyComplete || bCBreak) {
                    waitResult = kWaitObject0;
                } else if (armed && Passed(now, dwCDeadline)) {
                    waitResult = kWaitTimeout;
                } else {
                    uint32_t slice = armed ? Remaining(now, dwCDeadline) + 1 : kInfinite;
                    if (HasEventPump() && slice > kPumpSliceMs) slice = kPumpSliceMs;
                    pCWakeup->WaitOrMessage(slice, completeOrBroken);
                }
            }
            if ((ucCSignalMode == 2 || ucCSignalMode == 3) && hCEvent) hCEvent->Reset();
            KvGProtLog("[TController%d::Waiting for Flag to be set, done]\r\n", nCNumber, kLogTrace);
        }
    }

    if (bCBreak) {
        KvGProtLog("[TController%d::KvCExecuteCommand done, CTRL+C detected]\r\n", nCNumber, kLogTrace);
        bCWaitingForReply = false;
        return false;
    }
    if (waitResult == kWaitTimeout && nCInterface != kInterfaceDemo) KvCVerifyTimeout(waitResult);

    switch (waitResult) {
    case kWaitAbandoned:
        result = false;
        break;
    case kWaitObject0:
        KvGProtLog("[TController%d, dwMyWaitResult == WAIT_OBJECT_0]\r\n", nCNumber, kLogTrace);
        if (IsVReplyComplete()) {
            std::lock_guard<std::mutex> lock(mCReplyLock);
            sCRawReply = sCReply;
            KvTrimText(sCReply);
            KvSetDecSep(sCReply, s.decSepMode, s.decSepChar);
            // A break or line error during the command also releases its
            // wait (KvCOnBreak and KvCOnError mark the reply complete), for
            // instance when the controller has gone: what is held then is no
            // finished reply, and the command fails with that code.
            const int lineEvent = nCLastError;
            result = lineEvent != ZEL_ERR_BREAK && lineEvent != ZEL_ERR_LINE_ERROR;
        } else {
            bCWaitingForReply = false;
            result = false;
        }
        break;
    case kWaitTimeout: {
        char message[300];
        std::snprintf(message, sizeof message, "WAIT_TIMEOUT processing >%.260s<", command.c_str());
        KvGProtLog("[%s]\r\n", message, kLogTrace);
        nCLastError = ZEL_ERR_TIMEOUT;
        result = false;
        break;
    }
    case kWaitFailed:
        KvShowLastError("WAIT_FAILED", nullptr);
        nCLastError = ZEL_ERR_WAIT_FAILED;
        result = false;
        break;
    default: {
        char message[64];
        std::snprintf(message, sizeof message, "WaitForSingleObject=undefined (%d)", static_cast<int>(waitResult));
        KvGProtLog("[TController::KvCExecuteCommand() %s]\r\n", message, kLogError);
        result = false;
        break;
    }
    }
    bCWaitingForReply = false;
    KvGProtLog("[TController%d::KvCExecuteCommand done]\r\n", nCNumber, kLogTrace);
    return result;
}

}  // namespace zel
