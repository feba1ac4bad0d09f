// The set-up calls of the exported interface.
#include "interface/library_frame.h"

#include "support/library_state.h"
#include "support/protocol_log.h"

#include <zelcomm/zelcomm.h>

#include <cstdio>
#include <exception>

using namespace zel;

namespace {

bool KnownType(int type) {
    switch (type) {
    case 0: case 1: case 2: case 4: case 8: case 16: case 32: case 64: return true;
    default: return false;
    }
}

int InitControllerImpl(int type, int axes, int port, int baudRate, ZelWindow window,
                       unsigned message, unsigned waitMode) {
    LibraryState& s = State();
    char line[512];
    if (ProtocolOn()) {
        std::snprintf(line, sizeof line, "[InitController(%d,%d,%d,%d,0x%08x)]\r\n", type, axes, port,
                      baudRate, waitMode);
        KvGProtLog(line, kLogTrace);
    }
    if (TestPointSet(kTpDiagnostics)) {
        RunProcessDiagnostics();
        return 0;
    }
    TController* c = Controller();
    if (!c) return 6;
    if (c->bCConnected) {
        // While connected only the wait mode, window and message change.
        if (!c->bCWaitingForReply) c->KvCSetWaitMode(waitMode);
        s.waitMode = waitMode;
    } else {
        if (type == 8 && axes != 1) return 7;
        if (!KnownType(type)) return 6;
        if (type != 0) c->KvCSelectModelByType(type);
        if (static_cast<unsigned>(port) > 8) return 4;
        if (port == 0) port = s.defaultPort;
        if (baudRate == 0) baudRate = s.defaultBaudRate;
        const int code = CodeOfBaudRate(baudRate);
        if (code < 0) return 9;
        c->ucCBaudCode = static_cast<uint8_t>(code);
        if (c->ucCType == kModelVarne && code != 4) return 9;
        c->nCPort = port - 1;
        c->KvCSetWaitMode(waitMode);
        s.waitMode = waitMode;
        c->sCName = "Controller" + std::to_string(port);
        c->pCAxes.clear();
        if (axes == 0) axes = s.defaultAxes;
        // Guard against absurd counts from a bad configuration: the axis list
        // is bounded so that a typo cannot exhaust memory.
        constexpr int kMaxAxes = 255;
        if (axes > kMaxAxes) axes = kMaxAxes;
        for (int i = 0; i < axes; ++i) c->pCAxes.push_back(std::make_unique<TAxis>());
    }
    c->hCWnd = window;
    c->unCMessage = message;
    if (ProtocolOn()) {
        std::snprintf(line, sizeof line, "[Controller=%.200s,Axes=%d,Port=COM%d,Baudrate=%d,0x%08x)]\r\n",
                      c->sCTypeName.c_str(), c->AxesCount(), c->nCPort + 1,
                      BaudRateOfCode(c->ucCBaudCode), waitMode);
        KvGProtLog(line, kLogTrace);
        KvGProtLog("[InitController() done]\r\n", kLogTrace);
    }
    return 0;
}

int OpenControllerImpl() {
    KvGProtLog("[OpenController()]\r\n", kLogTrace);
    if (TestPointSet(kTpOpenReturns)) return 0;
    TController* c = Controller();
    if (!c) return 6;
    c->nCLastError = 0;
    c->KvCConnect(0);
    KvGProtLog("[OpenController() done, Connected=%d, LastError=%d]\r\n", c->bCConnected ? 1 : 0,
               c->nCLastError.load(), kLogTrace);
    if (c->bCConnected) return 0;
    return c->nCLastError != 0 ? c->nCLastError.load() : 3;
}

int CloseControllerImpl() {
    KvGProtLog("[CloseController()]\r\n", kLogTrace);
    if (TestPointSet(kTpDiagnostics)) return 0;
    TController* c = Controller();
    if (!c) return 6;
    if (!c->bCConnected) return 3;
    if (c->unCWaitMode != State().waitMode) c->KvCSetWaitMode(State().waitMode);
    c->nCLastError = 0;
    c->KvCDisconnect(0);
    KvGProtLog("[CloseController() done, Error=0x%x]\r\n", c->nCLastError.load(), kLogTrace);
    return c->nCLastError;
}

}  // namespace

extern "C" ZELCOMM_API int OpenController(void) {
    try {
        return OpenControllerImpl();
    } catch (const std::exception&) {
        return ZEL_ERR_NOT_CONNECTED;
    }
}

extern "C" ZELCOMM_API int CloseController(void) {
    try {
        return CloseControllerImpl();
    } catch (const std::exception&) {
        return ZEL_ERR_NOT_CONNECTED;
    }
}

extern "C" ZELCOMM_API int InitController(int type, int axes, int port, int baudRate, ZelWindow window,
                                          unsigned message, unsigned waitMode) {
    try {
        return InitControllerImpl(type, axes, port, baudRate, window, message, waitMode);
    } catch (const std::exception&) {
        return ZEL_ERR_NO_MEMORY;
    }
}
