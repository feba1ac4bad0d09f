// Checking a command line against the command table, and the exported
// QCValidate built on it.
#include "validation/kv_val.h"

#include "interface/library_frame.h"
#include "support/library_state.h"
#include "support/number_parse.h"
#include "support/number_text.h"

#include <zelcomm/zelcomm.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace zel {

namespace {

// The error token handed to callers of QCValidate: one token slot.
constexpr size_t kErrorTokenSize = KvVal::kMaxTokenLength + 1;

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSeparator(char c) { return c == ' ' || c == '\t'; }
bool IsArgumentChar(char c) {
    return IsDigit(c) || c == '+' || c == ',' || c == '-' || c == '.' || c == 'E' || c == 'e';
}

// "[13]" becomes the character 13. Only brackets holding 2 to 31 decimal
// digits with a code of 1..255 are decoded; anything else stays as written
// (a code 0 would cut the line short).
std::string DecodeEscapes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '[') {
            const size_t close = text.find(']', i + 1);
            const size_t length = close == std::string::npos ? 0 : close - i - 1;
            if (length >= 2 && length <= 31) {
                int code = 0;
                bool ok = true;
                for (size_t k = i + 1; k < close && ok; ++k) {
                    ok = IsDigit(text[k]);
                    if (ok) code = code * 10 + (text[k] - '0');
                    if (code > 255) ok = false;
                }
                if (ok && code > 0) {
                    out += static_cast<char>(code);
                    i = close + 1;
                    continue;
                }
            }
        }
        out += text[i++];
    }
    return out;
}

// "10m" becomes "10 m": in the last token, the last place where a digit or
// sign is directly followed by a letter gets a blank.
void SplitGluedCommandWord(std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsSeparator(text[end - 1])) --end;
    size_t begin = end;
    while (begin > 0 && !IsSeparator(text[begin - 1])) --begin;
    for (size_t k = end; k > begin + 1; --k) {
        const char before = text[k - 2], letter = text[k - 1];
        if (IsLetter(letter) && (IsDigit(before) || before == '+' || before == '-')) {
            text.insert(k - 1, 1, ' ');
            return;
        }
    }
}

std::vector<std::string> Tokenise(const std::string& text) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !IsSeparator(text[i])) ++i;
        if (i > start) tokens.emplace_back(text, start, i - start);
    }
    return tokens;
}

// Reads the whole token as a decimal number ('.' or ',' as separator). A
// value too small for a double reads as zero; false for anything that is
// not a number and for values too large for a double.
bool ReadNumber(const std::string& token, double& value) {
    std::string text(token);
    for (char& c : text)
        if (c == ',') c = '.';
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t mantissa = i;
    size_t integerDigits = 0, fractionZeros = 0;
    bool nonZeroSeen = false, inFraction = false, anyDigit = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            anyDigit = true;
            if (c != '0') nonZeroSeen = true;
            if (!inFraction) {
                if (nonZeroSeen) ++integerDigits;
            } else if (!nonZeroSeen) {
                ++fractionZeros;
            }
        } else if (c == '.' && !inFraction) {
            inFraction = true;
        } else {
            break;
        }
    }
    if (!anyDigit) return false;
    long long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negativeExponent = text[i++] == '-';
        const size_t digits = i;
        for (; i < text.size() && IsDigit(text[i]); ++i)
            if (exponent < 1000000) exponent = exponent * 10 + (text[i] - '0');
        if (i == digits) return false;
        if (negativeExponent) exponent = -exponent;
    }
    if (i != text.size()) return false;

    // from_chars takes no '+'.
    const char* first = text.data() + mantissa - (negative ? 1 : 0);
    const char* last = text.data() + text.size();
    double parsed = 0;
    const auto result = std::from_chars(first, last, parsed, std::chars_format::general);
    if (result.ec == std::errc() && result.ptr == last && std::isfinite(parsed)) {
        value = parsed;
        return true;
    }
    if (result.ec != std::errc::result_out_of_range) return false;
    // Out of range: too large, or too small (the order of magnitude of the
    // first significant digit decides).
    const long long order =
        (integerDigits > 0 ? static_cast<long long>(integerDigits) : -static_cast<long long>(fractionZeros)) +
        exponent;
    if (nonZeroSeen && order > 0) return false;
    value = negative ? -0.0 : 0.0;
    return true;
}

// The leading integer of a token, as atoi reads it (0 without digits),
// saturated far outside every range it is compared with.
long long IntegerPrefix(const std::string& token) {
    size_t i = 0;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
    long long magnitude = 0;
    for (; i < token.size() && IsDigit(token[i]); ++i)
        if (magnitude < 1000000000000LL) magnitude = magnitude * 10 + (token[i] - '0');
    return negative ? -magnitude : magnitude;
}

std::string FormatInteger(long long value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// "%g" in the C locale, whatever the process locale is.
std::string FormatGeneral(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    return std::string(buffer, result.ptr);
}

// Checks an argument against its type and rewrites it in canonical form.
// `value` receives its number (NaN for a list argument that is no number).
bool CheckType(char type, std::string& token, double& value) {
    switch (type) {
    case 'n':
    case 'l':
    case 'L': {
        // Integers of the controller: 32-bit signed, or unsigned for 'L'.
        double number = 0;
        if (!ReadNumber(token, number)) return false;
        const long long prefix = IntegerPrefix(token);
        const long long low = type == 'L' ? 0 : INT32_MIN;
        const long long high = type == 'L' ? static_cast<long long>(UINT32_MAX) : INT32_MAX;
        if (prefix < low || prefix > high || static_cast<double>(prefix) != number) return false;
        token = FormatInteger(prefix);
        value = static_cast<double>(prefix);
        return true;
    }
    case 'f': {
        double number = 0;
        if (!ReadNumber(token, number)) return false;
        token = FormatGeneral(number);
        value = number;
        return true;
    }
    case 'q':
    case 'Q':
        if (!ReadNumber(token, value)) value = std::nan("");
        return true;
    default:
        return false;
    }
}

bool InList(const std::vector<double>& list, double value) {
    for (double item : list)
        if (item == value) return true;
    return false;
}

// Lower limits first, then upper limits: each upper above its lower.
bool LimitsAscend(const std::vector<double>& v, int axes) {
    if (axes == 1) return v.size() >= 2 && v[1] > v[0];
    if (axes == 2) return v.size() >= 4 && v[2] > v[0] && v[3] > v[1];
    return v.size() >= 6 && v[3] > v[0] && v[4] > v[1] && v[5] > v[2];
}

// The checks that look at several arguments together.
bool CombinedCheck(const std::string& word, const std::vector<double>& v, int axes) {
    if (word == "setlimit") return LimitsAscend(v, axes);
    if (word == "align") {
        if (axes == 1) return false;
        if (axes == 2) return v.size() >= 4 && (v[0] != v[2] || v[1] != v[3]);
        return LimitsAscend(v, axes);
    }
    // "from to geted": the range must ascend.
    if (word == "geted") return v.size() >= 2 && v[1] > v[0];
    return true;
}

int ClampToInt(long long value) {
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Reply lines of the commands whose count depends on their arguments.
int FinalReplyLines(const std::string& word, const std::vector<double>& v, int axes, int candidate) {
    if (v.empty()) return candidate;
    if (word == "geted") {
        // Lines "from" .. "to", both included.
        if (v.size() < 2) return candidate;
        return ClampToInt(static_cast<long long>(TruncateToInt(v[1])) - TruncateToInt(v[0]) + 1);
    }
    if (v[0] != -1.0) return candidate;
    if (word == "getposmod") return axes;
    if (word == "selftest") return 4;
    if (word == "getpitch") return ClampToInt(static_cast<long long>(axes) + 1);
    if (word == "getclfactor") return 3;
    return candidate;
}

std::string Join(const std::vector<std::string>& tokens) {
    std::string out;
    for (const std::string& token : tokens) {
        if (!out.empty()) out += ' ';
        out += token;
    }
    return out;
}

// Checks the tokens (the command word last) against the entries; number
// arguments are rewritten in place.
int CheckTokens(const std::vector<KvValEntry>& entries, bool singleAxisModel, std::vector<std::string>& tokens,
                int axes, double controllerVersion, KvValOutcome& outcome) {
    // Results that name a token: the token and its index (the command word
    // is the last token; an empty command has none, index -1).
    auto fail = [&](int result, int index) {
        outcome.errorTokenSet = true;
        outcome.errorToken = index >= 0 ? tokens[static_cast<size_t>(index)] : std::string();
        outcome.errorIndex = index;
        return result;
    };
    const int wordIndex = static_cast<int>(tokens.size()) - 1;
    if (tokens.empty()) return fail(kValUnknownCommand, -1);
    const std::string& word = tokens.back();

    // Multi-axis models need an entry for any or for this axis count.
    const KvValEntry* entry = nullptr;
    bool otherAxisCount = false;
    for (const KvValEntry& candidate : entries) {
        if (candidate.name != word) continue;
        if (singleAxisModel || candidate.nDim == 0 || candidate.nDim == axes) {
            entry = &candidate;
            break;
        }
        otherAxisCount = true;
    }
    if (!entry) return fail(otherAxisCount ? kValWrongAxisCount : kValUnknownCommand, wordIndex);
    int replyLines = entry->nReply1;

    if ((entry->version > 0 && entry->version > controllerVersion) ||
        (entry->version < 0 && std::fabs(std::trunc(entry->version)) < controllerVersion))
        return fail(kValUnknownCommand, wordIndex);

    const int argumentCount = wordIndex;
    if (argumentCount < entry->argCount) return kValTooFewArguments;
    if (argumentCount > entry->argCount) return kValTooManyArguments;

    std::vector<double> values(static_cast<size_t>(argumentCount), 0.0);
    for (int i = 0; i < argumentCount; ++i) {
        const size_t at = static_cast<size_t>(i);
        std::string& token = tokens[at];
        const KvValArgument& arg = entry->args[at];
        for (char c : token)
            if (!IsArgumentChar(c)) return fail(kValBadCharacter, i);
        if (token.size() > KvVal::kMaxTokenLength || !CheckType(arg.type, token, values[at]))
            return fail(kValWrongType, i);
        const double value = values[at];

        if (arg.type == 'q' || arg.type == 'Q') {
            if (InList(arg.list1, value)) continue;
            if (!InList(arg.list2, value)) return fail(kValNotInList, i);
            if (entry->nReply2 >= 0)
                replyLines = arg.type == 'q' ? entry->nReply2
                                             : ClampToInt(static_cast<long long>(entry->nReply2) + axes);
            continue;
        }

        // Equal bounds: 0 0 takes any value, any other pair any value >= 0.
        const int low = arg.lowerRange;
        int high = arg.upperRange;
        if (!(low != high ? value >= low : (low == 0 || value >= 0))) return fail(kValBelowRange, i);
        // The axis number of the single-axis command set goes up to the axis count.
        if (singleAxisModel && i == argumentCount - 1 && (entry->modelMask & KvVal::kMaskAxisNumberLast))
            high = axes;
        if (!(low != high ? value <= high : (high == 0 || value >= 0))) return fail(kValAboveRange, i);
    }

    if (entry->bCheckVarious && !CombinedCheck(word, values, axes)) return kValNotInList;
    outcome.replyLines = FinalReplyLines(word, values, axes, replyLines);
    return kValOk;
}

}  // namespace

KvValOutcome KvVal::Validate(std::string& command, int axes, double controllerVersion) const {
    KvValOutcome outcome;
    if (command.size() > kMaxCommandLength) {
        outcome.result = kValTooManyArguments;
        return outcome;
    }
    for (char& c : command)
        if (c == ',') c = '.';
    std::string text = DecodeEscapes(command);
    SplitGluedCommandWord(text);
    std::vector<std::string> tokens = Tokenise(text);
    outcome.result = CheckTokens(entries, nModelMask == kMaskSingleAxis, tokens, axes, controllerVersion, outcome);
    command = Join(tokens);
    return outcome;
}

namespace {

// QCValidate on the controller's table; see zelcomm.h.
int ValidateCommandText(char* command, int size, int axes, int* replyLines, char* errorToken, int* errorIndex,
                        size_t errorTokenSize) {
    TController* c = Controller();
    if (!c || !c->pCValidator || !c->bCTableLoaded) return kValOk;

    // Never read past the caller's buffer, nor beyond one character more
    // than a command may hold.
    size_t limit = KvVal::kMaxCommandLength + 1;
    if (size > 0 && static_cast<size_t>(size) < limit) limit = static_cast<size_t>(size);
    std::string original;
    if (command) original.assign(command, ::strnlen(command, limit));
    KvValOutcome outcome;
    std::string text = original;
    if (command && original.size() == limit) {
        outcome.result = kValTooManyArguments;  // too long, or not terminated within its buffer
    } else {
        outcome = c->pCValidator->Validate(text, axes, State().libraryVersion.load());
    }
    if (command && text != original) {
        if (size > 0 && text.size() < static_cast<size_t>(size)) {
            std::memcpy(command, text.c_str(), text.size() + 1);
        } else if (outcome.result == kValOk) {
            // The rebuilt command does not fit the caller's buffer.
            outcome.result = kValTooManyArguments;
            outcome.errorIndex = -1;
        }
    }
    if (outcome.result == kValOk && replyLines) *replyLines = outcome.replyLines;
    if (outcome.errorTokenSet && errorToken)
        CopyToBuffer(errorToken, errorTokenSize, outcome.errorToken.substr(0, KvVal::kMaxTokenLength));
    if (errorIndex) *errorIndex = outcome.errorIndex;
    return outcome.result;
}

}  // namespace

}  // namespace zel

extern "C" {

ZELCOMM_API int QCValidate(char* command, int size, int axes, int* replyLines, char* errorToken, int* errorIndex) {
    try {
        return zel::ValidateCommandText(command, size, axes, replyLines, errorToken, errorIndex,
                                        zel::kErrorTokenSize);
    } catch (...) {
        return zel::kValUnknownCommand;
    }
}

ZELCOMM_API int QCValidateEx(char* command, int size, int axes, int* replyLines, char* errorToken, int* errorIndex,
                             size_t errorTokenSize) {
    try {
        return zel::ValidateCommandText(command, size, axes, replyLines, errorToken, errorIndex, errorTokenSize);
    } catch (...) {
        return zel::kValUnknownCommand;
    }
}

}  // extern "C"
