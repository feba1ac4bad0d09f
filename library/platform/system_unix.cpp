// Locale decimal separator, last error, error texts, uname, local time and
// process/thread identities.
#include "platform/zel_system.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <langinfo.h>
#include <locale.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace zel {

namespace {

thread_local int t_lastError = 0;

// The locale name the user chose for numbers, as setlocale(LC_NUMERIC, "")
// would pick it, without touching the process locale.
std::string NumericLocaleName() {
    for (const char* name : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return "C";
}

char ReadRadixChar(const std::string& localeName) {
    locale_t locale = ::newlocale(LC_NUMERIC_MASK, localeName.c_str(), static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) return '.';
    const char* radix = ::nl_langinfo_l(RADIXCHAR, locale);
    const char separator = (radix && radix[0]) ? radix[0] : '.';
    ::freelocale(locale);
    return separator;
}

// strerror_r comes in two forms depending on the C library's feature macros;
// overloads on its result pick the right reading.
[[maybe_unused]] std::string ErrorTextFrom(int result, const char* buffer, int error) {
    if (result == 0) return buffer;
    return "Unknown error " + std::to_string(error);
}
[[maybe_unused]] std::string ErrorTextFrom(const char* result, const char*, int error) {
    return result ? result : "Unknown error " + std::to_string(error);
}

const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool LocalTime(std::time_t t, std::tm& out) { return ::localtime_r(&t, &out) != nullptr; }

}  // namespace

char SystemDecimalSeparator() {
    // The answer for the last locale name asked is kept: loading a locale is
    // not free and the engine asks for every converted reply.
    struct Cache {
        std::mutex mutex;
        std::string name;
        char separator = '.';
    };
    static Cache* const cache = new Cache;  // never destroyed: usable at unload
    const std::string name = NumericLocaleName();
    std::lock_guard<std::mutex> lock(cache->mutex);
    if (cache->name.empty() || cache->name != name) {
        cache->separator = ReadRadixChar(name);
        cache->name = name;
    }
    return cache->separator;
}

int LastError() { return t_lastError; }

void SetLastError(int error) { t_lastError = error; }

std::string SystemErrorText(int error) {
    char buffer[256] = {0};
    return ErrorTextFrom(::strerror_r(error, buffer, sizeof buffer), buffer, error) + "\r\n";
}

bool ReadPlatformInfo(PlatformInfo& info) {
    struct utsname names;
    if (::uname(&names) != 0) {
        SetLastError(errno);
        return false;
    }
    info.sysname = names.sysname;
    info.release = names.release;
    info.version = names.version;
    info.machine = names.machine;
    return true;
}

std::string LocalTimeText(std::time_t t) {
    std::tm tm{};
    if (!LocalTime(t, tm) || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11) {
        return std::string();
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d\n", kDayNames[tm.tm_wday],
                  kMonthNames[tm.tm_mon], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_year + 1900);
    return text;
}

std::string LocalTimeNow() { return LocalTimeText(std::time(nullptr)); }

std::string ShortDateText(std::time_t t) {
    std::tm tm{};
    if (!LocalTime(t, tm)) return std::string();
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return text;
}

std::string LongTimeText(std::time_t t) {
    std::tm tm{};
    if (!LocalTime(t, tm)) return std::string();
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

int ProcessId() { return static_cast<int>(::getpid()); }

int ThreadId() { return static_cast<int>(::syscall(SYS_gettid)); }

}  // namespace zel
