// Reply scanning: collecting received text, deciding when a reply is
// complete and signalling the sender. Runs in the serial event thread (or in
// the caller's thread in demo mode and after a time-out).
#include "engine/controller.h"

#include "platform/zel_messages.h"
#include "serial/kv_serial.h"
#include "support/error_report.h"
#include "support/library_state.h"
#include "support/number_text.h"
#include "support/protocol_log.h"

namespace zel {

namespace {
// The most received text the reply holds. Text that nobody collects (a
// controller talking unasked, line after line) must not grow it without
// bound: beyond this the oldest is dropped, as the receive queue does.
constexpr size_t kMaxHeldReply = TReceiveQueue::kDefaultCapacity;
}  // namespace

std::string TController::KvCReadReceived() {
    if (nCInterface != kInterfaceSerial || !pCSerial) return std::string();
    int count = 0;
    return pCSerial->ReceiveText(count);
}

bool TController::KvCSetInterfaceKind(int kind) {
    nCInterface = kind;
    return true;
}

int TController::KvCCheckEvChars(const std::string& text) {
    KvGProtLog("[TController%d::KvCCheckEvChars() ]\r\n", nCNumber, kLogTrace);
    int pairs = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '\r' && text[i + 1] == '\n') ++pairs;
    KvGProtLog("[TController%d::KvCCheckEvChars() done, %d found]\r\n", nCNumber, pairs, kLogTrace);
    return pairs;
}

void TController::KvCOnEventChar() {
    std::lock_guard<std::mutex> scan(mCScanLock);
    KvGProtLog("[TController%d::KvCOnEventChar()]\r\n", nCNumber, kLogTrace);
    const std::string received = (nCInterface != kInterfaceDemo) ? KvCReadReceived() : std::string();
    const std::string expected = pCSerial ? pCSerial->ExpectedReply() : std::string();
    bool stillWaiting = bCWaitingForReply;
    {
        std::lock_guard<std::mutex> lock(mCReplyLock);
        KvGProtLog("[TController::In=%s+%s]\r\n", sCReply.c_str(), received.c_str(), kLogTrace);
        sCReply += received;
        if (sCReply.size() > kMaxHeldReply) sCReply.erase(0, sCReply.size() - kMaxHeldReply);
        if (!expected.empty()) {
            const size_t at = sCReply.find(expected);
            if (at != std::string::npos) {
                sCReply.resize(at);
                stillWaiting = false;
            }
        } else if (ucCSignalMode == 6) {
            stillWaiting = false;
        } else if (pCSerial && pCSerial->HasEventThread()) {
            stillWaiting = KvCCheckEvChars(sCReply) < pCSerial->nSTExpectedLines;
        } else {
            stillWaiting = false;
        }
    }
    bCWaitingForReply = stillWaiting;
    if (stillWaiting) {
        bCReplyComplete = false;
        KvGProtLog("[bCWaitingForReply==true]\r\n", kLogTrace);
    } else {
        KvGProtLog("[bCWaitingForReply==false]\r\n", kLogTrace);
        KvCSetSignalState();
    }
    KvGProtLog("[TController%d::KvCOnEventChar done]\r\n", nCNumber, kLogTrace);
}

void TController::KvCSetSignalState() {
    KvGProtLog("[TController%d::KvCSetSignalState()]\r\n", nCNumber, kLogTrace);
    if (pCSerial && pCSerial->HasEventThread()) {
        pCSerial->nSTExpectedLines = 0;
        pCSerial->nSTEventCount = 0;
    }
    const uint8_t mode = ucCSignalMode;
    switch (mode) {
    case 2:
    case 3:
        KvGProtLog("[TController::Setting flag]\r\n", kLogTrace);
        bCReplyComplete = true;
        KvGProtLog("[bCReplyComplete=true done]\r\n", kLogTrace);
        if (mode == 2) {
            KvGProtLog("[Setting Event]\r\n", kLogTrace);
            if (hCEvent)
                hCEvent->Set();
            else
                ErrorMessageBox(0, "SetEvent failed", KvLoadText(100).c_str(), kModuleEngine, 11018,
                                ZEL_MB_ICONWARNING | ZEL_MB_OK);
        } else {
            KvGProtLog("[Pulsing Event]\r\n", kLogTrace);
            if (hCEvent)
                hCEvent->Pulse();
            else
                ErrorMessageBox(0, "PulseEvent failed", KvLoadText(100).c_str(), kModuleEngine, 11027,
                                ZEL_MB_ICONWARNING | ZEL_MB_OK);
        }
        break;
    case 7:
        KvGProtLog("[TController::Setting flag]\r\n", kLogTrace);
        bCReplyComplete = true;
        KvGProtLog("[Setting TEvent]\r\n", kLogTrace);
        pCTEvent->Set();
        break;
    case 1:
        KvGProtLog("[TController::Setting flag]\r\n", kLogTrace);
        bCReplyComplete = true;
        break;
    case 4:
    case 6:
        if (mode == 4) {
            // Hand the application a finished reply: the raw text is kept,
            // the reply itself is trimmed and its separators converted.
            std::lock_guard<std::mutex> lock(mCReplyLock);
            sCRawReply = sCReply;
            KvTrimText(sCReply);
            KvSetDecSep(sCReply, State().decSepMode, State().decSepChar);
        }
        bCReplyComplete = true;
        KvGProtLog("[Posting Message %d,%d]\r\n", static_cast<int>(hCWnd), static_cast<int>(unCMessage),
                   kLogTrace);
        PostMessage(hCWnd, unCMessage, nCNumber, 0);
        break;
    default:  // 0 and 5: the flag only
        bCReplyComplete = true;
        break;
    }
    // Waits through the wait-for-reply thread and flag-polling waits end now.
    if (pCSerial) pCSerial->SignalReplyComplete();
    pCWakeup->Set();
    KvGProtLog("[TController%d::KvCSetSignalState() done]\r\n", nCNumber, kLogTrace);
}

namespace {
void ReportLineEvent(TController& c, int code) {
    c.nCLastError = code;
    {
        // Signalled under the scan lock like a reply, so that a command
        // starting meanwhile waits for the signal to be out (see
        // KvCExecuteCommand).
        std::lock_guard<std::mutex> scan(c.mCScanLock);
        if (c.bCWaitingForReply) c.KvCSetSignalState();
    }
    PostMessage(c.hCWnd, c.unCMessage, code, 0);
}
}  // namespace

void TController::KvCOnBreak() {
    KvGProtLog("[TController%d::KvCOnBreak()]\r\n", nCNumber, kLogTrace);
    ReportLineEvent(*this, ZEL_ERR_BREAK);
    KvGProtLog("[TController%d::KvCOnBreak() done]\r\n", nCNumber, kLogTrace);
}

void TController::KvCOnError() {
    KvGProtLog("[TController%d::KvCOnError()]\r\n", nCNumber, kLogTrace);
    ReportLineEvent(*this, ZEL_ERR_LINE_ERROR);
    KvGProtLog("[TController%d::KvCOnError() done]\r\n", nCNumber, kLogTrace);
}

bool TController::KvCVerifyTimeout(uint32_t& waitResult) {
    KvGProtLog("[TController%d::KvCVerifyTimeout()]\r\n", nCNumber, kLogTrace);
    KvCOnEventChar();
    bCReplyComplete = IsVReplyComplete();
    if (bCReplyComplete) {
        waitResult = kWaitObject0;
        KvGProtLog("[TController::KvCVerifyTimeout(), WaitResult=WAIT_OBJECT_0]\r\n", kLogTrace);
    }
    KvGProtLog("[TController%d::KvCVerifyTimeout() done]\r\n", nCNumber, kLogTrace);
    return true;
}

void TController::KvCTerminateWaiting() {
    KvGProtLog("[TController%d::KvCTerminateWaiting()]\r\n", nCNumber, kLogTrace);
    if (!bCWaitingForReply) return;
    switch (ucCSignalMode.load()) {
    case 2:
        KvGProtLog("[Setting Event]\r\n", kLogTrace);
        if (hCEvent)
            hCEvent->Set();
        else
            ShowMessageBox(0, "SetEvent() failed", KvLoadText(106).c_str(), ZEL_MB_OKCANCEL);
        break;
    case 3:
        KvGProtLog("[Pulsing Event]\r\n", kLogTrace);
        if (hCEvent)
            hCEvent->Pulse();
        else
            ShowMessageBox(0, "PulseEvent() failed", KvLoadText(106).c_str(), ZEL_MB_OKCANCEL);
        break;
    case 7:
        KvGProtLog("[Setting TEvent]\r\n", kLogTrace);
        pCTEvent->Set();
        break;
    default:
        break;
    }
    // A wait through the wait-for-reply thread or a flag-polling wait is
    // released as well; the sender finds the reply incomplete.
    if (pCSerial) pCSerial->SignalReplyComplete();
    pCWakeup->Set();
    KvGProtLog("[TController%d::KvCTerminateWaiting done]\r\n", nCNumber, kLogTrace);
}

}  // namespace zel
