// Profile (INI) files read with the Windows rules.
#include "platform/zel_profile.h"

#include "platform/zel_system.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <unistd.h>

namespace zel {

namespace {

// Blanks and tabs, and the other white space a Windows-edited file may carry
// (a stray CR of a broken line end, form feeds).
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

// [begin, end) of text without surrounding blanks and tabs.
std::string Trimmed(const std::string& text, size_t begin, size_t end) {
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

}  // namespace

Profile Profile::FromText(const std::string& text) {
    Profile profile;
    profile.loaded_ = true;
    Section* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        size_t lineEnd = end;
        if (lineEnd > pos && text[lineEnd - 1] == '\r') --lineEnd;
        const size_t next = end + 1;

        size_t begin = pos;
        while (begin < lineEnd && IsBlank(text[begin])) ++begin;
        pos = next;
        if (begin == lineEnd || text[begin] == ';') continue;

        if (text[begin] == '[') {
            size_t close = text.find(']', begin + 1);
            if (close == std::string::npos || close > lineEnd) close = lineEnd;
            profile.sections_.push_back(Section{Trimmed(text, begin + 1, close), {}});
            current = &profile.sections_.back();
            continue;
        }
        if (!current) continue;
        const size_t equals = text.find('=', begin);
        if (equals == std::string::npos || equals >= lineEnd) continue;
        std::string key = Trimmed(text, begin, equals);
        if (key.empty()) continue;
        std::string value = Trimmed(text, equals + 1, lineEnd);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        current->keys.emplace_back(std::move(key), std::move(value));
    }
    return profile;
}

Profile Profile::Load(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno);
        return Profile();
    }
    std::string content;
    char buffer[65536];
    bool failed = false;
    while (content.size() < kMaxFileSize) {
        const size_t want = std::min(sizeof buffer, kMaxFileSize - content.size());
        const ssize_t n = ::read(fd, buffer, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            SetLastError(errno);  // for example a directory
            failed = true;
            break;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (failed) return Profile();
    return FromText(content);
}

const std::string* Profile::Find(const std::string& section, const std::string& key) const {
    for (const Section& s : sections_) {
        if (!EqualNoCase(s.name, section)) continue;
        // Only the first section of a name counts.
        for (const auto& entry : s.keys) {
            if (EqualNoCase(entry.first, key)) return &entry.second;
        }
        return nullptr;
    }
    return nullptr;
}

std::string Profile::ReadString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const {
    const std::string* value = Find(section, key);
    return value ? *value : defaultValue;
}

int Profile::ReadInteger(const std::string& section, const std::string& key,
                         int defaultValue) const {
    const std::string* value = Find(section, key);
    if (!value || value->empty()) return defaultValue;
    return ProfileInteger(*value);
}

bool Profile::HasKey(const std::string& section, const std::string& key) const {
    return Find(section, key) != nullptr;
}

int ProfileInteger(const std::string& value) {
    size_t i = 0;
    while (i < value.size() && IsBlank(value[i])) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so INT_MIN is reachable.
    long long result = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        result = result * 10 - (value[i] - '0');
        if (result < static_cast<long long>(INT_MIN)) {
            return negative ? INT_MIN : INT_MAX;
        }
    }
    if (negative) return static_cast<int>(result);
    return result < -static_cast<long long>(INT_MAX) ? INT_MAX : static_cast<int>(-result);
}

}  // namespace zel
