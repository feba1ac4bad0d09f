// The library's message box with its caption, the report of a failed system
// call and the library's message texts.
#include "support/error_report.h"

#include "platform/zel_messages.h"
#include "platform/zel_system.h"
#include "support/number_text.h"
#include "support/protocol_log.h"

#include <cstdio>

namespace zel {

namespace {

const char* OrEmpty(const char* text) { return text ? text : ""; }

struct ModuleName {
    const char* name;  // upper case
    int number;
};

// Searched in this order; the first name contained in the file name counts.
constexpr ModuleName kModuleNames[] = {
    {"KVSERIAL", kModuleSerial},
    {"ZPCONTRL", kModuleEngine},
    {"ZPGLBF", kModuleSupport},
};

struct MessageText {
    int number;
    const char* text;
};

constexpr MessageText kMessageTexts[] = {
    {100, "ZelComm"},
    {101, "ZelComm information"},
    {106, "ZelComm event error"},
    {109, "The controller's identify reply does not hold five items; its switch settings are ignored."},
    {10107, "ZELCOMM.INI names a ConnectReply but no ConnectString; the default connect handling is kept."},
};

}  // namespace

int ErrorMessageBox(ZelWindow owner, const char* text, const char* titleText, int module, int place,
                    unsigned type) {
    text = OrEmpty(text);
    char caption[128];  // at most 127 characters
    std::snprintf(caption, sizeof caption, "ZELComm.dll: %s %d.%d", OrEmpty(titleText), module, place);
    KvGProtLog("[ErrorMessageBox: %s %s]\r\n", text, caption, kLogError);
    int answer = ShowMessageBox(owner, text, caption, type);
    KvGProtLog("[ErrorMessageBox done]\r\n", kLogError);
    return answer;
}

int KvModuleNumber(const char* fileName) {
    if (!fileName) return 0;
    std::string upper(fileName);
    // ASCII only: the module names are ASCII, and the result must not
    // depend on the process locale.
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    for (const ModuleName& entry : kModuleNames) {
        if (upper.find(entry.name) != std::string::npos) return entry.number;
    }
    return 0;
}

void KvShowLastError(const char* prefix, char* buffer, size_t size) {
    // Read first: anything done on the way could change the thread's error.
    int error = LastError();
    std::string message = SystemErrorText(error);
    char text[260];  // at most 259 characters
    std::snprintf(text, sizeof text, "%s: %s", OrEmpty(prefix), message.c_str());
    if (buffer) {
        CopyToBuffer(buffer, size, text);
        return;
    }
    ShowMessageBox(0, text, "GetLastError", ZEL_MB_ICONINFORMATION | ZEL_MB_OK);
}

std::string KvLoadText(int number) {
    for (const MessageText& entry : kMessageTexts) {
        if (entry.number == number) return std::string(entry.text).substr(0, 255);
    }
    return std::string();
}

}  // namespace zel
