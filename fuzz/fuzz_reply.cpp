// Reply scanning and parsing: the input arrives in chunks on a line, the
// scanner completes the reply by line count, by expected text or chunk by
// chunk (whatever the signal mode says), then every scan code reads numbers
// from it into the axes and the version reply is saved.
//
// Input: [axes + 8 * signal mode] [flags] [user separator]
//        [axis index + 1 + 16 * expected lines]
//        then chunks separated by 0xFE; with flag 0x10 the first chunk is
//        the expected reply text.
#include "fuzz_support.h"

#include "serial/kv_serial.h"
#include "support/library_state.h"
#include "support/number_text.h"

using namespace zelfuzz;

namespace {

// A line whose receive queue holds the chunk delivered last.
class ChunkLine : public zel::TKvSerial {
public:
    using TKvSerial::TKvSerial;
    std::string ReceiveText(int& count) override {
        std::string text;
        text.swap(pending);
        count = static_cast<int>(text.size());
        return text;
    }
    bool HasEventThread() const override { return eventThread; }
    std::string pending;
    bool eventThread = true;
};

const unsigned kWaitWords[] = {0x20, 0x40, 0x80, 0x0, 0x200, 0x400, 0x4000, 0x80000};

struct Fixture {
    Fixture() {
        Prepare();
        controller = std::make_unique<zel::TController>(0);
        auto owned = std::make_unique<ChunkLine>(controller.get());
        line = owned.get();
        controller->pCSerial = std::move(owned);
    }
    std::unique_ptr<zel::TController> controller;
    ChunkLine* line = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture f;
    zel::TController& c = *f.controller;
    Input in(data, size);
    const uint8_t b0 = in.Byte(), flags = in.Byte(), user = in.Byte(), b3 = in.Byte();

    zel::ResetLibraryState();
    zel::LibraryState& s = zel::State();
    s.rawReply = (flags & 1) != 0;
    static const int kModes[] = {0, 2, 3, 2};
    s.decSepMode = kModes[(flags >> 1) & 3];
    s.decSepChar = static_cast<char>(user);
    f.line->eventThread = (flags & 8) == 0;

    ResetAxes(c, (b0 & 7) % 5);
    c.nCPosDecimals = c.nCLimitDecimals = 5;
    c.KvCSetWaitMode(kWaitWords[(b0 >> 3) & 7]);
    const int axisIndex = static_cast<int>((b3 & 0x0F) % 6) - 1;

    std::vector<std::string> chunks = Split(in.Rest(), '\xFE');
    std::string expected;
    if ((flags & 0x10) && !chunks.empty()) {
        expected = chunks.front();
        chunks.erase(chunks.begin());
    }

    // Awaiting a reply as command execution does.
    {
        std::lock_guard<std::mutex> lock(c.mCReplyLock);
        c.sCReply.clear();
        c.sCRawReply.clear();
    }
    c.pCSerial->SetExpectedReply(expected);
    c.pCSerial->nSTExpectedLines = expected.empty() ? (b3 >> 4) : -1;
    c.bCReplyComplete = false;
    c.bCWaitingForReply = true;
    size_t delivered = 0;
    for (const std::string& chunk : chunks) {
        f.line->pending = chunk;
        delivered += chunk.size();
        c.KvCOnEventChar();
        // The reply holds what arrived, cut at most at the expected text.
        FUZZ_CHECK(c.Reply().size() <= delivered);
    }
    if (c.bCReplyComplete) FUZZ_CHECK(!c.bCWaitingForReply);

    // The finished reply as command execution leaves it.
    {
        std::lock_guard<std::mutex> lock(c.mCReplyLock);
        c.sCRawReply = c.sCReply;
        zel::KvTrimText(c.sCReply);
        zel::KvSetDecSep(c.sCReply, s.decSepMode, s.decSepChar);
    }
    for (int code : {3, 8, 12, 25, 65, static_cast<int>(b3)}) {
        if (!c.KvCScanReply(code, axisIndex)) continue;
        // Stored tokens come from 256-character work buffers.
        for (const auto& axis : c.pCAxes) {
            FUZZ_CHECK(axis->sAPos.size() <= 255);
            FUZZ_CHECK(axis->sALowLimit.size() <= 255);
            FUZZ_CHECK(axis->sAHighLimit.size() <= 255);
            // Modes read for all axes are 0..2; anything else reads as 0.
            if (code == 8) FUZZ_CHECK(axis->ucAMode >= 0 && axis->ucAMode <= 2);
        }
    }
    c.KvSaveReply(1, axisIndex);
    return 0;
}
