// The demo-mode simulator: a session of commands sent to a simulated
// multi-axis or single-axis controller with 0..4 axes, on a virtual clock
// (moves, calibrations and transfer times cost nothing), as command
// execution frames them.
//
// Input: [axes|command set] [baud code] [4 bytes: clock start]
//        then commands separated by zero bytes (a command never holds
//        one: execution cuts it there).
#include "fuzz_support.h"

#include "engine/demo_simulator_internal.h"
#include "platform/zel_clock.h"
#include "support/library_state.h"

#include <cmath>

using namespace zelfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared = (Prepare(), true);
    (void)prepared;
    Input in(data, size);
    const uint8_t b0 = in.Byte(), baud = in.Byte();
    uint32_t start = 0;
    for (int i = 0; i < 4; ++i) start = (start << 8) | in.Byte();
    const bool single = (b0 & 0x08) != 0;
    const int axes = (b0 & 7) % 5;

    zel::VirtualClock clock(start);
    zel::ScopedClock scoped(clock);
    zel::ResetLibraryState();
    zel::demo::SetDemoErrorPending(false);
    auto c = MakeController(single ? ZEL_TYPE_PRUSK : ZEL_TYPE_DEFAULT, axes);
    c->nCInterface = zel::kInterfaceDemo;
    c->ucCBaudCode = baud;

    size_t commands = 0;
    for (std::string line : Split(in.Rest(), '\0')) {
        if (++commands > 64) break;
        // Framed as command execution frames it.
        if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) line += "\r\n";
        c->KvCProcessDemoCommand(line, static_cast<int>(b0 >> 4));
        FUZZ_CHECK(c->Reply().size() <= zel::demo::kMaxReplyLength);
        for (const auto& axis : c->pCAxes) {
            FUZZ_CHECK(std::isfinite(axis->dAPos));
            if (axis->bAMoving) FUZZ_CHECK(std::isfinite(axis->dATargetPos));
        }
    }
    return 0;
}
