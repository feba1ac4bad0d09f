// The diagnostic protocol: file rotation, the start-up block, mask filtering,
// the tick prefix, argument cuts, the line bound, the INI copy, the end
// lines, a protocol file that cannot be created, and concurrent writers.
#include "support/protocol_log.h"

#include "common/test_util.h"
#include "platform/zel_clock.h"
#include "platform/zel_messages.h"
#include "platform/zel_paths.h"
#include "platform/zel_system.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace zel {
namespace {

using zeltest::ReadWholeFile;
using zeltest::TempDir;

const char* const kIni = "[Startup]\r\nProtocol=64\r\n";

// Replaces the local-time texts ("Wed Mar 05 14:07:09 2003\n") by "<TIME>\n";
// a time in another form stays and makes the comparison fail.
std::string NormalizeTimes(const std::string& text) {
    static const std::regex time(R"([A-Z][a-z]{2} [A-Z][a-z]{2} \d{2} \d{2}:\d{2}:\d{2} \d{4}\n)");
    return std::regex_replace(text, time, "<TIME>\n");
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

class ProtocolTest : public ::testing::Test {
protected:
    ProtocolTest()
        : protocolDir_("ZELCOMM_PROTOCOL_DIR", dir_.path().c_str()),
          ini_("ZELCOMM_INI", dir_.File("ZELCOMM.INI").c_str()) {
        ResetConfigPath();
    }
    ~ProtocolTest() override {
        KvDiagProtSetupFile(false, -1, 1);
        ResetConfigPath();
    }

    void WriteIni(const std::string& content) { dir_.Write("ZELCOMM.INI", content); }
    void Start(int mask) { KvDiagProtSetupFile(true, mask, 1); }
    void Stop() { KvDiagProtSetupFile(false, -1, 1); }
    std::string Dat() const { return ReadWholeFile(dir_.File("Protocol.dat")); }
    std::string IniPath() const { return dir_.File("ZELCOMM.INI"); }

    // The block written at every start when ZELCOMM.INI holds `ini` and the
    // mask has no 1024 (no date line: the library is linked statically).
    std::string StartBlock(int mask, const std::string& ini) const {
        return "[Diagnostic protocol started(" + std::to_string(mask) + ",1024):   <TIME>\n]\r\n" +
               "[Name ZelComm for Linux]\r\n" + "[Copyright " + LibraryCopyright() + "]\r\n" +
               "[Version " ZELCOMM_VERSION_TEXT "]\r\n" + "[INI file: " + IniPath() + "]\r\n" + ini;
    }

    TempDir dir_;
    zeltest::ScopedEnv protocolDir_;
    zeltest::ScopedEnv ini_;
};

TEST_F(ProtocolTest, WhileOffNothingIsCreatedOrTouched) {
    dir_.Write("Protocol.dat", "old dat");
    dir_.Write("Protocol.bak", "old bak");
    KvGProtLog("[plain]\r\n", -1);
    KvGProtLog("[%d %d]\r\n", 1, 2, -1);
    KvGProtWrite("[direct]\r\n", -1);
    Stop();  // ending a protocol that never started
    EXPECT_FALSE(ProtocolOn());
    EXPECT_EQ(ProtocolPath(), "");
    EXPECT_EQ(Dat(), "old dat");
    EXPECT_EQ(ReadWholeFile(dir_.File("Protocol.bak")), "old bak");

    TempDir empty;
    zeltest::ScopedEnv other("ZELCOMM_PROTOCOL_DIR", empty.path().c_str());
    KvGProtLog("[plain]\r\n", -1);
    EXPECT_FALSE(zeltest::PathExists(empty.File("Protocol.dat")));
}

TEST_F(ProtocolTest, StartKeepsPreviousFileAsBackup) {
    WriteIni(kIni);
    dir_.Write("Protocol.dat", "previous run");
    dir_.Write("Protocol.bak", "run before");
    Start(64);
    EXPECT_TRUE(ProtocolOn());
    EXPECT_EQ(ProtocolPath(), dir_.File("Protocol.dat"));
    Stop();
    EXPECT_EQ(ReadWholeFile(dir_.File("Protocol.bak")), "previous run");
    EXPECT_EQ(NormalizeTimes(Dat()).rfind(StartBlock(64, kIni), 0), 0u);

    // A second start in the same process rotates again and starts afresh.
    std::string first = Dat();
    Start(64);
    Stop();
    EXPECT_EQ(ReadWholeFile(dir_.File("Protocol.bak")), first);
    EXPECT_EQ(NormalizeTimes(Dat()).rfind(StartBlock(64, kIni), 0), 0u);
}

// Which lines each "Protocol" value lets through: one line of each class is
// logged after the start, then the protocol ends.
TEST_F(ProtocolTest, MaskSelectsLineClasses) {
    struct Case {
        int value;
        int maskInForce;
        bool stepLines;       // the start-up steps of mask 1024
        std::string logged;   // what passes of the lines logged after the start
        std::string endLines; // what the end writes
    };
    const std::string closing = "[KvDiagProtSetupFile closing hDiagProtFile]\r\n";
    const std::string terminated = "[Protocol terminated: <TIME>\n]\r\n";
    const Case cases[] = {
        {-1, 24, false, "[class 8]\r\n", ""},
        {0, 24, false, "[class 8]\r\n", ""},
        {64, 64, false, "[class 64]\r\n", closing},
        {1096, 1096, true, "[class 8]\r\n[class 64]\r\n", closing},
        {68, 68, false, "[class 64]\r\n[class 4]\r\n", closing + terminated},
        {32 | 4, 36, false, "[class 32]\r\n[class 4]\r\n", terminated},
    };
    WriteIni(kIni);
    for (const Case& c : cases) {
        SCOPED_TRACE("Protocol=" + std::to_string(c.value));
        Start(c.value);
        EXPECT_EQ(ProtocolMask(), c.maskInForce);
        for (int mask : {kLogData, kLogError, kLogTrace, kLogEnd}) KvGProtLog("[class %d]\r\n", mask, mask);
        Stop();
        std::string expected = "[Diagnostic protocol started(" + std::to_string(c.value) +
                               ",1024):   <TIME>\n]\r\n[Name ZelComm for Linux]\r\n[Copyright " +
                               LibraryCopyright() + "]\r\n[Version " ZELCOMM_VERSION_TEXT "]\r\n";
        if (c.stepLines)
            expected += "[KvGProtFileVersion done]\r\n[KvGProtIniCfg()]\r\n[KvGProtIniCfg(), opening " + IniPath() +
                        " ...]\r\n";
        expected += "[INI file: " + IniPath() + "]\r\n" + kIni;
        if (c.stepLines) expected += "[KvGProtIniCfg() done]\r\n";
        expected += c.logged + c.endLines;
        EXPECT_EQ(NormalizeTimes(Dat()), expected);
        EXPECT_FALSE(ProtocolOn());
    }
}

TEST_F(ProtocolTest, NothingIsWrittenAfterTheEnd) {
    WriteIni(kIni);
    Start(64 | 4);
    Stop();
    std::string ended = Dat();
    ASSERT_NE(ended, "");
    KvGProtLog("[late]\r\n", kLogTrace);
    KvGProtWrite("[late]\r\n", kLogTrace);
    EXPECT_EQ(Dat(), ended);
}

TEST_F(ProtocolTest, TickPrefixOnLoggedLinesOnly) {
    WriteIni(kIni);
    VirtualClock clock(1234567);
    ScopedClock scoped(clock);
    Start(64 | 256);
    KvGProtLog("[TController%d::KvCOnEventChar()]\r\n", 0, kLogTrace);
    // A long line: the prefix counts towards the 511 characters and the cut
    // keeps the line end.
    KvGProtLog(Repeat('x', 600).c_str(), kLogTrace);
    clock.Advance(10);
    KvGProtLog("[after]\r\n", kLogTrace);
    Stop();
    std::string expectedLong = "1234567-" + Repeat('x', 511 - 8);
    std::string expected = StartBlock(320, kIni) +
                           "1234567-[TController0::KvCOnEventChar()]\r\n" + expectedLong +
                           "1234577-[after]\r\n" + "1234577-[KvDiagProtSetupFile closing hDiagProtFile]\r\n";
    EXPECT_EQ(NormalizeTimes(Dat()), expected);

    Start(64 | 256);
    KvGProtLog((Repeat('y', 600) + "\r\n").c_str(), kLogTrace);
    Stop();
    EXPECT_NE(Dat().find("1234577-" + Repeat('y', 511 - 8 - 2) + "\r\n1234577-[KvDiagProtSetupFile closing"),
              std::string::npos);
}

// Each text argument is cut to its form's limit L: L characters pass,
// L + 1 become L - 1 characters and '#'.
TEST_F(ProtocolTest, TextArgumentsAreCutPerForm) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> log;
        size_t limit;
        std::string expectedPrefix, expectedSuffix;
    };
    const Case cases[] = {
        {"format,text", [](const std::string& s) { KvGProtLog("[R:%s]\r\n", s.c_str(), kLogData); }, 480, "[R:", "]\r\n"},
        {"format,int,text", [](const std::string& s) { KvGProtLog("[In (%d)]\r\n%s", 7, s.c_str(), kLogData); },
         480, "[In (7)]\r\n", ""},
        {"format,int,int,text",
         [](const std::string& s) { KvGProtLog("[Out GR %d (%d exp.):%s]\r\n", 1, 2, s.c_str(), kLogData); }, 460,
         "[Out GR 1 (2 exp.):", "]\r\n"},
        {"format,text,text (first)",
         [](const std::string& s) { KvGProtLog("[TController::In=%s+%s]\r\n", s.c_str(), "b", kLogData); }, 200,
         "[TController::In=", "+b]\r\n"},
        {"format,text,text (second)",
         [](const std::string& s) { KvGProtLog("[TController::In=%s+%s]\r\n", "a", s.c_str(), kLogData); }, 200,
         "[TController::In=a+", "]\r\n"},
        {"format,int,int,text,text",
         [](const std::string& s) { KvGProtLog("[Out V%d (%d/%s exp.):%s]\r\n", 3, 4, s.c_str(), "c", kLogData); },
         460, "[Out V3 (4/", " exp.):c]\r\n"},
    };
    WriteIni("");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string exact = Repeat('a', c.limit);
        std::string over = Repeat('b', c.limit + 1);
        std::string huge = Repeat('c', 1000);
        Start(8);
        size_t begin = Dat().size();
        c.log(exact);
        c.log(over);
        c.log(huge);
        Stop();
        std::string written = Dat().substr(begin);
        EXPECT_EQ(written, c.expectedPrefix + exact + c.expectedSuffix + c.expectedPrefix +
                               Repeat('b', c.limit - 1) + "#" + c.expectedSuffix + c.expectedPrefix +
                               Repeat('c', c.limit - 1) + "#" + c.expectedSuffix);
        EXPECT_EQ(over.size(), c.limit + 1);  // the caller's text keeps its length
    }
}

TEST_F(ProtocolTest, LinesAreBoundedTo511Characters) {
    WriteIni("");
    Start(8);
    size_t begin = Dat().size();
    // 460 + 400 characters of text: the formatted line is cut, its CR LF kept.
    KvGProtLog("[%d %d %s|%s]\r\n", 1, 2, Repeat('a', 460).c_str(), Repeat('b', 400).c_str(), kLogData);
    // A plain text without line end is cut at 511 characters.
    KvGProtLog(Repeat('p', 700).c_str(), kLogData);
    KvGProtLog("[next]\r\n", kLogData);
    // A text form without limit of its own is bounded too.
    KvGProtLog("[%s %d]\r\n", Repeat('q', 600).c_str(), 5, kLogData);
    // Handles are shown as the low 32 bits with "%x".
    KvGProtLog("[HWND=0x%x, Message=0x%x, LParam=0x%x, WParam=0x%x]\r\n", intptr_t{0x7fff12345678}, 0x10, 3, 4,
               kLogData);
    Stop();
    std::string lineA = "[1 2 " + Repeat('a', 460) + "|" + Repeat('b', 511 - 6 - 460 - 2) + "\r\n";
    std::string lineQ = "[" + Repeat('q', 511 - 1 - 2) + "\r\n";
    EXPECT_EQ(lineA.size(), 511u);
    EXPECT_EQ(Dat().substr(begin), lineA + Repeat('p', 511) + "[next]\r\n" + lineQ +
                                       "[HWND=0x12345678, Message=0x10, LParam=0x3, WParam=0x4]\r\n");
}

// The INI copy: every line once, CR LF removed and written anew, empty lines
// left out, long lines in pieces of 511 characters, zero bytes kept.
TEST_F(ProtocolTest, IniFileIsCopiedLineByLine) {
    struct Case {
        const char* name;
        std::string content, copy;
    };
    const std::string l511 = Repeat('L', 511), l510 = Repeat('M', 510), l600 = Repeat('N', 600);
    const Case cases[] = {
        {"last line with CR LF", "[Startup]\r\nProtocol=64\r\n", "[Startup]\r\nProtocol=64\r\n"},
        {"last line without line end", "[Startup]\nProtocol=64", "[Startup]\r\nProtocol=64\r\n"},
        {"empty lines", "\r\n\r\nA=1\r\n\n\r\n", "A=1\r\n"},
        {"empty file", "", ""},
        {"511 characters", l511 + "\r\nB=2\r\n", l511 + "\r\nB=2\r\n"},
        {"510 characters", l510 + "\r\nB=2\r\n", l510 + "\r\nB=2\r\n"},
        {"600 characters", l600 + "\r\nB=2\r\n", Repeat('N', 511) + "\r\n" + Repeat('N', 89) + "\r\nB=2\r\n"},
        {"zero byte", std::string("A\0B=1\r\n", 7), std::string("A\0B=1\r\n", 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteIni(c.content);
        Start(8);
        KvGProtLog("[end of start]\r\n", kLogData);
        Stop();
        std::string header = "[INI file: " + IniPath() + "]\r\n";
        std::string dat = Dat();
        size_t from = dat.find(header);
        size_t to = dat.find("[end of start]\r\n");
        ASSERT_NE(from, std::string::npos);
        ASSERT_NE(to, std::string::npos);
        from += header.size();
        EXPECT_EQ(dat.substr(from, to - from), c.copy);
    }
}

TEST_F(ProtocolTest, MissingIniFileIsReported) {
    // No ZELCOMM.INI written.
    Start(1024 | 8);
    KvGProtLog("[end of start]\r\n", kLogData);
    Stop();
    std::string dat = Dat();
    EXPECT_NE(dat.find("[KvGProtIniCfg(), opening " + IniPath() + " ...]\r\n[Error opening INI file " + IniPath() +
                       "]\r\n[end of start]\r\n"),
              std::string::npos);
    EXPECT_EQ(dat.find("[INI file:"), std::string::npos);
    EXPECT_EQ(dat.find("[KvGProtIniCfg() done]"), std::string::npos);
}

struct CapturedBox {
    int calls = 0;
    ZelWindow owner = -1;
    std::string text, caption;
    unsigned type = 0;
};

int CaptureBox(void* context, ZelWindow owner, const char* text, const char* caption, unsigned type) {
    auto* box = static_cast<CapturedBox*>(context);
    ++box->calls;
    box->owner = owner;
    box->text = text;
    box->caption = caption;
    box->type = type;
    return ZEL_IDOK;
}

TEST_F(ProtocolTest, UncreatableFileShowsBoxAndProtocolRunsWithoutFile) {
    WriteIni(kIni);
    std::string missing = dir_.File("no/such/dir");
    zeltest::ScopedEnv unwritable("ZELCOMM_PROTOCOL_DIR", missing.c_str());
    CapturedBox box;
    SetMessageBoxHandler(CaptureBox, &box);
    Start(64 | 4 | 256);
    SetMessageBoxHandler(nullptr, nullptr);

    EXPECT_EQ(box.calls, 1);
    EXPECT_EQ(box.owner, 0);
    EXPECT_EQ(box.text, "Error creating protocol file");
    EXPECT_EQ(box.caption, "ZELComm.dll: ZelComm 51.1892");
    EXPECT_EQ(box.type, ZEL_MB_ICONWARNING);
    EXPECT_TRUE(ProtocolOn());
    KvGProtLog("[%s]\r\n", Repeat('z', 2000).c_str(), kLogTrace);
    KvGProtLog("[%d]\r\n", 1, kLogTrace);
    KvGProtWrite("[direct]\r\n", kLogTrace);
    Stop();
    EXPECT_FALSE(ProtocolOn());
    EXPECT_FALSE(zeltest::PathExists(missing));
}

// Lines of several threads never mix: every line arrives whole, once, and
// each thread's lines keep their order.
TEST_F(ProtocolTest, ConcurrentLinesStayWhole) {
    constexpr int kThreads = 4;
    constexpr int kLines = 2000;
    WriteIni("");
    Start(8);
    KvGProtLog("[go]\r\n", kLogData);
    const std::string filler = Repeat('f', 300);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &filler] {
            for (int i = 0; i < kLines; ++i) {
                if (i % 2 == 0)
                    KvGProtLog("[T%d L%d]\r\n", t, i, kLogData);
                else
                    KvGProtLog("[T%d L%d %s]\r\n", t, i, filler.c_str(), "", kLogData);
            }
        });
    }
    for (std::thread& th : threads) th.join();
    Stop();

    std::string dat = Dat();
    size_t from = dat.find("[go]\r\n");
    ASSERT_NE(from, std::string::npos);
    std::istringstream in(dat.substr(from + 6));
    std::vector<int> next(kThreads, 0);
    std::string line;
    static const std::regex pattern(R"(\[T(\d) L(\d+)( f{300})?\]\r)");
    int bad = 0;
    while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, pattern)) {
            ++bad;
            continue;
        }
        int t = std::stoi(m[1]);
        int i = std::stoi(m[2]);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(i, next[t]) << "thread " << t;
        EXPECT_EQ(m[3].matched, i % 2 == 1);
        next[t] = i + 1;
    }
    EXPECT_EQ(bad, 0);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines) << "thread " << t;
}

// Loaded as a shared library, the start-up block carries the date and time
// of the library file. The library is loaded in a child process, so that its
// load and unload run as in an application.
TEST_F(ProtocolTest, SharedLibraryWritesItsFileDate) {
    WriteIni("[Startup]\r\nProtocol=64\r\nMode=DEMO\r\n");
    std::time_t stamp = 0;
    ASSERT_TRUE(FileModificationTime(ZELCOMM_SHARED_LIBRARY_PATH, stamp));
    pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        void* library = ::dlopen(ZELCOMM_SHARED_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library) ::dlclose(library);
        ::_exit(library ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "dlopen failed";
    std::string dat = NormalizeTimes(Dat());
    std::string expected = "[Diagnostic protocol started(64,1024):   <TIME>\n]\r\n[ZelComm.dll FileDate/Time " +
                           ShortDateText(stamp) + ", " + LongTimeText(stamp) + "]\r\n[Name ZelComm for Linux]\r\n";
    EXPECT_EQ(dat.rfind(expected, 0), 0u) << dat.substr(0, 300);
}

}  // namespace
}  // namespace zel
