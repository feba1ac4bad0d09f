// Configuration files and connect texts: the input is read as ZELCOMM.INI
// (the keys the library reads, and the first section and key the text
// names), as a profile integer, and decoded as a connect text.
#include "fuzz_support.h"

#include "interface/library_frame.h"
#include "platform/zel_profile.h"

#include <climits>

using namespace zelfuzz;

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// GetPrivateProfileInt's reading, written the long way round as a reference.
int ReferenceInteger(const std::string& value) {
    size_t i = 0;
    while (i < value.size() && Blank(value[i])) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
    unsigned long long magnitude = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + static_cast<unsigned>(value[i] - '0');
        if (magnitude > 1ull << 32) break;  // saturated either way
    }
    if (negative) return magnitude >= 2147483648ull ? INT_MIN : -static_cast<int>(magnitude);
    return magnitude >= 2147483647ull ? INT_MAX : static_cast<int>(magnitude);
}

// The section and key of the first "[s]" line and the first "k=" after it,
// trimmed as the reader trims them (the reader is the judge of the details;
// this only picks names that probably exist).
void FirstNames(const std::string& text, std::string& section, std::string& key) {
    const size_t open = text.find('[');
    if (open == std::string::npos) return;
    const size_t close = text.find_first_of("]\n", open + 1);
    if (close == std::string::npos) return;
    section = text.substr(open + 1, close - open - 1);
    const size_t lineEnd = text.find('\n', close);
    if (lineEnd == std::string::npos) return;
    const size_t equals = text.find('=', lineEnd + 1);
    if (equals == std::string::npos) return;
    const size_t keyStart = text.rfind('\n', equals);
    key = text.substr(keyStart + 1, equals - keyStart - 1);
    auto trim = [](std::string& s) {
        while (!s.empty() && Blank(s.back())) s.pop_back();
        size_t b = 0;
        while (b < s.size() && Blank(s[b])) ++b;
        s.erase(0, b);
    };
    trim(section);
    trim(key);
}

}  // namespace

// A default no value of a profile can be equal to (values never hold a
// line end).
const std::string kAbsent = "absent\n";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const zel::Profile profile = zel::Profile::FromText(text);
    std::string section = "Startup", key = "Mode";
    FirstNames(text, section, key);
    const std::pair<std::string, std::string> lookups[] = {
        {"Startup", "Mode"},     {"startup", "CMODE"},         {"Startup", "TimeOut"},
        {"Startup", "ConnectString"}, {"Ports", "COM1"},       {section, key}};
    for (const auto& [s, k] : lookups) {
        const std::string value = profile.ReadString(s, k, kAbsent);
        const int number = profile.ReadInteger(s, k, -7);
        if (!profile.HasKey(s, k)) {
            FUZZ_CHECK(value == kAbsent && number == -7);
            continue;
        }
        // A value never reaches past its line.
        FUZZ_CHECK(value.find('\n') == std::string::npos);
        FUZZ_CHECK(number == (value.empty() ? -7 : zel::ProfileInteger(value)));
    }
    FUZZ_CHECK(zel::ProfileInteger(text) == ReferenceInteger(text));

    // Connect texts: codes never make a text longer; text beyond the
    // decoded part is kept as written.
    const std::string decoded = zel::DecodeConnectText(text);
    FUZZ_CHECK(decoded.size() <= text.size());
    if (text.find('[') == std::string::npos) FUZZ_CHECK(decoded == text);
    if (text.size() > 256) {
        const std::string tail = text.substr(256);
        FUZZ_CHECK(decoded.size() >= tail.size() && decoded.compare(decoded.size() - tail.size(), tail.size(), tail) == 0);
    }
    return 0;
}
