// The library's message box, module numbers, system-error reports and
// message texts.
#include "support/error_report.h"

#include "common/test_util.h"
#include "platform/zel_messages.h"
#include "platform/zel_paths.h"
#include "platform/zel_system.h"
#include "support/protocol_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace zel {
namespace {

struct Box {
    ZelWindow owner;
    std::string text, caption;
    unsigned type;
};

struct BoxCapture {
    std::vector<Box> boxes;
    int answer = ZEL_IDOK;
};

int Capture(void* context, ZelWindow owner, const char* text, const char* caption, unsigned type) {
    auto* capture = static_cast<BoxCapture*>(context);
    capture->boxes.push_back({owner, text, caption, type});
    return capture->answer;
}

class ErrorReportTest : public ::testing::Test {
protected:
    ErrorReportTest() { SetMessageBoxHandler(Capture, &capture_); }
    ~ErrorReportTest() override { SetMessageBoxHandler(nullptr, nullptr); }
    BoxCapture capture_;
};

TEST_F(ErrorReportTest, CaptionCarriesTitleModuleAndPlace) {
    struct Case {
        const char* title;
        int module;
        int place;
        std::string caption;
    };
    const std::string longTitle(300, 'T');
    const Case cases[] = {
        {"ZelComm", kModuleSerial, 1994, "ZELComm.dll: ZelComm 43.1994"},
        {"ZelComm", kModuleInterface, 12, "ZELComm.dll: ZelComm 0.12"},
        {"", kModuleSupport, 1892, "ZELComm.dll:  51.1892"},
        {nullptr, kModuleEngine, 7, "ZELComm.dll:  50.7"},
        {longTitle.c_str(), kModuleSupport, 1892, "ZELComm.dll: " + std::string(127 - 13, 'T')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        capture_.boxes.clear();
        capture_.answer = ZEL_IDYES;
        EXPECT_EQ(ErrorMessageBox(1234, "message", c.title, c.module, c.place, ZEL_MB_ICONWARNING | ZEL_MB_YESNO),
                  ZEL_IDYES);
        ASSERT_EQ(capture_.boxes.size(), 1u);
        EXPECT_EQ(capture_.boxes[0].caption, c.caption);
        EXPECT_EQ(capture_.boxes[0].text, "message");
        EXPECT_EQ(capture_.boxes[0].owner, 1234);
        EXPECT_EQ(capture_.boxes[0].type, ZEL_MB_ICONWARNING | ZEL_MB_YESNO);
    }
}

TEST(ErrorMessageBoxWithoutHandler, ReturnsZero) {
    EXPECT_EQ(ErrorMessageBox(0, nullptr, nullptr, 0, 1, ZEL_MB_OK), 0);
}

TEST_F(ErrorReportTest, BoxIsLoggedWithCutTexts) {
    zeltest::TempDir dir;
    zeltest::ScopedEnv protocolDir("ZELCOMM_PROTOCOL_DIR", dir.path().c_str());
    zeltest::ScopedEnv ini("ZELCOMM_INI", dir.File("none.ini").c_str());
    ResetConfigPath();
    KvDiagProtSetupFile(true, 32, 1);
    const std::string before = zeltest::ReadWholeFile(dir.File("Protocol.dat"));
    const std::string text(300, 'm');
    ErrorMessageBox(0, text.c_str(), "ZelComm", kModuleSerial, 1994, ZEL_MB_ICONWARNING);
    KvDiagProtSetupFile(false, -1, 1);
    ResetConfigPath();
    std::string dat = zeltest::ReadWholeFile(dir.File("Protocol.dat"));
    ASSERT_GT(dat.size(), before.size());
    EXPECT_EQ(dat.substr(before.size()), "[ErrorMessageBox: " + std::string(199, 'm') +
                                             "# ZELComm.dll: ZelComm 43.1994]\r\n[ErrorMessageBox done]\r\n");
    ASSERT_EQ(capture_.boxes.size(), 1u);
    EXPECT_EQ(capture_.boxes[0].text, text);  // the box shows the whole text
}

TEST(KvModuleNumber, FirstKnownModuleNameInTheFileName) {
    struct Case {
        const char* name;
        int number;
    };
    const Case cases[] = {
        {"KvSerial.cpp", 43},
        {"c:\\src\\zpcontrl.cpp", 50},
        {"ZPGLBF.CPP", 51},
        {"ZelComm.cpp", 0},
        {"zpglbf_kvserial.cpp", 43},  // the list order decides, not the position
        {"kvseria.cpp", 0},
        {"", 0},
        {nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        EXPECT_EQ(KvModuleNumber(c.name), c.number);
    }
}

TEST_F(ErrorReportTest, LastErrorIntoBufferShowsNoBox) {
    struct Case {
        std::string prefix;
        size_t size;
    };
    const Case cases[] = {
        {"GetLastError() returned: ", 260},
        {"GetLastError returned: ", 12},
        {std::string(400, 'p'), 1000},
        {"", 260},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix.substr(0, 30) + " size " + std::to_string(c.size));
        std::string full = (c.prefix + ": " + SystemErrorText(ENOENT)).substr(0, 259);
        std::string expected = full.substr(0, c.size - 1);
        std::vector<char> buffer(c.size + 8, '#');
        SetLastError(ENOENT);
        KvShowLastError(c.prefix.c_str(), buffer.data(), c.size);
        EXPECT_STREQ(buffer.data(), expected.c_str());
        EXPECT_EQ(buffer[c.size], '#');  // nothing beyond the given size
    }
    char untouched[2] = {'#', '#'};
    KvShowLastError("x", untouched, 0);
    EXPECT_EQ(untouched[0], '#');
    EXPECT_TRUE(capture_.boxes.empty());
}

TEST_F(ErrorReportTest, LastErrorWithoutBufferShowsInformationBox) {
    SetLastError(EACCES);
    KvShowLastError("CreateEvent()-Error", nullptr);
    SetLastError(EINVAL);
    KvShowLastError(nullptr, nullptr);
    ASSERT_EQ(capture_.boxes.size(), 2u);
    EXPECT_EQ(capture_.boxes[0].text, "CreateEvent()-Error: " + SystemErrorText(EACCES));
    EXPECT_EQ(capture_.boxes[0].caption, "GetLastError");
    EXPECT_EQ(capture_.boxes[0].owner, 0);
    EXPECT_EQ(capture_.boxes[0].type, ZEL_MB_ICONINFORMATION | ZEL_MB_OK);
    EXPECT_EQ(capture_.boxes[1].text, ": " + SystemErrorText(EINVAL));
}

TEST(KvLoadText, KnownNumbersHaveTextsOthersAreEmpty) {
    EXPECT_EQ(KvLoadText(100), "ZelComm");
    for (int number : {101, 106, 109, 10107}) {
        std::string text = KvLoadText(number);
        EXPECT_FALSE(text.empty()) << number;
        EXPECT_LE(text.size(), 255u) << number;
    }
    for (int number : {0, -1, 99, 102, 10100, 20100}) EXPECT_EQ(KvLoadText(number), "") << number;
}

}  // namespace
}  // namespace zel
