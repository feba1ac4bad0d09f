// Library-wide settings shared by every layer: the test-point word, the
// terminating flag, the decimal-separator mode and the defaults read from
// the configuration at load.
#pragma once

#include <atomic>

namespace zel {

// Test-point bits (configuration key "TestPointMode").
enum TestPoint : unsigned {
    kTpSetupResult = 0x1,
    kTpDiagnostics = 0x2,
    kTpOpenReturns = 0x4,
    kTpConnectFails = 0x8,
    kTpConnectFailsAfterReset = 0x10,
    kTpSetupFails = 0x20,
    kTpSerialSetupBeforePort = 0x40,
    kTpSerialSetupAfterPort = 0x80,
    kTpSetActiveNothing = 0x100,
    kTpOpenFails = 0x200,
    kTpOpenFailsAfterName = 0x400,
    kTpOpenNoThread = 0x800,
    kTpThreadKept = 0x1000,
};

struct LibraryState {
    std::atomic<unsigned> testPoints{0};
    std::atomic<bool> terminating{false};
    // Decimal separator conversion of replies: mode 0 none, 2 system, 3 user.
    std::atomic<int> decSepMode{2};
    std::atomic<char> decSepChar{'.'};
    std::atomic<bool> rawReply{false};
    std::atomic<unsigned> waitMode{0};
    // The controller version last read while connecting; command validation
    // compares version conditions against it.
    std::atomic<double> libraryVersion{0.0};
    int defaultPort = 2;
    int defaultBaudRate = 9600;
    int defaultAxes = 3;
};

LibraryState& State();
inline bool TestPointSet(unsigned bit) { return (State().testPoints.load() & bit) != 0; }

// Back to the values of a freshly loaded library (load and tests).
void ResetLibraryState();

}  // namespace zel
