// The identify check and the switch words of the identify reply, for the
// multi-axis models (Default, Varne-PC, Ulmeta) and a single-axis model.
//
// Input: [model] [axes + 8 * (axis index + 1) + 128 * "no" to the model
//        question] then the identify reply.
#include "fuzz_support.h"

#include "support/library_state.h"

using namespace zelfuzz;

namespace {

std::string WithoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int kModels[] = {ZEL_TYPE_DEFAULT, ZEL_TYPE_VARNE_PC, ZEL_TYPE_ULMETA, ZEL_TYPE_PRUSK};
    static std::unique_ptr<zel::TController> controllers[4];
    if (!controllers[0]) {
        Prepare();
        for (int i = 0; i < 4; ++i) controllers[i] = MakeController(kModels[i], 0);
    }
    Input in(data, size);
    const uint8_t model = in.Byte(), b1 = in.Byte();
    zel::TController& c = *controllers[model % 4];
    const int axes = (b1 & 7) % 5;
    const int axisIndex = static_cast<int>(((b1 >> 3) & 0x0F) % 6) - 1;
    gAnswer = (b1 & 0x80) ? ZEL_IDNO : ZEL_IDYES;
    ResetAxes(c, axes);
    c.sCIdentify.clear();
    c.ucCBaudCode = 4;

    const std::string original = in.Rest();
    std::string text = original;
    const int verdict = c.KvCCheckIdentifyString(text, axisIndex);
    FUZZ_CHECK(verdict == -1 || verdict == 0 || verdict == 1);
    // Only the line end is removed from the text handed in.
    FUZZ_CHECK(text == WithoutLineEnd(original));
    // An accepted identify is at most 64 characters.
    if (verdict == 1) FUZZ_CHECK(!text.empty() && text.size() <= 64);
    if (verdict == 1 && !c.SingleAxisCommands()) FUZZ_CHECK(c.sCIdentify == text);

    c.ProcessDIPSettings(original);
    c.ProcessDIPSettings(text);
    // The switch word's baud setting maps into the baud-code table.
    FUZZ_CHECK(zel::BaudRateOfCode(c.ucCBaudCode) != 0);
    return 0;
}
