// Operating-system facts the library reports: locale decimal separator,
// system error texts, uname, process and thread identities, local time.
#pragma once

#include <ctime>
#include <string>

namespace zel {

// The decimal point of the user's locale (the first non-empty of LC_ALL,
// LC_NUMERIC, LANG), read without changing the process locale. '.' when the
// locale is unknown or not installed.
char SystemDecimalSeparator();

// The thread's last system error number: what SetLastError last stored on
// this thread (library code stores errno after a failing system call; the
// platform calls do so themselves). 0 until something is stored.
int LastError();
void SetLastError(int error);
// The text of a system error number, ending with "\r\n" like the system
// texts the library formats.
std::string SystemErrorText(int error);

struct PlatformInfo {
    std::string sysname, release, version, machine;
};
bool ReadPlatformInfo(PlatformInfo& info);

// Local time formatted as "Wed Mar 05 14:07:09 2003\n" (English names,
// two-digit fields), independent of the process locale. Empty when the time
// cannot be converted (so are the two below).
std::string LocalTimeText(std::time_t t);
std::string LocalTimeNow();

// Short date and long time of a time stamp (for the file-date line), e.g.
// "2026-12-11" and "10:29:12".
std::string ShortDateText(std::time_t t);
std::string LongTimeText(std::time_t t);

int ProcessId();
int ThreadId();

}  // namespace zel
