// Decimal-separator conversion of reply texts and the trimming helpers used
// on command and reply texts.
#include "support/number_text.h"

#include "platform/zel_system.h"
#include "support/protocol_log.h"

#include <cstring>

namespace zel {

namespace {

bool IsLineSpace(char c) { return c == '\r' || c == '\n' || c == ' '; }

// The character every separator becomes in `mode`; false when the mode
// converts nothing.
bool TargetSeparator(int mode, char character, char& target) {
    switch (mode) {
    case 1: target = '.'; return true;
    case 2: target = SystemDecimalSeparator(); return true;
    case 3: target = character; return true;
    default: return false;
    }
}

// Replaces '.', ',' and the user character by the target, byte by byte.
void Convert(char* data, size_t length, int mode, char character) {
    KvGProtLog("[KvSetDecSep(%d,%c)]\r\n", mode, static_cast<unsigned char>(character), kLogTrace);
    char target;
    // A zero target would cut a zero-terminated text short: such a
    // conversion changes nothing.
    if (TargetSeparator(mode, character, target) && target != '\0') {
        for (size_t i = 0; i < length; ++i) {
            char c = data[i];
            // A zero user character stands for none: both forms then
            // convert the same bytes, whatever a text value embeds.
            if (c == '.' || c == ',' || (character != '\0' && c == character)) data[i] = target;
        }
    }
    KvGProtLog("[KvSetDecSep() done]\r\n", kLogTrace);
}

}  // namespace

void KvSetDecSep(std::string& text, int mode, char character) {
    Convert(text.empty() ? nullptr : &text[0], text.size(), mode, character);
}

void KvSetDecSep(char* buffer, int mode, char character) {
    Convert(buffer, buffer ? std::strlen(buffer) : 0, mode, character);
}

void KvTrimRight(char* buffer) {
    if (!buffer) return;
    size_t length = std::strlen(buffer);
    while (length > 0 && IsLineSpace(buffer[length - 1])) buffer[--length] = '\0';
}

void KvTrimText(std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsLineSpace(text[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && IsLineSpace(text[begin])) ++begin;
    text = text.substr(begin, end - begin);
}

void CopyToBuffer(char* buffer, size_t size, const std::string& text) {
    if (!buffer || size == 0) return;
    size_t length = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

}  // namespace zel
