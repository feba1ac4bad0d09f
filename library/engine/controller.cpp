#include "engine/controller.h"

#include "serial/kv_serial.h"
#include "support/error_report.h"
#include "support/protocol_log.h"
#include "validation/kv_val.h"

namespace zel {

namespace {
constexpr int kBaudRates[] = {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200, 600, 300};
}  // namespace

int BaudRateOfCode(int code) {
    if (code < 0 || code >= static_cast<int>(sizeof kBaudRates / sizeof kBaudRates[0])) return 0;
    return kBaudRates[code];
}

int CodeOfBaudRate(int baudRate) {
    for (int code = 0; code < static_cast<int>(sizeof kBaudRates / sizeof kBaudRates[0]); ++code)
        if (kBaudRates[code] == baudRate) return code;
    return -1;
}

TController::TController(int number) {
    KvGProtLog("[TController::TController(%d,%d)]\r\n", number, 0, kLogTrace);
    nCNumber = number;
    try {
        hCEvent = std::make_unique<Event>(true, false);
    } catch (...) {
        // Without the event the controller still works in the flag-polling
        // modes; waits on the event then fail.
        KvShowLastError("CreateEvent()-Error", nullptr);
    }
    pCTEvent = std::make_unique<Event>(true, false);
    pCWakeup = std::make_unique<Event>(true, false);
    pCSerial = std::make_unique<TKvSerial>(this);
    pCSerial->ucEventChar = 10;
    ZelClearData();
    pCLastCommand = std::make_unique<TCommand>();
    KvGProtLog("[TController%d::TController() done]\r\n", nCNumber, kLogTrace);
}

TController::~TController() {
    KvGProtLog("[TController%d::~TController()]\r\n", nCNumber, kLogTrace);
    // Stop the port's threads while the serial object is still reachable
    // through pCSerial: the event thread reads it until it has ended.
    if (pCSerial) pCSerial->CloseIt();
    pCSerial.reset();
    pCLastCommand.reset();
    pCAxes.clear();
    pCTEvent.reset();
    hCEvent.reset();
    KvGProtLog("[TController%d::~TController() done]\r\n", nCNumber, kLogTrace);
}

void TController::ZelClearData() {
    KvGProtLog("[TController%d::ZelClearData()]\r\n", nCNumber, kLogTrace);
    bCConnected = false;
    bCWaitingForReply = false;
    KvGProtLog("[ZelClearData: bCWaitingForReply=false]\r\n", kLogTrace);
    KvGProtLog("[ZelClearData: bCWaitForStatusOK=true]\r\n", kLogTrace);
    bCTimeoutArmed = false;
    dwCDeadline = 0;
    for (auto& axis : pCAxes) {
        axis->dAPos = 0;
        axis->dALowLimit = 0;
        axis->dAHighLimit = 0;
        axis->sAPos.clear();
        axis->sALowLimit.clear();
        axis->sAHighLimit.clear();
    }
    KvGProtLog("[TController%d::ZelClearData done]\r\n", nCNumber, kLogTrace);
}

std::string TController::Reply() {
    std::lock_guard<std::mutex> lock(mCReplyLock);
    return sCReply;
}

std::string TController::RawReply() {
    std::lock_guard<std::mutex> lock(mCReplyLock);
    return sCRawReply;
}

bool TController::IsVReplyComplete() {
    KvGProtLog("[TController%d::IsVReplyComplete()]\r\n", nCNumber, kLogTrace);
    bool complete = bCReplyComplete.load();
    KvGProtLog("[TController%d::IsVReplyComplete() done, returning %d]\r\n", nCNumber,
               complete ? 1 : 0, kLogTrace);
    return complete;
}

}  // namespace zel
