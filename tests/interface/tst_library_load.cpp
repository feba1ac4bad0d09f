// Library load and unload: configuration keys, connect texts, the load in a
// fresh process, the test-point diagnostics.
#include "common/library_fixture.h"
#include "platform/zel_messages.h"
#include "serial/kv_serial.h"
#include "support/library_state.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

using zeltest::LibraryFixture;

namespace {

struct ConfigCase {
    const char* name;
    const char* ini;
    int timeout;
    int interfaceKind;
    int model;
    const char* typeName;
    bool xonXoff;
};

class ConfigurationKeys : public LibraryFixture, public ::testing::WithParamInterface<ConfigCase> {};

TEST_P(ConfigurationKeys, TakeEffectAtLoad) {
    const ConfigCase& p = GetParam();
    Load(p.ini);
    EXPECT_EQ(C().nCTimeout, p.timeout);
    EXPECT_EQ(C().nCInterface, p.interfaceKind);
    EXPECT_EQ(C().ucCType, p.model);
    EXPECT_EQ(C().sCTypeName, p.typeName);
    EXPECT_EQ(C().pCSerial->bXonXoff, p.xonXoff);
    EXPECT_EQ(C().AxesCount(), 0) << "no axes until InitController";
}

const std::string kLongLine(100000, 'x');
const std::string kGarbage = std::string("\x01\xff\x00[Startup\n", 12) + kLongLine + "\n=\n[\n;\n\xfe=\xfd\n";

INSTANTIATE_TEST_SUITE_P(
    Table, ConfigurationKeys,
    ::testing::Values(
        ConfigCase{"NoFile", nullptr, 1000, 1, 0, "Default", true},
        ConfigCase{"EmptyFile", "", 1000, 1, 0, "Default", true},
        ConfigCase{"TimeOutZero", "[Startup]\nTimeOut=0\n", 1000, 1, 0, "Default", true},
        ConfigCase{"TimeOut250", "[startup]\ntimeout = 250\n", 250, 1, 0, "Default", true},
        ConfigCase{"TimeOutText", "[Startup]\nTimeOut=abc\n", 1000, 1, 0, "Default", true},
        ConfigCase{"TimeOutNegative", "[Startup]\nTimeOut=-5\n", 1000, 1, 0, "Default", true},
        ConfigCase{"ModeDemo", "[Startup]\nMode=DEMO\n", 1000, 4, 0, "Default", true},
        ConfigCase{"ModeLowerCaseIsSerial", "[Startup]\nMode=demo\n", 1000, 1, 0, "Default", true},
        ConfigCase{"CModeVarne", "[Startup]\nCMode=Varne\n", 1000, 1, 1, "Varne-PC", true},
        ConfigCase{"CModeUlmeta", "[Startup]\nCMode=Ulmeta\n", 1000, 1, 6, "Ulmeta", true},
        ConfigCase{"CModeJovek", "[Startup]\nCMode=Jovek\n", 1000, 1, 5, "Jovek", true},
        ConfigCase{"CModeIsCaseSensitive", "[Startup]\nCMode=prusk\n", 1000, 1, 0, "prusk", true},
        ConfigCase{"CModeUnknownKeepsName", "[Startup]\nCMode=Foo Bar\n", 1000, 1, 0, "Foo Bar", true},
        ConfigCase{"XonXoffOff", "[Startup]\nUseXOnXOff=0\n", 1000, 1, 0, "Default", false},
        ConfigCase{"OtherSectionIgnored", "[Other]\nTimeOut=5\nMode=DEMO\n", 1000, 1, 0, "Default", true},
        ConfigCase{"Garbage", kGarbage.c_str(), 1000, 1, 0, "Default", true}),
    [](const ::testing::TestParamInfo<ConfigCase>& info) { return std::string(info.param.name); });

class LoadTest : public LibraryFixture {};

TEST_F(LoadTest, DefaultsForInitControllerComeFromTheFile) {
    Load("[Startup]\nPort=5\nBaudrate=19200\nAxes=2\n");
    ASSERT_EQ(InitController(1, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(C().sCName, "Controller5");
    EXPECT_EQ(C().ucCBaudCode, 3);
    EXPECT_EQ(C().AxesCount(), 2);
}

TEST_F(LoadTest, ConfiguredConnectTextsAreDecoded) {
    Load("[Startup]\nUseDefaultConnectString=0\nConnectString=0 mode[13][10]clear[13][10]\n"
         "ConnectReply=0[13][10]\n");
    EXPECT_FALSE(C().bCUseDefaultConnect);
    EXPECT_EQ(C().sCConnectString, "0 mode\r\nclear\r\n");
    EXPECT_EQ(C().sCConnectReply, "0\r\n");
    // Later model selections keep the configured texts.
    C().KvCSelectModelByType(4);
    EXPECT_EQ(C().sCConnectString, "0 mode\r\nclear\r\n");
}

TEST_F(LoadTest, DefaultConnectTextsFollowTheModel) {
    Load("[Startup]\nCMode=Prusk\nPruskMode=1\n");
    EXPECT_TRUE(C().bCUseDefaultConnect);
    EXPECT_EQ(C().sCConnectString, "0 %d nmode\r\n%d nclear\r\n-1 %d snv %d gne %d gne %d gne\r\n");
    EXPECT_EQ(C().sCConnectReply, "0\r\n0\r\n");
}

struct CapturedBox {
    std::string text, caption;
    unsigned type;
};

std::mutex gBoxMutex;
std::vector<CapturedBox> gBoxes;

int CaptureBox(void*, ZelWindow, const char* text, const char* caption, unsigned type) {
    std::lock_guard<std::mutex> lock(gBoxMutex);
    gBoxes.push_back({text, caption, type});
    return ZEL_IDOK;
}

class BoxCapture : public LibraryFixture {
protected:
    void SetUp() override {
        gBoxes.clear();
        zel::SetMessageBoxHandler(CaptureBox, nullptr);
    }
    void TearDown() override {
        LibraryFixture::TearDown();
        zel::SetMessageBoxHandler(nullptr, nullptr);
    }
};

TEST_F(BoxCapture, ConnectReplyWithoutConnectStringWarnsAndKeepsTheDefault) {
    Load("[Startup]\nUseDefaultConnectString=0\nConnectReply=0[13][10]\n");
    ASSERT_EQ(gBoxes.size(), 1u);
    EXPECT_EQ(gBoxes[0].type & 0xF0u, ZEL_MB_ICONWARNING);
    EXPECT_NE(gBoxes[0].caption.find("ZELComm.dll: "), std::string::npos);
    EXPECT_FALSE(gBoxes[0].text.empty());
    EXPECT_TRUE(C().bCUseDefaultConnect);
    EXPECT_EQ(C().sCConnectString, "0 mode\r\nclear\r\n0 setioport\r\nm ge ge ge\r\n");
}

TEST_F(BoxCapture, TestPointTwoRunsTheDiagnosticsInsteadOfConfiguring) {
    Load("[Startup]\nTestPointMode=2\n");
    EXPECT_EQ(InitController(1, 3, 1, 9600, 0, 0, 0), 0);
    EXPECT_EQ(C().AxesCount(), 0);
    Unload();  // joins the diagnostic thread, so its box is in
    std::vector<std::string> heads;
    for (const CapturedBox& box : gBoxes) {
        EXPECT_EQ(box.caption, "ZelComm.dll");
        heads.push_back(box.text.substr(0, box.text.find('=')));
    }
    const std::vector<std::string> expected = {"GetCurrentProcess", "GetPriorityClass", "GetCurrentProcessId",
                                               "GetCurrentThread",  "GetCurrentThreadId", "GetThreadPriority",
                                               "CreateThread",      "MyNewThreadFunc()"};
    ASSERT_EQ(heads.size(), expected.size());
    // The thread's own box may come before or after the CreateThread box.
    std::sort(heads.begin() + 6, heads.end());
    EXPECT_EQ(heads, expected);
}

struct DecodeCase {
    std::string in, out;
};

class ConnectTextDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(ConnectTextDecoding, DecodesBracketCodes) {
    EXPECT_EQ(zel::DecodeConnectText(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConnectTextDecoding,
    ::testing::Values(DecodeCase{"0 mode[13][10]clear[13][10]", "0 mode\r\nclear\r\n"},
                      DecodeCase{"a[9]b", "a[9]b"}, DecodeCase{"a[09]b", "a\tb"},
                      DecodeCase{"[]x", "[]x"}, DecodeCase{"unclosed [13", "unclosed [13"},
                      DecodeCase{"[[13]", "[\r"}, DecodeCase{"[ab]", "[ab]"},
                      DecodeCase{"[00]", "[00]"}, DecodeCase{"[256]", "[256]"}, DecodeCase{"[255]", "\xff"},
                      DecodeCase{"[99999999999999999999]", "[99999999999999999999]"},
                      DecodeCase{std::string(250, 'a') + "[13][10]", std::string(250, 'a') + "\r[10]"},
                      DecodeCase{std::string(300, 'b') + "[13]", std::string(300, 'b') + "[13]"},
                      DecodeCase{"", ""}));

// The shared library loaded by a fresh process with no configuration file.
TEST(SharedLibrary, LoadsInAFreshProcessWithoutConfiguration) {
    zeltest::TempDir dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("ZELCOMM_INI", dir.File("none/ZELCOMM.INI").c_str(), 1);
        void* lib = ::dlopen(ZELCOMM_SHARED_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!lib) ::_exit(10);
        using Init = int (*)(int, int, int, int, ZelWindow, unsigned, unsigned);
        auto init = reinterpret_cast<Init>(::dlsym(lib, "InitController"));
        if (!init) ::_exit(11);
        if (init(1, 0, 0, 0, 0, 0, 0) != 0) ::_exit(12);
        if (init(2, 3, 1, 19200, 0, 0, 0) != 9) ::_exit(13);
        // Internal names stay hidden: only the exported calls are visible.
        if (::dlsym(lib, "_ZN3zel16ZelLibraryAttachEv")) ::_exit(14);
        ::dlclose(lib);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

namespace {

TEST_F(LoadTest, WaitModeMinusOneReadsSerialModeEachTimeItIsApplied) {
    Load("[Startup]\nSerialMode=2114\n");  // 0x842: line mode 2, signal mode 1
    ASSERT_EQ(InitController(1, 3, 1, 9600, 0, 0, 0xFFFFFFFFu), 0);
    EXPECT_EQ(C().ucCSignalMode, 1);
    EXPECT_EQ(C().pCSerial->unLineMode, 2u);
    dir_.Write("ZELCOMM.INI", "[Startup]\nSerialMode=512\n");
    ASSERT_EQ(InitController(1, 3, 1, 9600, 0, 0, 0xFFFFFFFFu), 0);
    EXPECT_EQ(C().ucCSignalMode, 4);
}

TEST_F(LoadTest, WaitModeMinusOneWithoutFileUsesTheDefault) {
    Load(nullptr);
    ASSERT_EQ(InitController(1, 3, 1, 9600, 0, 0, 0xFFFFFFFFu), 0);
    EXPECT_EQ(C().ucCSignalMode, 3);
    EXPECT_EQ(C().unCEventKind, 0x800u);
    EXPECT_EQ(C().pCSerial->unLineMode, 4u);
}

}  // namespace
