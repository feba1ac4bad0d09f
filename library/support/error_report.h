// Message boxes of the library, system-error reports and message texts.
#pragma once

#include <zelcomm/zelcomm.h>

#include <cstddef>
#include <string>

namespace zel {

// Module numbers carried in the caption of every error box.
enum ModuleNumber : int {
    kModuleInterface = 0,  // ZelComm
    kModuleSerial = 43,    // KvSerial
    kModuleEngine = 50,    // ZpContrl
    kModuleSupport = 51,   // ZpGlbF
};

// Caption "ZELComm.dll: %s %d.%d" (title, module number, place), at most 127
// characters; logs the box (mask 32), shows it through the installed
// message-box handler and returns the chosen button (0 when no box could be
// shown). Null text or title count as empty.
int ErrorMessageBox(ZelWindow owner, const char* text, const char* titleText, int module,
                    int place, unsigned type);

// The module number of a source-module file name: the upper-cased name is
// searched for "KVSERIAL" (43), "ZPCONTRL" (50), "ZPGLBF" (51) in this order;
// 0 when none matches or the name is null.
int KvModuleNumber(const char* fileName);

// "%s: %s" of prefix and the system text of the thread's last error (at most
// 259 characters). With a buffer it only fills it (bounded by size); without,
// it shows a box captioned "GetLastError" with the information icon.
void KvShowLastError(const char* prefix, char* buffer, size_t size = 260);

// Message text by number (looked up under number + 10000 in the library's
// string table); empty when the table has no such text. At most 255 chars.
std::string KvLoadText(int number);

}  // namespace zel
