#include "interface/typed_call_support.h"

#include "platform/zel_system.h"
#include "support/library_state.h"
#include "support/number_parse.h"
#include "support/number_text.h"
#include "support/protocol_log.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

namespace zel {

namespace {

// Significant digits of the fixed notation handed out.
constexpr int kSignificantDigits = 12;
constexpr int kMaxDecimals = 18;

// The shortest decimal digits that give `value` back, and the power of ten
// of the first one: value = 0.d1d2d3... * 10^(exponent + 1). Zero gives "0".
void ShortestDigits(double value, std::string& digits, int& exponent) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific);
    digits.clear();
    exponent = 0;
    const char* p = buffer;
    for (; p < result.ptr && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;
    if (p < result.ptr && *p == 'e') {
        int parsed = 0;
        std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), result.ptr, parsed);
        exponent = parsed;
    }
    if (digits.find_first_not_of('0') == std::string::npos) {
        digits = "0";
        exponent = 0;
    }
}

// Adds one unit in the last place of a digit string; true when a carry
// left the front (the string then begins with the new '1').
bool IncrementDigits(std::string& digits) {
    for (size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return false;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
    return true;
}

std::string ScientificText(bool negative, std::string digits, int exponent, char separator) {
    if (digits.size() > static_cast<size_t>(kSignificantDigits)) {
        const bool up = digits[kSignificantDigits] >= '5';
        digits.resize(kSignificantDigits);
        if (up && IncrementDigits(digits)) {
            digits.pop_back();
            ++exponent;
        }
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string out = negative ? "-" : "";
    out += digits[0];
    if (digits.size() > 1) {
        out += separator;
        out.append(digits, 1, std::string::npos);
    }
    out += exponent < 0 ? "E-" : "E+";
    out += std::to_string(exponent < 0 ? -static_cast<long>(exponent) : static_cast<long>(exponent));
    return out;
}

}  // namespace

bool AsyncSignalMode() {
    const TController* c = Controller();
    return c && c->ucCSignalMode == 4;
}

bool NumberTextValid(const char* text, double* value) {
    if (!text) return false;
    const LibraryState& s = State();
    std::string copy(text);
    KvSetDecSep(copy, 2, s.decSepChar);
    double parsed = 0;
    if (!TextToDouble(copy, parsed, SystemDecimalSeparator())) return false;
    if (value) *value = parsed;
    return true;
}

int SendTypedCommand(const std::string& command, int lines, char* reply, size_t replySize, int callSite) {
    InterfaceState& g = Interface();
    char local[kWorkBufferSize];
    char* buffer = g.commandBuffer ? g.commandBuffer.get() : local;
    if (command.size() >= kWorkBufferSize) {
        // Cutting the line would send a different command.
        KvGProtLog("[ZelComm command of %d characters refused, at most %d fit]\r\n",
                   static_cast<int>(std::min<size_t>(command.size(), INT_MAX)),
                   static_cast<int>(kWorkBufferSize - 1), kLogError);
        return ZEL_ERR_PARAMETER;
    }
    std::memcpy(buffer, command.data(), command.size());
    buffer[command.size()] = '\0';
    const int code = ExecuteCommandInternal(buffer, lines, reply, replySize);
    if (code != 0) return ZelReturn(code, callSite);
    return 0;
}

int IntegerReply(int* out) {
    TController* c = Controller();
    if (!c) return ZEL_ERR_NO_CONTROLLER;
    const std::string text = c->Reply();
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return ZEL_ERR_REPLY_NUMBER;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch < '0' || ch > '9') return ZEL_ERR_REPLY_NUMBER;
        value = value * 10 + (ch - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return ZEL_ERR_REPLY_NUMBER;
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return ZEL_ERR_REPLY_NUMBER;
    if (out) *out = static_cast<int>(value);
    return 0;
}

std::string FixedText(double value, int decimals, char separator) {
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    const bool negative = std::signbit(value);
    std::string digits;
    int exponent = 0;
    ShortestDigits(value, digits, exponent);
    const int integerDigits = exponent + 1;
    if (integerDigits > kSignificantDigits) return ScientificText(negative, digits, exponent, separator);

    // Split into integer and fraction digits.
    const int length = static_cast<int>(digits.size());
    std::string integerPart, fraction;
    if (integerDigits <= 0) {
        integerPart = "0";
        fraction = std::string(static_cast<size_t>(-integerDigits), '0') + digits;
    } else if (integerDigits < length) {
        integerPart = digits.substr(0, static_cast<size_t>(integerDigits));
        fraction = digits.substr(static_cast<size_t>(integerDigits));
    } else {
        integerPart = digits + std::string(static_cast<size_t>(integerDigits - length), '0');
    }

    // Round half away from zero to the decimals, and to the significant
    // digits counted from the first non-zero digit.
    const int keep = std::min(decimals, kSignificantDigits - integerDigits);
    if (static_cast<int>(fraction.size()) > keep) {
        const bool up = fraction[static_cast<size_t>(keep)] >= '5';
        fraction.resize(static_cast<size_t>(keep));
        if (up) {
            std::string all = integerPart + fraction;
            IncrementDigits(all);
            integerPart = all.substr(0, all.size() - fraction.size());
            fraction = all.substr(all.size() - fraction.size());
        }
    }
    fraction.resize(static_cast<size_t>(decimals), '0');
    const bool zero = integerPart.find_first_not_of('0') == std::string::npos &&
                      fraction.find_first_not_of('0') == std::string::npos;
    std::string out = (negative && !zero) ? "-" : "";
    out += integerPart;
    if (decimals > 0) {
        out += separator;
        out += fraction;
    }
    return out;
}

std::string GeneralText(double value) {
    if (value == 0) return "0";  // also for -0
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    if (result.ec != std::errc()) return "0";
    return std::string(buffer, result.ptr);
}

std::string NumberOut(double value, const std::string& token, int decimals) {
    const LibraryState& s = State();
    if (s.rawReply || s.decSepMode == 0) return token.empty() ? FixedText(value, decimals, '.') : token;
    if (s.decSepMode == 3) {
        const char user = s.decSepChar;
        std::string text = token.empty() ? FixedText(value, decimals, user) : token;
        KvSetDecSep(text, 3, user);
        return text;
    }
    return FixedText(value, decimals, SystemDecimalSeparator());
}

void HandOut(char* buffer, size_t size, const std::string& text) {
    if (buffer) CopyToBuffer(buffer, size, text);
}

char* ReplyScratch() {
    InterfaceState& g = Interface();
    return g.replyScratch ? g.replyScratch.get() : nullptr;
}

bool PreCheck(const CallCheck& call) {
    return KvReadyToExecuteCommand(call.mask, call.axis, call.site, call.checkModel);
}

int PreCheckFailure(const CallCheck& call) { return ZelReturn(Interface().lastApiError, call.site); }

int TextQuery(const CallCheck& call, const std::string& command, char* reply, size_t replySize) {
    if (!PreCheck(call)) return PreCheckFailure(call);
    if (!reply && !AsyncSignalMode()) return ZEL_ERR_NULL_POINTER;
    return SendTypedCommand(command, 1, reply, replySize, call.site + 1);
}

int IntegerQuery(const CallCheck& call, const std::string& command, int* out) {
    if (!PreCheck(call)) return PreCheckFailure(call);
    if (!out && !AsyncSignalMode()) return ZEL_ERR_NULL_POINTER;
    const int code = SendTypedCommand(command, 1, ReplyScratch(), kWorkBufferSize, call.site + 1);
    if (code != 0) return code;
    if (AsyncSignalMode()) return 0;
    return IntegerReply(out);
}

int PlainCommand(const CallCheck& call, const std::string& command, int lines) {
    if (!PreCheck(call)) return PreCheckFailure(call);
    return SendTypedCommand(command, lines, lines != 0 ? ReplyScratch() : nullptr, kWorkBufferSize,
                            call.site + 1);
}

int NumberCommand(const CallCheck& call, const char* text, const std::string& tail) {
    if (!PreCheck(call)) return PreCheckFailure(call);
    if (!text) return ZEL_ERR_NULL_POINTER;
    if (!NumberTextValid(text)) return ZEL_ERR_PARAMETER;
    return SendTypedCommand(text + tail, 0, nullptr, 0, call.site + 1);
}

}  // namespace zel
