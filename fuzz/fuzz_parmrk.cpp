// The PARMRK decoder: the input after its first byte is decoded at once
// and split in two reads at a position chosen by the first byte (and byte
// by byte); all three must give the same data, counts and held-back state.
#include "fuzz_support.h"

#include "serial/parmrk_decoder.h"

using namespace zelfuzz;

namespace {

struct Result {
    zel::DecodedInput out;
    bool pending = false;
};

bool Same(const Result& a, const Result& b) {
    return a.out.data == b.out.data && a.out.breaks == b.out.breaks && a.out.errors == b.out.errors &&
           a.out.sawEventChar == b.out.sawEventChar && a.pending == b.pending;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t first = in.Byte();
    const std::string raw = in.Rest();
    const int eventChar = (first & 0x80) ? -1 : '\n';

    Result whole;
    {
        zel::ParmrkDecoder decoder;
        decoder.Feed(raw.data(), raw.size(), whole.out, eventChar);
        whole.pending = decoder.Pending();
    }
    Result split;
    {
        const size_t at = raw.empty() ? 0 : first % (raw.size() + 1);
        zel::ParmrkDecoder decoder;
        decoder.Feed(raw.data(), at, split.out, eventChar);
        decoder.Feed(raw.data() + at, raw.size() - at, split.out, eventChar);
        split.pending = decoder.Pending();
    }
    Result bytes;
    {
        zel::ParmrkDecoder decoder;
        for (char c : raw) decoder.Feed(&c, 1, bytes.out, eventChar);
        bytes.pending = decoder.Pending();
    }
    FUZZ_CHECK(Same(whole, split));
    FUZZ_CHECK(Same(whole, bytes));
    // Marks only ever shrink the data.
    FUZZ_CHECK(whole.out.data.size() <= raw.size());
    if (raw.find('\xFF') == std::string::npos) FUZZ_CHECK(whole.out.data == raw && !whole.pending);
    return 0;
}
