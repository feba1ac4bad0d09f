// Decimal-separator conversion, trimming and the bounded buffer copy.
#include "support/number_text.h"

#include "common/test_util.h"
#include "platform/zel_paths.h"
#include "platform/zel_system.h"
#include "support/protocol_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace zel {
namespace {

struct DecSepCase {
    int mode;
    char character;
    const char* in;
    const char* out;
};

// Both forms of the conversion must give the same result.
void ExpectConversion(const DecSepCase& c) {
    SCOPED_TRACE(std::string("mode ") + std::to_string(c.mode) + " '" + c.character + "' on \"" + c.in + "\"");
    std::string text = c.in;
    KvSetDecSep(text, c.mode, c.character);
    EXPECT_EQ(text, c.out);
    char buffer[64];
    std::strcpy(buffer, c.in);
    KvSetDecSep(buffer, c.mode, c.character);
    EXPECT_STREQ(buffer, c.out);
}

TEST(KvSetDecSep, ConvertsEverySeparatorToTheModesTarget) {
    const DecSepCase cases[] = {
        {1, '.', "12,5", "12.5"},
        {1, '.', "1,000.5 -3,25", "1.000.5 -3.25"},
        {1, ';', "1;5 2,5", "1.5 2.5"},          // the user character is a separator too
        {3, ';', "1.5;2,5", "1;5;2;5"},
        {3, ',', "12.5 -3.25", "12,5 -3,25"},
        {3, '.', "a,b.c;d", "a.b.c;d"},            // only '.', ',' and the user character change
        {3, '\xB7', "1.5", "1\xB7" "5"},           // bytes, not characters of a code page
        {0, ';', "1.5;2,5", "1.5;2,5"},
        {4, ';', "1.5;2,5", "1.5;2,5"},
        {-1, ';', "1.5;2,5", "1.5;2,5"},
        {1, '.', "", ""},
        {1, '\0', "1,5", "1.5"},
        {3, '\0', "1.5", "1.5"},                   // a zero target would cut the text
    };
    for (const DecSepCase& c : cases) ExpectConversion(c);
    KvSetDecSep(static_cast<char*>(nullptr), 1, '.');
}

TEST(KvSetDecSep, ModeTwoUsesTheSystemSeparator) {
    const char s = SystemDecimalSeparator();
    std::string expected = std::string("12") + s + "5 -3" + s + "25 1" + s + "000" + s + "5";
    std::string text = "12.5 -3,25 1,000.5";
    KvSetDecSep(text, 2, ';');
    EXPECT_EQ(text, expected);
}

TEST(KvSetDecSep, WritesEntryAndExitLines) {
    zeltest::TempDir dir;
    zeltest::ScopedEnv protocolDir("ZELCOMM_PROTOCOL_DIR", dir.path().c_str());
    zeltest::ScopedEnv ini("ZELCOMM_INI", dir.File("none.ini").c_str());
    ResetConfigPath();
    KvDiagProtSetupFile(true, 64, 1);
    const std::string before = zeltest::ReadWholeFile(dir.File("Protocol.dat"));
    std::string text = "1.5";
    KvSetDecSep(text, 0, ';');
    KvSetDecSep(text, 3, '\0');  // a zero character must not end its line early
    KvDiagProtSetupFile(false, -1, 1);
    ResetConfigPath();
    std::string dat = zeltest::ReadWholeFile(dir.File("Protocol.dat"));
    ASSERT_GT(dat.size(), before.size());
    std::string expected = "[KvSetDecSep(0,;)]\r\n[KvSetDecSep() done]\r\n[KvSetDecSep(3,";
    expected += '\0';
    expected += ")]\r\n[KvSetDecSep() done]\r\n[KvDiagProtSetupFile closing hDiagProtFile]\r\n";
    EXPECT_EQ(dat.substr(before.size()), expected);
    EXPECT_EQ(text, "1.5");
}

TEST(KvTrim, RemovesLineEndsAndBlanksOnly) {
    struct Case {
        const char* in;
        const char* right;  // KvTrimRight
        const char* both;   // KvTrimText
    };
    const Case cases[] = {
        {"\r\n12.5\r\n", "\r\n12.5", "12.5"},
        {"\t12.5", "\t12.5", "\t12.5"},
        {"12.5\t \r\n", "12.5\t", "12.5\t"},
        {" \r\n \n\r ", "", ""},
        {"", "", ""},
        {"  a b  ", "  a b", "a b"},
        {"x", "x", "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.in + "\"");
        char buffer[32];
        std::strcpy(buffer, c.in);
        KvTrimRight(buffer);
        EXPECT_STREQ(buffer, c.right);
        std::string text = c.in;
        KvTrimText(text);
        EXPECT_EQ(text, c.both);
    }
    KvTrimRight(nullptr);
}

TEST(CopyToBuffer, StaysInsideTheBufferAndTerminates) {
    struct Case {
        size_t size;
        const char* text;
        const char* result;
    };
    const Case cases[] = {
        {1, "abc", ""},
        {3, "abc", "ab"},
        {4, "abc", "abc"},
        {10, "abc", "abc"},
        {4, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " \"" + c.text + "\"");
        char buffer[12];
        std::memset(buffer, '#', sizeof buffer);
        CopyToBuffer(buffer, c.size, c.text);
        EXPECT_STREQ(buffer, c.result);
        for (size_t i = c.size; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << "byte " << i;
    }
    char untouched[4] = {'#', '#', '#', '#'};
    CopyToBuffer(untouched, 0, "abc");
    EXPECT_EQ(std::string(untouched, 4), "####");
    CopyToBuffer(nullptr, 8, "abc");
}

}  // namespace
}  // namespace zel
