#include "platform/zel_profile.h"

#include "common/test_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>

namespace zel {
namespace {

const char kIni[] =
    "; leading comment\r\n"
    "Stray=before any section\r\n"
    "[Startup]\r\n"
    "  TimeOut = 250  \r\n"
    "Name=\t \"quoted value\" \n"
    "Single='x'\n"
    "Mixed=\"x'\n"
    "Inline=a ; not a comment\n"
    "NoEquals line\n"
    "  ; Indented=5\n"
    "=no key\n"
    "Empty=\n"
    "Speed=abc\n"
    "Offset=-12x\n"
    "Dup=first\n"
    "DUP=second\n"
    "  [ Ports ]  \n"
    "COM2 = /dev/ttyUSB0\n"
    "[Startup]\n"
    "Late=1\n"
    "TimeOut=999\n"
    "[Unclosed\n"
    "Key=open";

TEST(Profile, ReadsStringsWithTheWindowsRules) {
    const Profile p = Profile::FromText(kIni);
    struct Case {
        const char *section, *key, *expected;
    } cases[] = {
        {"Startup", "TimeOut", "250"},
        {"STARTUP", "timeout", "250"},          // names without regard to case
        {"Startup", "Name", "quoted value"},    // one pair of quotes removed
        {"Startup", "Single", "x"},
        {"Startup", "Mixed", "\"x'"},           // quotes that do not match stay
        {"Startup", "Inline", "a ; not a comment"},
        {"Startup", "NoEquals line", "<default>"},
        {"Startup", "; Indented", "<default>"},
        {"Startup", "Indented", "<default>"},
        {"Startup", "Empty", ""},
        {"Startup", "Dup", "first"},            // first line of a key wins
        {"Startup", "Late", "<default>"},       // a repeated section is not read
        {"Ports", "com2", "/dev/ttyUSB0"},      // blanks inside brackets trimmed
        {"Unclosed", "key", "open"},            // last line without line end
        {"", "Stray", "<default>"},             // lines before any section
        {"Missing", "TimeOut", "<default>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(p.ReadString(c.section, c.key, "<default>"), c.expected)
            << "[" << c.section << "] " << c.key;
        EXPECT_EQ(p.HasKey(c.section, c.key), std::string(c.expected) != "<default>")
            << "[" << c.section << "] " << c.key;
    }
}

TEST(Profile, ReadsIntegersWithTheWindowsRules) {
    const Profile p = Profile::FromText(kIni);
    EXPECT_EQ(p.ReadInteger("startup", "timeout", 7), 250);
    EXPECT_EQ(p.ReadInteger("Startup", "Speed", 7), 0);     // "abc"
    EXPECT_EQ(p.ReadInteger("Startup", "Offset", 7), -12);  // "-12x"
    EXPECT_EQ(p.ReadInteger("Startup", "Empty", 7), 7);     // empty value: the default
    EXPECT_EQ(p.ReadInteger("Startup", "Missing", 7), 7);
    EXPECT_EQ(p.ReadInteger("Missing", "TimeOut", -3), -3);
}

TEST(Profile, IntegerConversion) {
    struct Case {
        const char* text;
        int expected;
    } cases[] = {
        {"42", 42},           {"  \t+7", 7},         {"-0", 0},
        {"abc", 0},           {"0x10", 0},           {"12.5", 12},
        {"- 5", 0},           {"", 0},               {"+", 0},
        {"2147483647", INT_MAX},                     {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN},                    {"-2147483649", INT_MIN},
        {"99999999999999999999999999", INT_MAX},     {"-99999999999999999999999999", INT_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(ProfileInteger(c.text), c.expected) << '"' << c.text << '"';
}

TEST(Profile, HostileContentNeverFaults) {
    const std::string longValue(100000, 'v');
    std::string text = "[A]\nLong=" + longValue + "\n" + std::string(100000, '=') + "\n";
    text += std::string("Bin=\x01\xff", 6) + std::string(1, '\0') + "\x7f\n";
    text += std::string("N\0l=1\n", 6);
    text += "\r\r\n\rK=5\n";
    text += std::string(100000, '[') + "\n[B]\nAfter=1\n";
    const Profile p = Profile::FromText(text);
    EXPECT_EQ(p.ReadString("A", "Long", ""), longValue);
    EXPECT_EQ(p.ReadString("A", "Bin", ""), std::string("\x01\xff\0\x7f", 4));
    EXPECT_EQ(p.ReadInteger("A", "K", 0), 5);
    EXPECT_EQ(p.ReadInteger("B", "After", 0), 1);

    // Random bytes, with the characters the parser looks for made frequent.
    std::mt19937 random(12345);
    const std::string alphabet = std::string("[]=;\"' \t\r\nAk1", 13) + std::string(1, '\0') + "\xff";
    for (int round = 0; round < 2000; ++round) {
        std::string garbage(random() % 300, '\0');
        for (char& ch : garbage) ch = alphabet[random() % alphabet.size()];
        const Profile g = Profile::FromText(garbage);
        g.ReadString("A", "k", "");
        g.ReadInteger("k", "A", 0);
    }
}

TEST(ProfileFile, LoadsCrLfFiles) {
    zeltest::TempDir dir;
    const Profile p = Profile::Load(dir.Write("zelcomm.ini", "[Startup]\r\nSerialMode=64\r\n"));
    EXPECT_TRUE(p.Loaded());
    EXPECT_EQ(p.ReadString("Startup", "SerialMode", ""), "64");
}

TEST(ProfileFile, MissingOrUnreadableFileIsEmpty) {
    zeltest::TempDir dir;
    for (const std::string& path : {dir.File("missing.ini"), dir.path(), std::string()}) {
        const Profile p = Profile::Load(path);
        EXPECT_FALSE(p.Loaded()) << path;
        EXPECT_EQ(p.ReadInteger("Startup", "TimeOut", 11), 11) << path;
    }
}

TEST(ProfileFile, ReadsOnlyTheFirstPartOfAHugeFile) {
    zeltest::TempDir dir;
    std::string content = "[A]\nFirst=1\n";
    content += std::string(Profile::kMaxFileSize, ';');
    content += "\n[B]\nBeyond=2\n";
    const Profile p = Profile::Load(dir.Write("huge.ini", content));
    EXPECT_EQ(p.ReadInteger("A", "First", 0), 1);
    EXPECT_FALSE(p.HasKey("B", "Beyond"));
}

}  // namespace
}  // namespace zel
