#include "platform/zel_system.h"

#include "common/test_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <ctime>
#include <iterator>
#include <string>
#include <thread>

#include <unistd.h>

namespace zel {
namespace {

using zeltest::ScopedEnv;

struct LocaleEnv {
    const char *all, *numeric, *lang;  // nullptr: unset
    char expected;
};

void ExpectSeparators(const LocaleEnv* cases, size_t count) {
    const std::string processLocale = std::setlocale(LC_ALL, nullptr);
    for (size_t i = 0; i < count; ++i) {
        const LocaleEnv& c = cases[i];
        ScopedEnv all("LC_ALL", c.all), numeric("LC_NUMERIC", c.numeric), lang("LANG", c.lang);
        EXPECT_EQ(SystemDecimalSeparator(), c.expected)
            << "LC_ALL=" << (c.all ? c.all : "(unset)")
            << " LC_NUMERIC=" << (c.numeric ? c.numeric : "(unset)")
            << " LANG=" << (c.lang ? c.lang : "(unset)");
    }
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), processLocale);  // never changed
}

TEST(DecimalSeparator, PointForTheCLocaleAndUnknownLocales) {
    const LocaleEnv cases[] = {
        {"C", nullptr, nullptr, '.'},
        {nullptr, nullptr, nullptr, '.'},
        {"", "", "", '.'},
        {"xx_NOWHERE.UTF-8", nullptr, nullptr, '.'},
        {nullptr, "C.UTF-8", "xx_NOWHERE", '.'},
    };
    ExpectSeparators(cases, std::size(cases));
}

TEST(DecimalSeparator, CommaLocaleByEnvironmentPrecedence) {
    const std::string comma = zeltest::CommaLocale();
    if (comma.empty()) GTEST_SKIP() << "no locale with a decimal comma is installed";
    const char* l = comma.c_str();
    const LocaleEnv cases[] = {
        {l, "C", "C", ','},
        {nullptr, l, "C", ','},
        {"", "", l, ','},
        {"C", l, l, '.'},          // LC_ALL comes first
        {nullptr, "C", l, '.'},    // then LC_NUMERIC
    };
    ExpectSeparators(cases, std::size(cases));
}

TEST(LastError, IsKeptPerThread) {
    SetLastError(ENOENT);
    int otherBefore = -1, otherAfter = -1;
    std::thread([&] {
        otherBefore = LastError();
        SetLastError(EACCES);
        otherAfter = LastError();
    }).join();
    EXPECT_EQ(otherBefore, 0);
    EXPECT_EQ(otherAfter, EACCES);
    EXPECT_EQ(LastError(), ENOENT);
}

TEST(SystemErrorText, SystemTextsEndWithCrLf) {
    EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory\r\n");
    EXPECT_EQ(SystemErrorText(EACCES), "Permission denied\r\n");
    const std::string unknown = SystemErrorText(987654);
    EXPECT_NE(unknown.find("987654"), std::string::npos) << unknown;
    EXPECT_EQ(unknown.substr(unknown.size() - 2), "\r\n");
}

TEST(PlatformInfo, ComesFromUname) {
    PlatformInfo info;
    ASSERT_TRUE(ReadPlatformInfo(info));
    EXPECT_EQ(info.sysname, "Linux");
    EXPECT_FALSE(info.release.empty());
    EXPECT_FALSE(info.version.empty());
    EXPECT_FALSE(info.machine.empty());
}

TEST(TimeTexts, FixedEnglishFormatInLocalTime) {
    struct Case {
        const char* tz;
        std::time_t t;
        const char *full, *date, *time;
    } cases[] = {
        {"UTC", 1046873229, "Wed Mar 05 14:07:09 2003\n", "2003-03-05", "14:07:09"},
        {"UTC", 0, "Thu Jan 01 00:00:00 1970\n", "1970-01-01", "00:00:00"},
        {"EET-2", 1046873229, "Wed Mar 05 16:07:09 2003\n", "2003-03-05", "16:07:09"},
        {"XST+10", 1046873229, "Wed Mar 05 04:07:09 2003\n", "2003-03-05", "04:07:09"},
        {"UTC", 1798761599, "Thu Dec 31 23:59:59 2026\n", "2026-12-31", "23:59:59"},
    };
    for (const Case& c : cases) {
        {
            ScopedEnv tz("TZ", c.tz);
            ::tzset();
            EXPECT_EQ(LocalTimeText(c.t), c.full) << c.tz << " " << c.t;
            EXPECT_EQ(ShortDateText(c.t), c.date) << c.tz << " " << c.t;
            EXPECT_EQ(LongTimeText(c.t), c.time) << c.tz << " " << c.t;
        }
        ::tzset();
    }
}

TEST(TimeTexts, NowHasTheSameShape) {
    const std::string now = LocalTimeNow();
    ASSERT_EQ(now.size(), 25u) << now;
    EXPECT_EQ(now.back(), '\n');
    EXPECT_EQ(now[3], ' ');
    EXPECT_EQ(now[13], ':');
}

TEST(Identities, ProcessAndThread) {
    EXPECT_EQ(ProcessId(), static_cast<int>(::getpid()));
    EXPECT_EQ(ThreadId(), ProcessId());  // the main thread's id is the process id
    int other = 0;
    std::thread([&] { other = ThreadId(); }).join();
    EXPECT_GT(other, 0);
    EXPECT_NE(other, ThreadId());
}

}  // namespace
}  // namespace zel
