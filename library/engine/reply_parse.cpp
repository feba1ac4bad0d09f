// Reply parsing: numeric tokens of a reply stored into axis values by scan
// code, and the version reply read while connecting.
#include "engine/controller.h"

#include "platform/zel_system.h"
#include "support/library_state.h"
#include "support/number_parse.h"
#include "support/number_text.h"
#include "support/protocol_log.h"

#include <cstdio>
#include <vector>

namespace zel {

namespace {

// Tokens are copied into 256-character work buffers: longer ones fail.
constexpr size_t kMaxTokenLength = 255;

struct ScannedToken {
    std::string raw;
    std::string converted;
    double value = 0;
};

int ExpectedValues(int scanCode, int axes) {
    switch (scanCode) {
    case 3: return 2 * axes;
    case 8:
    case 25: return axes;
    case 12: return 1;
    case 65: return 2;
    default: return -1;
    }
}

}  // namespace

bool TController::KvCScanReply(int scanCode, int axisIndex) {
    KvGProtLog("[TController%d::KvCScanReply()]\r\n", nCNumber, kLogTrace);
    const LibraryState& s = State();
    const bool raw = s.rawReply || s.decSepMode == 0;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(mCReplyLock);
        text = raw ? sCRawReply : sCReply;
    }
    if (ProtocolOn()) {
        char line[512];
        std::snprintf(line, sizeof line, "[TController%d::KvCScanReply(%.460s,%d,%d)]\r\n", nCNumber, text.c_str(),
                      scanCode, axisIndex);
        KvGProtLog(line, kLogTrace);
    }
    const int expected = ExpectedValues(scanCode, AxesCount());
    const char system = SystemDecimalSeparator();
    const char user = s.decSepChar;

    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
    for (char& ch : text)
        if (ch == '\r' || ch == '\n') ch = ' ';

    bool ok = expected >= 0;
    bool axisOk = true;
    if (scanCode == 12 || scanCode == 65) axisOk = axisIndex >= 0 && axisIndex < AxesCount();
    if (!axisOk) ok = false;

    std::vector<ScannedToken> tokens;
    int precision = -1;
    size_t i = 0;
    while (ok && static_cast<int>(tokens.size()) < expected && i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        const size_t start = i;
        while (i < text.size() && text[i] != ' ') ++i;
        if (i == start) break;
        ScannedToken token;
        token.raw.assign(text, start, i - start);
        if (token.raw.size() > kMaxTokenLength) {
            ok = false;
            break;
        }
        token.converted = token.raw;
        int separatorAt = -1;
        const int lastIndex = static_cast<int>(token.raw.size()) - 1;
        for (int k = 0; k < lastIndex; ++k) {
            const char ch = token.raw[static_cast<size_t>(k)];
            if (ch == '.' || ch == system || ch == user) separatorAt = k;
            if (ch == '.') token.converted[static_cast<size_t>(k)] = system;
        }
        if (token.raw[static_cast<size_t>(lastIndex)] == '.') token.converted[static_cast<size_t>(lastIndex)] = system;
        if (separatorAt >= 0) precision = lastIndex - separatorAt;
        KvSetDecSep(token.converted, 2, user);
        if (!TextToDouble(token.converted, token.value, system)) {
            ok = false;
            break;
        }
        tokens.push_back(std::move(token));
    }
    if (ok && static_cast<int>(tokens.size()) < expected) ok = false;

    if (ok) {
        auto stored = [&](const ScannedToken& t) { return raw ? t.raw : t.converted; };
        switch (scanCode) {
        case 3:
            for (int a = 0; a < AxesCount(); ++a) {
                TAxis& axis = *pCAxes[static_cast<size_t>(a)];
                const ScannedToken& low = tokens[static_cast<size_t>(2 * a)];
                const ScannedToken& high = tokens[static_cast<size_t>(2 * a + 1)];
                axis.dALowLimit = low.value;
                axis.sALowLimit = stored(low);
                axis.dAHighLimit = high.value;
                axis.sAHighLimit = stored(high);
            }
            if (precision >= 0) nCLimitDecimals = precision;
            break;
        case 8:
            for (int a = 0; a < AxesCount(); ++a) {
                double v = tokens[static_cast<size_t>(a)].value;
                if (v < 0 || v > 2) v = 0;
                pCAxes[static_cast<size_t>(a)]->ucAMode = static_cast<int8_t>(TruncateToInt(v));
            }
            break;
        case 12:
            pCAxes[static_cast<size_t>(axisIndex)]->ucAMode =
                static_cast<int8_t>(TruncateToInt(tokens[0].value) & 0xFF);
            break;
        case 25:
            for (int a = 0; a < AxesCount(); ++a) {
                pCAxes[static_cast<size_t>(a)]->dAPos = tokens[static_cast<size_t>(a)].value;
                pCAxes[static_cast<size_t>(a)]->sAPos = stored(tokens[static_cast<size_t>(a)]);
            }
            if (precision >= 0) nCPosDecimals = precision;
            break;
        case 65: {
            TAxis& axis = *pCAxes[static_cast<size_t>(axisIndex)];
            axis.dALowLimit = tokens[0].value;
            axis.sALowLimit = stored(tokens[0]);
            axis.dAHighLimit = tokens[1].value;
            axis.sAHighLimit = stored(tokens[1]);
            if (precision >= 0) nCLimitDecimals = precision;
            break;
        }
        default:
            ok = false;
            break;
        }
    }
    KvGProtLog("[TController%d::KvCScanReply() done]\r\n", nCNumber, kLogTrace);
    return ok;
}

bool TController::KvSaveReply(int replyKind, int axisIndex) {
    KvGProtLog("[TController%d::KvCSaveReply(%d,%d)]\r\n", nCNumber, replyKind, axisIndex, kLogTrace);
    if (axisIndex < 0 || axisIndex >= AxesCount()) {
        KvGProtLog("[KvSaveReply(%d,%d) done, Invalid Axis]\r\n", replyKind, axisIndex, kLogError);
        return false;
    }
    double version = dCVersion;
    if (TextToDouble(Reply(), version, State().decSepChar)) dCVersion = version;
    if (SingleAxisCommands()) pCAxes[static_cast<size_t>(axisIndex)]->dAVersion = dCVersion;
    double libraryVersion = dCVersion;
    if ((SingleAxisCommands() || ucCType == kModelVarne) && dCVersion < 1.0) libraryVersion = 1.0;
    State().libraryVersion = libraryVersion;
    KvGProtLog("[TController%d::KvCSaveReply() done]\r\n", nCNumber, kLogTrace);
    return true;
}

}  // namespace zel
