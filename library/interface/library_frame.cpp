#include "interface/library_frame.h"

#include "support/library_state.h"
#include "support/protocol_log.h"

namespace zel {

InterfaceState& Interface() {
    static InterfaceState state;
    return state;
}

int ZelReturn(int code, int callSite) {
    KvGProtLog("[ZelComm returning %d (0.%d)]\r\n", code, callSite, kLogTrace);
    return code;
}

bool KvReadyToExecuteCommand(int allowedModels, int axis, int callSite, bool checkModel) {
    InterfaceState& g = Interface();
    KvGProtLog("[KvReadyToExecuteCommand(%d), 0.%d]\r\n", axis, callSite, kLogTrace);
    g.lastApiError = 0;
    TController* c = g.controller.get();
    if (!c) {
        g.lastApiError = 6;
        return false;
    }
    if (checkModel) {
        const unsigned model = c->ucCType;
        if (model > 30 || !((static_cast<unsigned>(allowedModels) >> model) & 1u)) g.lastApiError = 23;
    }
    if (!c->bCConnected) g.lastApiError = 3;
    if (c->bCWaitingForReply) g.lastApiError = 10;
    if (c->SingleAxisCommands() && (axis < 1 || axis > c->AxesCount())) g.lastApiError = 8;
    return g.lastApiError == 0;
}

std::string DecodeConnectText(const std::string& text) {
    // Only the first 256 characters are decoded; the rest is kept as written.
    constexpr size_t kDecodedPart = 256;
    const size_t limit = text.size() < kDecodedPart ? text.size() : kDecodedPart;
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < limit) {
        if (text[i] == '[') {
            const size_t close = text.find(']', i + 1);
            // A code is at least two characters long ("[09]"), made of decimal
            // digits, names a character 1..255 and closes within the decoded part.
            if (close != std::string::npos && close < limit && close - i - 1 >= 2) {
                bool digits = true;
                long code = 0;
                for (size_t k = i + 1; k < close; ++k) {
                    const char ch = text[k];
                    if (ch < '0' || ch > '9' || code > 255) {
                        digits = false;
                        break;
                    }
                    code = code * 10 + (ch - '0');
                }
                if (digits && code >= 1 && code <= 255) {
                    out += static_cast<char>(code);
                    i = close + 1;
                    continue;
                }
            }
        }
        out += text[i];
        ++i;
    }
    out.append(text, limit, std::string::npos);
    return out;
}

}  // namespace zel
