// Turning the wait-mode word into the signal mode, the event kind and the
// serial-line mode.
#include "engine/controller.h"
#include "platform/zel_paths.h"
#include "platform/zel_profile.h"
#include "serial/kv_serial.h"
#include "support/protocol_log.h"

namespace zel {

namespace {
// The default of "SerialMode": serial mode 4, signal mode 3, event kind 0x800.
constexpr unsigned kDefaultSerialMode = 0x904;

uint8_t SignalModeOf(unsigned word) {
    struct Rule { unsigned bit; uint8_t mode; };
    static const Rule kRules[] = {{0x20, 0}, {0x40, 1}, {0x80, 2}, {0x200, 4},
                                  {0x400, 5}, {0x4000, 6}, {0x80000, 7}};
    for (const Rule& rule : kRules)
        if (word & rule.bit) return rule.mode;
    return 3;
}
}  // namespace

void TController::KvCSetWaitMode(unsigned word) {
    unCWaitMode = word;
    KvGProtLog("[TController::KvCSetWaitMode (%.08x)]\r\n", static_cast<int>(word), kLogTrace);
    if (word == 0xFFFFFFFFu) {
        // A missing file gives the default; a file that exists but cannot be
        // read gives 0.
        const std::string& path = ConfigPath();
        Profile profile = Profile::Load(path);
        word = (profile.Loaded() || !FileExists(path))
                   ? static_cast<unsigned>(
                         profile.ReadInteger("Startup", "SerialMode", static_cast<int>(kDefaultSerialMode)))
                   : 0u;
        KvGProtLog("[TController::KvCSetWaitMode(), Ini=%.08x]\r\n", static_cast<int>(word), kLogTrace);
    }
    const unsigned lineBits = 1u | 2u | 4u | 8u | 0x10u | 0x100000u;
    const unsigned lineMode = (word & lineBits) ? (word & 0x10001Eu) : 8u;
    const uint8_t signalMode = SignalModeOf(word);
    ucCSignalMode = signalMode;
    unCEventKind = ((word & (0x800u | 0x2000u)) && signalMode != 7) ? (word & 0x3800u) : 0x800u;
    if (pCSerial) {
        pCSerial->unLineMode = lineMode;
        pCSerial->unWaitMode = word;
    }
}

}  // namespace zel
