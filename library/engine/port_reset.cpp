// Draining the line after a failure, and aborting a command with CTRL+C.
#include "engine/controller.h"

#include "platform/zel_clock.h"
#include "serial/kv_serial.h"
#include "support/protocol_log.h"

namespace zel {

bool TController::KvCResetPort(int count) {
    KvGProtLog("[TController%d::KvCResetPort(%d)]\r\n", nCNumber, count, kLogTrace);
    if (!pCSerial || !pCSerial->bActive) return true;
    if (bCWaitingForReply) KvCTerminateWaiting();
    if (count < 1) count = 1;
    // Give characters in flight time to arrive before the first drain.
    SleepMs(100);
    for (int round = 0; round < count; ++round) {
        KvGProtLog("[ResetPort %d:]\r\n", round, kLogTrace);
        const std::string drained = KvCReadReceived();
        pCSerial->nSTExpectedLines = 0;
        KvGProtLog("[In (%d)]\r\n%s", static_cast<int>(drained.size()), drained.c_str(), kLogData);
        unsigned errorWord = 0;
        KvCheckCommError(errorWord);
        pCSerial->Purge();
    }
    {
        std::lock_guard<std::mutex> lock(mCReplyLock);
        sCReply.clear();
    }
    KvGProtLog("[TController%d::KvCResetPort() done]\r\n", nCNumber, kLogTrace);
    return true;
}

void TController::KvCBreak() {
    KvGProtLog("[TController%d::KvCBreak()]\r\n", nCNumber, kLogTrace);
    bCBreak = true;
    pCWakeup->Set();
    if (!pCSerial || !pCSerial->TransmitCommChar('\x03')) nCLastError = 18;
    // Window timers do not exist here; a recorded timer id is simply dropped.
    unCTimerId = 0;
    KvCResetPort(1);
    bCWaitingForReply = false;
    bCTimeoutArmed = false;
    KvGProtLog("[TController%d::KvCBreak() done]\r\n", nCNumber, kLogTrace);
}

}  // namespace zel
