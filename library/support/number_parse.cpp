#include "support/number_parse.h"

#include <charconv>
#include <climits>
#include <cmath>

namespace zel {

bool TextToDouble(const std::string& text, double& value, char separator) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    if (begin == end) return false;
    std::string number(text, begin, end - begin);
    // from_chars takes no '+' and only '.' as decimal point.
    size_t start = 0;
    if (number[0] == '+') {
        start = 1;
        if (number.size() > 1 && (number[1] == '-' || number[1] == '+')) return false;
    }
    bool separatorSeen = false;
    for (size_t i = start; i < number.size(); ++i) {
        char& ch = number[i];
        if (ch == '.' || ch == ',' || ch == separator) {
            if (separatorSeen) return false;
            separatorSeen = true;
            ch = '.';
        }
    }
    const char* first = number.data() + start;
    const char* last = number.data() + number.size();
    double parsed = 0;
    const auto result = std::from_chars(first, last, parsed, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != last) return false;
    if (!std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

int TruncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace zel
