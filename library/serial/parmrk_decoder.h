// Decoding of the marks a terminal puts into the data when PARMRK is on:
//   \377 \377    a data byte 0xFF
//   \377 \0 \0   a break
//   \377 \0 c    the character c, received with a parity or framing error
// A mark may be split across reads; the decoder keeps the bytes of an
// unfinished mark until the rest arrives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zel {

struct DecodedInput {
    std::string data;     // data bytes, error characters included
    unsigned breaks = 0;  // breaks seen
    unsigned errors = 0;  // characters received with a parity or framing error
    bool sawEventChar = false;  // the event character is among the data bytes
};

class ParmrkDecoder {
public:
    // Decodes raw bytes and appends the result to out. eventChar: the data
    // byte whose arrival is reported in out.sawEventChar (-1: none).
    void Feed(const char* raw, size_t count, DecodedInput& out, int eventChar = -1);
    // Forgets an unfinished mark (after the input was flushed).
    void Reset() { state_ = kNormal; }
    // True while the bytes of an unfinished mark are held back.
    bool Pending() const { return state_ != kNormal; }

private:
    enum State : uint8_t { kNormal, kAfterFF, kAfterFF00 };
    State state_ = kNormal;
};

}  // namespace zel
