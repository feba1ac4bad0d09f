// What the fuzz targets share: reading the leading control bytes of an
// input, a quiet message-box handler, building controllers, and a check
// that aborts (so libFuzzer reports it) when an invariant does not hold.
#pragma once

#include "engine/controller.h"
#include "platform/zel_messages.h"
#include "support/protocol_log.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

// Aborts with a message: libFuzzer saves the input as a crash.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace zelfuzz {

// Reads an input front to back: control bytes first, the rest as text.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    // The next byte, 0 once the input is used up.
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Everything not read yet.
    std::string Rest() {
        std::string rest(reinterpret_cast<const char*>(data_) + at_, size_ - at_);
        at_ = size_;
        return rest;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Pieces of text between separator bytes (empty pieces included).
inline std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

// Message boxes answer `gAnswer` silently instead of writing to stderr.
inline int gAnswer = 0;
inline int QuietBox(void*, ZelWindow, const char*, const char*, unsigned) { return gAnswer; }

// Every target runs with silent message boxes and with the diagnostic
// protocol on for every line class: the lines are formatted (hostile texts
// go through the log's bounds) but, with output flag 2, written nowhere.
inline void Prepare() {
    zel::SetMessageBoxHandler(QuietBox, nullptr);
    constexpr int kEveryClass = zel::kLogEnd | zel::kLogData | zel::kLogDefault16 | zel::kLogError |
                                zel::kLogTrace | zel::kLogTickPrefix;
    if (!zel::ProtocolOn()) zel::KvDiagProtSetupFile(true, kEveryClass, 2);
}

// The controller types of InitController, by index (wraps).
inline int TypeBit(unsigned index) {
    static const int kTypes[] = {ZEL_TYPE_DEFAULT, ZEL_TYPE_VARNE_PC, ZEL_TYPE_PRUSK, ZEL_TYPE_FISTRA,
                                 ZEL_TYPE_WENDALO, ZEL_TYPE_JOVEK,    ZEL_TYPE_ULMETA};
    return kTypes[index % (sizeof kTypes / sizeof kTypes[0])];
}

// Gives the controller `axes` fresh axis records.
inline void ResetAxes(zel::TController& c, int axes) {
    c.pCAxes.clear();
    for (int i = 0; i < axes; ++i) c.pCAxes.push_back(std::make_unique<zel::TAxis>());
}

inline std::unique_ptr<zel::TController> MakeController(int typeBit, int axes) {
    auto c = std::make_unique<zel::TController>(0);
    c->KvCSelectModelByType(typeBit);
    ResetAxes(*c, axes);
    return c;
}

}  // namespace zelfuzz
