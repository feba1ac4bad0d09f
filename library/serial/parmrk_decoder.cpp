#include "serial/parmrk_decoder.h"

namespace zel {

namespace {
void PutData(DecodedInput& out, unsigned char c, int eventChar) {
    out.data.push_back(static_cast<char>(c));
    if (static_cast<int>(c) == eventChar) out.sawEventChar = true;
}
}  // namespace

void ParmrkDecoder::Feed(const char* raw, size_t count, DecodedInput& out, int eventChar) {
    if (!raw) return;
    for (size_t i = 0; i < count; ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        switch (state_) {
            case kNormal:
                if (c == 0xFF) state_ = kAfterFF;
                else PutData(out, c, eventChar);
                break;
            case kAfterFF:
                if (c == 0xFF) {
                    PutData(out, 0xFF, eventChar);
                    state_ = kNormal;
                } else if (c == 0x00) {
                    state_ = kAfterFF00;
                } else {
                    // Not a mark the terminal writes (it doubles every 0xFF):
                    // keep both bytes as data rather than lose one.
                    PutData(out, 0xFF, eventChar);
                    PutData(out, c, eventChar);
                    state_ = kNormal;
                }
                break;
            case kAfterFF00:
                if (c == 0x00) {
                    ++out.breaks;
                } else {
                    ++out.errors;
                    PutData(out, c, eventChar);
                }
                state_ = kNormal;
                break;
        }
    }
}

}  // namespace zel
