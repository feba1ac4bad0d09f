// The diagnostic protocol. One process-wide state guarded by one mutex: a
// line is cut, formatted, prefixed and written while the mutex is held, so
// lines of different threads never mix. The output flag and the mask are
// also kept in atomics so that a log call costs two relaxed loads when the
// protocol is off or the line class is not wanted.
#include "support/protocol_log.h"

#include "platform/zel_clock.h"
#include "platform/zel_messages.h"
#include "platform/zel_paths.h"
#include "platform/zel_system.h"
#include "support/error_report.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#ifndef ZELCOMM_VERSION_TEXT
#define ZELCOMM_VERSION_TEXT "0.0.0"
#endif

namespace zel {

namespace {

constexpr int kDefaultMask = 24;
constexpr size_t kLineSize = 512;  // a line holds at most kLineSize - 1 characters
constexpr size_t kMaxLine = kLineSize - 1;

struct ProtocolState {
    std::mutex mutex;
    std::atomic<int> output{0};          // 0 off; bit 1 write to the file
    std::atomic<int> mask{kDefaultMask};
    std::FILE* file = nullptr;           // guarded by mutex
    std::string path;                    // guarded by mutex
};

ProtocolState& S() {
    static ProtocolState state;
    return state;
}

bool Wanted(int mask) {
    ProtocolState& s = S();
    return s.output.load(std::memory_order_relaxed) != 0 &&
           (mask & s.mask.load(std::memory_order_relaxed)) != 0;
}

bool EndsWithCrLf(const char* text, size_t length) {
    return length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n';
}

// A text argument of a log call, cut to its form's limit L: a longer text is
// represented by its first L-1 characters and '#'. The caller's text is
// never touched. A null text is shown as "(null)".
template <size_t L>
class CutText {
public:
    explicit CutText(const char* text) {
        if (!text) {
            text_ = "(null)";
            return;
        }
        size_t n = 0;
        while (n <= L && text[n] != '\0') ++n;
        if (n <= L) {
            text_ = text;
            return;
        }
        std::memcpy(buffer_, text, L - 1);
        buffer_[L - 1] = '#';
        buffer_[L] = '\0';
        text_ = buffer_;
    }
    const char* c_str() const { return text_; }

private:
    const char* text_;
    char buffer_[L + 1];
};

// A text argument without a limit of its own (the line bound still applies).
const char* NonNull(const char* text) { return text ? text : "(null)"; }

// Writes bytes to the file; the mutex must be held. A failing write is
// ignored: the next line is attempted again.
void WriteLocked(const char* data, size_t length) {
    ProtocolState& s = S();
    if ((s.output.load(std::memory_order_relaxed) & 1) == 0 || !s.file || length == 0) return;
    if (std::fwrite(data, 1, length, s.file) != length) std::clearerr(s.file);
    if (std::fflush(s.file) != 0) std::clearerr(s.file);
}

// Bounds a line held in a kLineSize buffer whose untruncated length is
// `fullLength` to kMaxLine characters. When the line is cut and it was meant
// to end with CR LF, the cut is made before the line end so that the CR LF
// survives and the next line starts on a line of its own. Returns the length.
size_t BoundLine(char* line, size_t fullLength, bool endsWithCrLf) {
    if (fullLength <= kMaxLine) return fullLength;
    if (endsWithCrLf) {
        line[kMaxLine - 2] = '\r';
        line[kMaxLine - 1] = '\n';
    }
    line[kMaxLine] = '\0';
    return kMaxLine;
}

// Writes a finished line (at most kMaxLine characters), with the tick prefix
// when the mask asks for it. The combined line is bounded again; the cut
// falls at the end of the text, before its CR LF.
void EmitLocked(const char* line, size_t length) {
    ProtocolState& s = S();
    if ((s.mask.load(std::memory_order_relaxed) & kLogTickPrefix) == 0) {
        WriteLocked(line, length);
        return;
    }
    char combined[kLineSize];
    int prefix = std::snprintf(combined, sizeof combined, "%u-", static_cast<unsigned>(TickCount()));
    if (prefix < 0) return;
    size_t room = kMaxLine - static_cast<size_t>(prefix);
    if (length <= room) {
        std::memcpy(combined + prefix, line, length);
        WriteLocked(combined, static_cast<size_t>(prefix) + length);
        return;
    }
    if (EndsWithCrLf(line, length)) {
        std::memcpy(combined + prefix, line, room - 2);
        combined[prefix + room - 2] = '\r';
        combined[prefix + room - 1] = '\n';
    } else {
        std::memcpy(combined + prefix, line, room);
    }
    WriteLocked(combined, kMaxLine);
}

// Formats and writes one line as a unit. The written length is the formatted
// length, so a "%c" of a zero byte does not end the line early.
void LogFormatted(const char* format, ...) {
    if (!format) return;
    ProtocolState& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.output.load(std::memory_order_relaxed) == 0) return;
    char line[kLineSize];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) return;
    size_t formatLength = std::strlen(format);
    size_t length = BoundLine(line, static_cast<size_t>(n), EndsWithCrLf(format, formatLength));
    EmitLocked(line, length);
}

// Formats a line that is written directly (start line, start-up information),
// bounded like a log line but never prefixed.
void WriteFormatted(const char* format, ...) {
    char line[kLineSize];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) return;
    size_t length = BoundLine(line, static_cast<size_t>(n), EndsWithCrLf(format, std::strlen(format)));
    ProtocolState& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    WriteLocked(line, length);
}

// Writes a line piece of the INI copy (bytes as they are) followed by CR LF.
void WriteIniLine(const char* data, size_t length) {
    ProtocolState& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    WriteLocked(data, length);
    WriteLocked("\r\n", 2);
}

// Opens Protocol.dat, keeping the previous one as Protocol.bak. Other
// processes can always open the file on Linux (read and write), so the
// write-sharing bit of the mask needs no handling here.
std::FILE* CreateProtocolFile(const std::string& directory, const std::string& path) {
    if (FileExists(path)) {
        std::string backup = directory + "Protocol.bak";
        if (FileExists(backup)) DeleteFile(backup);
        MoveFile(path, backup);
    }
    // "e": close-on-exec, so programs the host starts do not inherit it.
    return std::fopen(path.c_str(), "wbe");
}

}  // namespace

const char* LibraryProductName() { return "ZelComm for Linux"; }
const char* LibraryCopyright() { return "Copyright (C) 2026 the ZelComm developers"; }
const char* LibraryFileVersion() { return ZELCOMM_VERSION_TEXT; }

bool ProtocolWants(int mask) { return Wanted(mask); }

bool ProtocolOn() { return S().output.load(std::memory_order_relaxed) != 0; }

int ProtocolMask() { return S().mask.load(std::memory_order_relaxed); }

std::string ProtocolPath() {
    ProtocolState& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.output.load(std::memory_order_relaxed) != 0 ? s.path : std::string();
}

void KvDiagProtSetupFile(bool open, int mask, int outputFlags) {
    ProtocolState& s = S();
    if (open) {
        // Written only when the protocol is already on.
        KvGProtLog("[KvDiagProtSetupFile(%d)]\r\n", mask, kLogTrace);
        bool needFile;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            needFile = (outputFlags & 1) != 0 && s.file == nullptr;
        }
        if (needFile) {
            std::string directory = ProtocolDirectory();
            std::string path = directory + "Protocol.dat";
            if (outputFlags != 0) KvGProtLog("[KvDiagProtSetupFile(%s)]\r\n", path.c_str(), kLogTrace);
            std::FILE* file = CreateProtocolFile(directory, path);
            if (file) {
                std::lock_guard<std::mutex> lock(s.mutex);
                s.file = file;
                s.path = path;
            } else {
                ErrorMessageBox(ActiveWindow(), "Error creating protocol file", KvLoadText(100).c_str(),
                                kModuleSupport, 1892, ZEL_MB_ICONWARNING);
            }
        }
        if (outputFlags != 0) {
            {
                std::lock_guard<std::mutex> lock(s.mutex);
                if (mask > 0) s.mask.store(mask, std::memory_order_relaxed);
                s.output.store(outputFlags, std::memory_order_relaxed);
            }
            std::string now = LocalTimeNow();
            WriteFormatted("[Diagnostic protocol started(%d,%d):   %s]\r\n", mask, 1024, now.c_str());
            KvGProtFileDate();
            KvGProtFileVersion();
            KvGProtIniCfg();
        }
        return;
    }

    if (s.output.load(std::memory_order_relaxed) == 0) return;
    KvGProtLog("[KvDiagProtSetupFile closing hDiagProtFile]\r\n", kLogTrace);
    bool hasFile;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        hasFile = (s.output.load(std::memory_order_relaxed) & 1) != 0 && s.file != nullptr;
    }
    if (hasFile) {
        std::string now = LocalTimeNow();
        KvGProtLog("[Protocol terminated: %s]\r\n", now.c_str(), kLogEnd);
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.file) std::fclose(s.file);
    s.file = nullptr;
    s.path.clear();
    s.output.store(0, std::memory_order_relaxed);
    // Back to the state of a freshly loaded library, so that a later start
    // with a negative value gets the default mask again.
    s.mask.store(kDefaultMask, std::memory_order_relaxed);
}

void KvGProtWrite(const char* text, int /*mask*/) {
    if (!text) return;
    ProtocolState& s = S();
    if ((s.output.load(std::memory_order_relaxed) & 1) == 0) return;
    std::lock_guard<std::mutex> lock(s.mutex);
    WriteLocked(text, std::strlen(text));
}

void KvGProtLog(const char* text, int mask) {
    if (!Wanted(mask) || !text) return;
    size_t n = 0;
    while (n <= kMaxLine && text[n] != '\0') ++n;
    bool crLf = n > kMaxLine ? EndsWithCrLf(text, std::strlen(text)) : EndsWithCrLf(text, n);
    char line[kLineSize];
    std::memcpy(line, text, n <= kMaxLine ? n : kMaxLine);
    size_t length = BoundLine(line, n, crLf);
    ProtocolState& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.output.load(std::memory_order_relaxed) == 0) return;
    EmitLocked(line, length);
}

void KvGProtLog(const char* format, int a, int mask) {
    if (!Wanted(mask)) return;
    LogFormatted(format, a);
}

void KvGProtLog(const char* format, const char* s, int mask) {
    if (!Wanted(mask)) return;
    CutText<480> t(s);
    LogFormatted(format, t.c_str());
}

void KvGProtLog(const char* format, const char* s, int a, int mask) {
    if (!Wanted(mask)) return;
    LogFormatted(format, NonNull(s), a);
}

void KvGProtLog(const char* format, int a, int b, int mask) {
    if (!Wanted(mask)) return;
    LogFormatted(format, a, b);
}

void KvGProtLog(const char* format, int a, int b, int c, int mask) {
    if (!Wanted(mask)) return;
    LogFormatted(format, a, b, c);
}

void KvGProtLog(const char* format, intptr_t value, int a, int b, int c, int mask) {
    if (!Wanted(mask)) return;
    // Handles are shown like the 32-bit handles they stand for ("0x%x").
    LogFormatted(format, static_cast<unsigned>(value), a, b, c);
}

void KvGProtLog(const char* format, int a, const char* s, int mask) {
    if (!Wanted(mask)) return;
    CutText<480> t(s);
    LogFormatted(format, a, t.c_str());
}

void KvGProtLog(const char* format, int a, int b, const char* s, int mask) {
    if (!Wanted(mask)) return;
    CutText<460> t(s);
    LogFormatted(format, a, b, t.c_str());
}

void KvGProtLog(const char* format, const char* s1, const char* s2, int mask) {
    if (!Wanted(mask)) return;
    CutText<200> t1(s1);
    CutText<200> t2(s2);
    LogFormatted(format, t1.c_str(), t2.c_str());
}

void KvGProtLog(const char* format, int a, int b, const char* s1, const char* s2, int mask) {
    if (!Wanted(mask)) return;
    CutText<460> t1(s1);
    LogFormatted(format, a, b, t1.c_str(), NonNull(s2));
}

void KvGProtFileDate() {
    if (!ProtocolOn()) return;
    // The date of the loaded shared library; nothing when the library code
    // is linked into the program itself.
    std::string path = LibraryPath();
    if (path.empty()) return;
    std::time_t stamp = 0;
    if (!FileModificationTime(path, stamp)) return;
    std::string date = ShortDateText(stamp);
    std::string time = LongTimeText(stamp);
    WriteFormatted("[ZelComm.dll FileDate/Time %s, %s]\r\n", date.c_str(), time.c_str());
}

void KvGProtFileVersion() {
    if (ProtocolOn()) {
        WriteFormatted("[Name %s]\r\n", LibraryProductName());
        WriteFormatted("[Copyright %s]\r\n", LibraryCopyright());
        WriteFormatted("[Version %s]\r\n", LibraryFileVersion());
    }
    KvGProtLog("[KvGProtFileVersion done]\r\n", kLogStartup);
}

void KvGProtIniCfg() {
    const std::string& path = ConfigPath();
    KvGProtLog("[KvGProtIniCfg()]\r\n", kLogStartup);
    KvGProtLog("[KvGProtIniCfg(), opening %s ...]\r\n", path.c_str(), kLogStartup);
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) {
        WriteFormatted("[Error opening INI file %s]\r\n", path.c_str());
        return;
    }
    WriteFormatted("[INI file: %s]\r\n", path.c_str());
    // Pieces of at most kMaxLine bytes: a line ends at LF, a longer line is
    // copied as several pieces, each exactly once. Bytes are counted, not
    // searched for a terminator, so a zero byte in the file loses nothing.
    char piece[kLineSize];
    size_t length = 0;
    bool more = true;
    while (more) {
        int c = std::fgetc(file);
        if (c == EOF) {
            more = false;
        } else {
            piece[length++] = static_cast<char>(c);
            if (c != '\n' && length < kMaxLine) continue;
        }
        while (length > 0 && (piece[length - 1] == '\r' || piece[length - 1] == '\n')) --length;
        if (length > 0) WriteIniLine(piece, length);
        length = 0;
    }
    std::fclose(file);
    KvGProtLog("[KvGProtIniCfg() done]\r\n", kLogStartup);
}

}  // namespace zel
