// Reading and reporting the serial line's error state.
#include "engine/controller.h"

#include "platform/zel_messages.h"
#include "platform/zel_system.h"
#include "serial/kv_serial.h"
#include "support/error_report.h"
#include "support/protocol_log.h"

#include <cstdio>

namespace zel {

namespace {

struct LineError {
    unsigned value;
    const char* name;
    const char* text;
};

const LineError kLineErrors[] = {
    {0x1, "CE_RXOVER", "Receive buffer overflow"},
    {0x2, "CE_OVERRUN", "Received character was overwritten and is lost"},
    {0x4, "CE_RXPARITY", "Parity error"},
    {0x8, "CE_FRAME", "Framing error"},
    {0x10, "CE_BREAK", "Break condition detected"},
    {0x100, "CE_TXFULL", "Transmit buffer full"},
    {0x200, "CE_PTO", "Timeout"},
    {0x400, "CE_IOE", "Parallel port input/output error"},
    {0x800, "CE_DNS", "Parallel port not selected"},
    {0x1000, "CE_OOP", "Paper error"},
    {0x8000, "CE_MODE", "Mode is not supported"},
};

// Place numbers of the reports below.
constexpr int kPlaceBreakPosted = 2029;
constexpr int kPlaceLineErrorBox = 2030;

}  // namespace

bool TController::KvCheckCommError(unsigned& errorWord) {
    KvGProtLog("[TController%d::KvCheckCommError()]\r\n", nCNumber, kLogTrace);
    errorWord = 0;
    int in = 0, out = 0;
    if (!pCSerial || !pCSerial->DataInBuffer(in, out, errorWord)) {
        const int error = LastError();
        char text[300];
        KvShowLastError("GetLastError() returned: ", text, sizeof text);
        KvGProtLog("[TController::KvCheckCommError(), ClearCommError failed, Error %d, %s]\r\n", error, text,
                   kLogError);
        SetLastError(error);
        nCLastError = error;
        return false;
    }
    for (const LineError& e : kLineErrors) {
        if (errorWord != e.value) continue;
        char line[128];
        std::snprintf(line, sizeof line, "[TController::KvCheckCommError(), ClearCommError returned %s]\r\n",
                      e.name);
        KvGProtLog(line, kLogError);
        KvGProtLog("[TController::KvCheckCommError() ClearCommError: %d]\r\n", static_cast<int>(errorWord),
                   kLogTrace);
        if (e.value == 0x10) {
            if (!PostMessage(hCWnd, ZEL_MSG_BREAK_SENT, nCNumber, 0))
                KvGProtLog("[PostMessage-Error %d.%d]\r\n", static_cast<int>(kModuleEngine), kPlaceBreakPosted,
                           kLogError);
        } else if (e.value != 0x8 && e.value != 0x2) {
            char message[128];
            std::snprintf(message, sizeof message, "%s (%d)", e.text, static_cast<int>(errorWord));
            ErrorMessageBox(0, message, KvLoadText(100).c_str(), kModuleEngine, kPlaceLineErrorBox,
                            ZEL_MB_ICONERROR | ZEL_MB_OK);
        }
        return false;
    }
    KvGProtLog("[TController::KvCheckCommError(), ClearCommError returned 0x%8x]\r\n", static_cast<int>(errorWord),
               kLogTrace);
    KvGProtLog("[TController::KvCheckCommError() done, returning true]\r\n", kLogTrace);
    return true;
}

}  // namespace zel
