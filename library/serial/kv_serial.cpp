#include "serial/kv_serial.h"

#include "engine/controller.h"
#include "serial/port_enumeration.h"
#include "support/library_state.h"
#include "support/protocol_log.h"

#include <atomic>

namespace zel {

namespace {
std::atomic<bool> gDefaultXonXoff{true};
}  // namespace

void SetDefaultXonXoff(bool on) { gDefaultXonXoff = on; }
bool DefaultXonXoff() { return gDefaultXonXoff; }

TKvSerial::TKvSerial(TController* owner) : pOwner(owner) {
    for (int i = 0; i < kMaxPorts; ++i)
        if (PortPresentFlag(i)) pPortNames.push_back("COM" + std::to_string(i + 1));
    nPort = pPortNames.empty() ? 0 : 1;
    bXonXoff = DefaultXonXoff();
    receiveBuffer.assign(1024, '\0');
}

TKvSerial::~TKvSerial() {
    // Virtual calls from a destructor reach this class's own CloseIt, which
    // is what must run here: the derived parts are already gone.
    TKvSerial::CloseIt();
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
    nPort = (n > static_cast<int>(pPortNames.size())) ? 1 : n;
}

bool TKvSerial::OpenIt() {
    if (TestPointSet(kTpOpenFails)) return false;
    if (bActive) return false;
    if (pOwner && pOwner->nCInterface == kInterfaceDemo) {
        // Demo mode opens no device, so it runs on machines without any
        // serial port: the object behaves as an open port with nothing
        // attached.
        if (TestPointSet(kTpOpenFailsAfterName)) return false;
        bDemoOpen = true;
        unEventMask = 0xC2;
        bActive = true;
        return true;
    }
    if (nPort <= 0) return false;
    if (TestPointSet(kTpOpenFailsAfterName)) return false;
    KvGProtLog("[TKvSerial::OpenIt(), no serial transport available for COM%d]\r\n", nPort,
               kLogError);
    return false;
}

void TKvSerial::CloseIt() {
    KvGProtLog("[TKvSerial::CloseIt]\r\n", kLogTrace);
    if (bActive) {
        bDemoOpen = false;
        bActive = false;
    }
    KvGProtLog("[TKvSerial::CloseIt done]\r\n", kLogTrace);
}

}  // namespace zel
