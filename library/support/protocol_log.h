// The diagnostic protocol: Protocol.dat, written line by line by every part
// of the library, filtered by a mask of line classes.
#pragma once

#include <cstdint>
#include <string>

namespace zel {

// Line classes.
enum ProtocolMask : int {
    kLogEnd = 4,          // "[Protocol terminated: ...]"
    kLogData = 8,         // serial data traffic
    kLogDefault16 = 16,
    kLogError = 32,       // errors and warnings
    kLogTrace = 64,       // entry/exit, states, waits
    kLogTickPrefix = 256, // not a class: prefix every line with the tick count
    kLogStartup = 1024,   // start-up information steps
    kLogShareWrite = 2048 // not a class: open the file with write sharing
};

// Starts (open = true) or ends (open = false) the protocol. The library's load
// calls (true, value of "Protocol", 1), its unload (false, -1, 1). The file is
// ProtocolDirectory() + "Protocol.dat"; an existing one becomes Protocol.bak.
// Ending returns to the state of a freshly loaded library (off, mask 24), so
// the protocol may be started again.
void KvDiagProtSetupFile(bool open, int mask, int outputFlags);

// True while the protocol is on (log calls format and write).
bool ProtocolOn();
// The mask in force.
int ProtocolMask();
// True while the protocol is on and its mask has a bit of `mask` (a log call
// with that mask would write its line).
bool ProtocolWants(int mask);
// Full path of Protocol.dat while the protocol is on.
std::string ProtocolPath();

// Writes the text unchanged to the file when the protocol writes to a file.
void KvGProtWrite(const char* text, int mask);

// The log call in its eleven forms. Every form ends with the mask; nothing is
// written unless the protocol is on and the mask shares a bit with the
// protocol's mask. Text arguments longer than the form's limit L are written
// as their first L-1 characters and "#"; a null text shows as "(null)".
// A line holds at most 511 characters, the tick prefix included; a longer
// line is cut at the end of its text, keeping a final CR LF. Each line is
// formatted and written under one lock, so lines of threads never mix; with
// the protocol off a call returns after two atomic loads.
// The handle form passes `value` to the format as an unsigned int (the
// format shows it with "%x", like the 32-bit handles it stands for).
void KvGProtLog(const char* text, int mask);
void KvGProtLog(const char* format, int a, int mask);
void KvGProtLog(const char* format, const char* s, int mask);                    // s cut at 480
void KvGProtLog(const char* format, const char* s, int a, int mask);
void KvGProtLog(const char* format, int a, int b, int mask);
void KvGProtLog(const char* format, int a, int b, int c, int mask);
void KvGProtLog(const char* format, intptr_t value, int a, int b, int c, int mask);
void KvGProtLog(const char* format, int a, const char* s, int mask);             // s cut at 480
void KvGProtLog(const char* format, int a, int b, const char* s, int mask);      // s cut at 460
void KvGProtLog(const char* format, const char* s1, const char* s2, int mask);   // 200 each
void KvGProtLog(const char* format, int a, int b, const char* s1, const char* s2,
                int mask);                                                       // s1 cut at 460

// Start-up information steps (run by KvDiagProtSetupFile).
void KvGProtFileDate();
void KvGProtFileVersion();
void KvGProtIniCfg();

// The library's own version data, standing in for a version resource.
const char* LibraryProductName();
const char* LibraryCopyright();
const char* LibraryFileVersion();

}  // namespace zel
