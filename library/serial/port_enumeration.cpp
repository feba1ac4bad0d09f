#include "serial/port_enumeration.h"

#include "platform/zel_paths.h"
#include "platform/zel_system.h"
#include "support/protocol_log.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace zel {

namespace {
std::atomic<bool> gPortPresent[kMaxPorts];

// Reads the leading decimal number of text at pos and moves pos past it and
// one following separator.
int TakeNumber(const std::string& text, size_t& pos) {
    long value = 0;
    bool any = false;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (value < 100000000) value = value * 10 + (text[pos] - '0');
        ++pos;
        any = true;
    }
    if (pos < text.size() && any) ++pos;
    return static_cast<int>(value);
}

// The platform line: the family name and the kernel's version numbers in the
// fields that name the platform id, major and minor version and build.
void LogPlatform() {
    PlatformInfo info;
    if (!ReadPlatformInfo(info)) return;
    size_t pos = 0;
    int major = TakeNumber(info.release, pos);
    int minor = TakeNumber(info.release, pos);
    int build = TakeNumber(info.release, pos);
    const std::string csd = info.sysname + " " + info.release + " " + info.version + " " + info.machine;
    char body[512];
    std::snprintf(body, sizeof body,
                  "\nWin32Platform=%d\nWin32MajorVersion=%d\nWin32MinorVersion=%d\nWin32BuildNumber=%d\n"
                  "Win32CSDVersion=%s\n",
                  2, major, minor, build, csd.c_str());
    std::string line = std::string("WIN32_NT") + body;
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    line = "[" + line + "]\r\n";
    KvGProtLog(line.c_str(), kLogTrace);
}
}  // namespace

void KvCheckSerPorts() {
    KvGProtLog("[KvCheckSerPorts()]\r\n", kLogTrace);
    LogPlatform();
    for (int n = 1; n <= kMaxPorts; ++n) gPortPresent[n - 1] = PortPresent(n);
    KvGProtLog("[KvCheckSerPorts done]\r\n", kLogTrace);
}

bool PortPresentFlag(int index) {
    return index >= 0 && index < kMaxPorts && gPortPresent[index].load();
}

void SetPortPresentFlags(const bool (&present)[kMaxPorts]) {
    for (int i = 0; i < kMaxPorts; ++i) gPortPresent[i] = present[i];
}

}  // namespace zel
