// Command validation against the sample command table: results, error
// tokens, rewritten commands and reply counts; the exported QCValidate with
// its buffer bounds; ExecuteCommand with -1 reply lines in demo mode.
#include "validation/kv_val.h"
#include "validation/validation_support.h"

#include "common/library_fixture.h"
#include "platform/zel_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using zel::KvVal;

namespace {

// Loads a command table into a validator for the models of modelMask.
void LoadTable(KvVal& val, const std::string& table, int modelMask) {
    val.SetModelMask(modelMask);
    std::istringstream in(table);
    val.LoadStream(in);
}

const KvVal& SampleValidator(int modelMask) {
    static std::unique_ptr<KvVal> validators[64];
    std::unique_ptr<KvVal>& val = validators[modelMask];
    if (!val) {
        val = std::make_unique<KvVal>();
        LoadTable(*val, zeltest::SampleTable(), modelMask);
    }
    return *val;
}

// token: nullptr when the result names no token.
struct Case {
    const char* command;
    int axes;
    int result;
    int lines;              // checked when the result is 1
    const char* rewritten;  // checked when not null
    const char* token;
    int index;
    double version = 0;
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << '"' << c.command << "\" on " << c.axes << " axes, version " << c.version;
}

void Check(const KvVal& val, const Case& c) {
    std::string command = c.command;
    const zel::KvValOutcome o = val.Validate(command, c.axes, c.version);
    EXPECT_EQ(o.result, c.result) << c;
    if (c.result == zel::kValOk) {
        EXPECT_EQ(o.replyLines, c.lines) << c;
    }
    if (c.rewritten) {
        EXPECT_EQ(command, c.rewritten) << c;
    }
    EXPECT_EQ(o.errorTokenSet, c.token != nullptr) << c;
    if (c.token) {
        EXPECT_EQ(o.errorToken, c.token) << c;
    }
    EXPECT_EQ(o.errorIndex, c.index) << c;
}

class MultiAxis : public ::testing::TestWithParam<Case> {};
TEST_P(MultiAxis, Validates) { Check(SampleValidator(KvVal::kMaskModel0), GetParam()); }

class SingleAxis : public ::testing::TestWithParam<Case> {};
TEST_P(SingleAxis, Validates) { Check(SampleValidator(KvVal::kMaskSingleAxis), GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    LookUpAndCount, MultiAxis,
    ::testing::Values(
        Case{"p", 3, 1, 1, "p", nullptr, -1},
        Case{"10 20 30 m", 3, 1, 0, "10 20 30 m", nullptr, -1},
        Case{"  10\t 20   30 m \t", 3, 1, 0, "10 20 30 m", nullptr, -1},
        Case{"10 20 m", 3, 3, 0, "10 20 m", nullptr, -1},
        Case{"10 20 30 40 m", 3, 4, 0, nullptr, nullptr, -1},
        Case{"xyz", 3, 2, 0, nullptr, "xyz", 0},
        Case{"1 2 xyz", 3, 2, 0, nullptr, "xyz", 2},
        Case{"P", 3, 2, 0, nullptr, "P", 0},
        Case{"1 nst", 3, 2, 0, nullptr, "nst", 1},
        Case{"", 3, 2, 0, "", "", -1},
        Case{" \t ", 3, 2, 0, "", "", -1},
        // Entries for one axis count only.
        Case{"1 2 helix", 2, 26, 0, nullptr, "helix", 2},
        Case{"1 2 helix", 3, 3, 0, nullptr, nullptr, -1},
        Case{"1 2 3 helix", 3, 1, 0, "1 2 3 helix", nullptr, -1},
        Case{"getlimit", 3, 1, 3, nullptr, nullptr, -1},
        Case{"getlimit", 4, 1, 4, nullptr, nullptr, -1},
        Case{"getlimit", 5, 26, 0, nullptr, "getlimit", 0},
        // Firmware version conditions.
        Case{"-1 selftest", 3, 2, 0, nullptr, "selftest", 1},
        Case{"-1 selftest", 3, 2, 0, nullptr, "selftest", 1, 1.49},
        Case{"-1 selftest", 3, 1, 4, nullptr, nullptr, -1, 1.5},
        Case{"5 speed", 3, 1, 0, nullptr, nullptr, -1},
        Case{"5 speed", 3, 1, 0, nullptr, nullptr, -1, 2.0},
        Case{"5 speed", 3, 2, 0, nullptr, "speed", 1, 2.5}));

INSTANTIATE_TEST_SUITE_P(
    ArgumentTypes, MultiAxis,
    ::testing::Values(
        Case{"1.5 setdim", 3, 5, 0, nullptr, "1.5", 0},
        Case{"+3 setdim", 3, 1, 0, "3 setdim", nullptr, -1},
        Case{"+7 delay", 3, 1, 0, "7 delay", nullptr, -1},
        Case{"2.0 setdim", 3, 1, 0, "2 setdim", nullptr, -1},
        Case{"1e3 setdim", 3, 5, 0, nullptr, "1e3", 0},
        Case{". setdim", 3, 5, 0, nullptr, ".", 0},
        Case{"99999999999 setdim", 3, 5, 0, nullptr, "99999999999", 0},
        Case{"1e3 sv", 3, 1, 0, "1000 sv", nullptr, -1},
        Case{"12.3456789 sv", 3, 1, 0, "12.3457 sv", nullptr, -1},
        Case{"1e-400 sv", 3, 1, 0, "0 sv", nullptr, -1},
        Case{"1e400 sv", 3, 5, 0, nullptr, "1e400", 0},
        Case{"1e sv", 3, 5, 0, nullptr, "1e", 0},
        Case{"1a setdim", 3, 24, 0, nullptr, "1a", 0},
        Case{"0x10 setdim", 3, 24, 0, nullptr, "0x10", 0},
        Case{"255 setioport", 3, 1, 0, nullptr, nullptr, -1},
        Case{"-1 setioport", 3, 5, 0, nullptr, "-1", 0},
        Case{"4294967295 setioport", 3, 7, 0, nullptr, "4294967295", 0},
        Case{"4294967296 setioport", 3, 5, 0, nullptr, "4294967296", 0},
        Case{"-2147483648 1 setclfactor", 3, 1, 0, "-2147483648 1 setclfactor", nullptr, -1},
        Case{"3000000000 1 setclfactor", 3, 5, 0, nullptr, "3000000000", 0},
        Case{"12 setiomask", 3, 5, 0, nullptr, "12", 0},
        // Lists: the second list's value changes the reply count.
        Case{"-1 getaxis", 3, 1, 1, nullptr, nullptr, -1},
        Case{"5 getaxis", 3, 8, 0, nullptr, "5", 0},
        Case{"2,0 getaxis", 3, 1, 1, "2.0 getaxis", nullptr, -1},
        Case{"2 getsw", 3, 1, 1, nullptr, nullptr, -1},
        Case{"-1 getsw", 3, 1, 3, nullptr, nullptr, -1},
        Case{"-1 getsw", 2, 1, 2, nullptr, nullptr, -1},
        Case{"0 getinfo", 3, 1, 1, nullptr, nullptr, -1},
        Case{"1 getinfo", 3, 1, 3, nullptr, nullptr, -1}));

INSTANTIATE_TEST_SUITE_P(
    Ranges, MultiAxis,
    ::testing::Values(
        Case{"5 setdim", 3, 7, 0, nullptr, "5", 0},
        Case{"0 setdim", 3, 6, 0, nullptr, "0", 0},
        Case{"2 mode", 3, 7, 0, nullptr, "2", 0},
        Case{"-1 mode", 3, 6, 0, nullptr, "-1", 0},
        Case{"1001 sv", 3, 7, 0, nullptr, "1001", 0},
        // 0..0 takes any value; 1..1 any value >= 0.
        Case{"-1e6 1e6 5 m", 3, 1, 0, "-1e+06 1e+06 5 m", nullptr, -1},
        Case{"0 delay", 3, 1, 0, nullptr, nullptr, -1},
        Case{"123456 delay", 3, 1, 0, nullptr, nullptr, -1},
        Case{"-1 delay", 3, 6, 0, nullptr, "-1", 0}));

INSTANTIATE_TEST_SUITE_P(
    CombinedArguments, MultiAxis,
    ::testing::Values(
        Case{"0 10 setlimit", 1, 1, 0, nullptr, nullptr, -1},
        Case{"10 0 setlimit", 1, 8, 0, nullptr, nullptr, -1},
        Case{"0 0 10 10 setlimit", 2, 1, 0, nullptr, nullptr, -1},
        Case{"0 0 10 -1 setlimit", 2, 8, 0, nullptr, nullptr, -1},
        Case{"0 0 0 1 1 1 setlimit", 3, 1, 0, nullptr, nullptr, -1},
        Case{"0 0 0 1 1 0 setlimit", 3, 8, 0, nullptr, nullptr, -1},
        Case{"0 0 0 0 1 1 1 1 setlimit", 4, 26, 0, nullptr, "setlimit", 8},
        Case{"0 0 1 1 align", 2, 1, 0, nullptr, nullptr, -1},
        Case{"1 0 1 1 align", 2, 1, 0, nullptr, nullptr, -1},
        Case{"1 1 1 1 align", 2, 8, 0, nullptr, nullptr, -1},
        Case{"0 0 1 1 align", 1, 26, 0, nullptr, "align", 4},
        Case{"0 0 0 1 1 1 align", 3, 1, 0, nullptr, nullptr, -1},
        Case{"0 0 0 1 0 1 align", 3, 8, 0, nullptr, nullptr, -1},
        // "from to geted": one line each.
        Case{"1 5 geted", 3, 1, 5, nullptr, nullptr, -1},
        Case{"5 1 geted", 3, 8, 0, nullptr, nullptr, -1},
        Case{"5 5 geted", 3, 8, 0, nullptr, nullptr, -1},
        // Reply counts that depend on the first argument.
        Case{"-1 getposmod", 3, 1, 3, nullptr, nullptr, -1},
        Case{"2 getposmod", 3, 1, 1, nullptr, nullptr, -1},
        Case{"-1 getpitch", 3, 1, 4, nullptr, nullptr, -1},
        Case{"-1 getclfactor", 3, 1, 3, nullptr, nullptr, -1},
        Case{"1 getclfactor", 3, 1, 1, nullptr, nullptr, -1}));

INSTANTIATE_TEST_SUITE_P(
    Rewriting, MultiAxis,
    ::testing::Values(
        Case{"10,5 setvel", 3, 1, 0, "10.5 setvel", nullptr, -1},
        Case{"10setvel", 3, 1, 0, "10 setvel", nullptr, -1},
        Case{"1 2 3m", 3, 1, 0, "1 2 3 m", nullptr, -1},
        Case{"10[32]sv", 3, 1, 0, "10 sv", nullptr, -1},
        Case{"[112]", 3, 1, 1, "p", nullptr, -1},
        Case{"1[44]5 sv", 3, 1, 0, "1.5 sv", nullptr, -1},
        Case{"p[13]", 3, 2, 0, "p\r", "p\r", 0},
        // One digit, a zero code, a code above 255, 32 characters, no ']'.
        Case{"[9]p", 3, 2, 0, "[9]p", "[9]p", 0},
        Case{"[00]p", 3, 2, 0, "[00]p", "[00]p", 0},
        Case{"[256]", 3, 2, 0, "[256]", "[256]", 0},
        Case{"[00000000000000000000000000000112]", 3, 2, 0, nullptr,
             "[00000000000000000000000000000112]", 0},
        Case{"[0000000000000000000000000000112]", 3, 1, 1, "p", nullptr, -1},
        Case{"[13 p", 3, 4, 0, "[13 p", nullptr, -1}));

INSTANTIATE_TEST_SUITE_P(
    AxisNumbers, SingleAxis,
    ::testing::Values(
        Case{"1 nst", 2, 1, 1, nullptr, nullptr, -1},
        Case{"2 nst", 2, 1, 1, nullptr, nullptr, -1},
        Case{"3 nst", 2, 7, 0, nullptr, "3", 0},
        Case{"0 nst", 2, 6, 0, nullptr, "0", 0},
        Case{"1 p", 2, 2, 0, nullptr, "p", 1},
        Case{"10 2 nm", 2, 1, 0, nullptr, nullptr, -1},
        Case{"10 3 nm", 2, 7, 0, nullptr, "3", 1},
        Case{"10 1nm", 2, 1, 0, "10 1 nm", nullptr, -1},
        Case{"1 getaxis", 2, 1, 1, nullptr, nullptr, -1},
        Case{"-1 getaxis", 2, 6, 0, nullptr, "-1", 0},
        // Only the last argument is an axis number.
        Case{"2 1 nmode", 2, 7, 0, nullptr, "2", 0}));

TEST(Lookup, MultiAxisSkipsOtherAxisCountsSingleAxisTakesTheFirstEntry) {
    const std::string table = "x 0 3 0 0 3 1 0 0\nx 0 3 0 1 2 2 0 0 n 0 0\n";
    KvVal multi, single;
    LoadTable(multi, table, KvVal::kMaskModel0);
    LoadTable(single, table, KvVal::kMaskSingleAxis);
    Check(multi, Case{"5 x", 2, 1, 2, nullptr, nullptr, -1});
    Check(multi, Case{"x", 3, 1, 1, nullptr, nullptr, -1});
    Check(multi, Case{"x", 4, 26, 0, nullptr, "x", 0});
    // Sorted by axis count: the 2-axis entry comes first whatever the axes.
    Check(single, Case{"5 x", 7, 1, 2, nullptr, nullptr, -1});
}

TEST(Lookup, AxisNumberBoundOnSingleAxisModelsOnly) {
    // Models 0 and single-axis, last argument an axis number 1..16.
    const std::string table = "y 0 7 1 0 0 0 0 0 n 1 16\n";
    KvVal multi, single;
    LoadTable(multi, table, KvVal::kMaskModel0);
    LoadTable(single, table, KvVal::kMaskSingleAxis);
    Check(multi, Case{"5 y", 2, 1, 0, nullptr, nullptr, -1});
    Check(single, Case{"2 y", 2, 1, 0, nullptr, nullptr, -1});
    Check(single, Case{"5 y", 2, 7, 0, nullptr, "5", 0});
    Check(single, Case{"0 y", 2, 6, 0, nullptr, "0", 0});
}

TEST(Lookup, SecondListValueWithoutSecondReplyCountKeepsTheFirst) {
    KvVal val;
    std::istringstream in("z 0 1 1 0 0 2 0 0 Q [1] [-1]\n");
    val.LoadStream(in);
    Check(val, Case{"-1 z", 3, 1, 2, nullptr, nullptr, -1});
    Check(val, Case{"1 z", 3, 1, 2, nullptr, nullptr, -1});
    Check(val, Case{"2 z", 3, 8, 0, nullptr, "2", 0});
}

TEST(Lookup, ArgumentsLongerThanATokenSlotAreRefused) {
    const KvVal& val = SampleValidator(KvVal::kMaskModel0);
    const std::string arg63 = std::string(62, '0') + "7";
    const std::string arg64 = std::string(63, '0') + "7";
    Check(val, Case{(arg63 + " delay").c_str(), 3, 1, 0, "7 delay", nullptr, -1});
    Check(val, Case{(arg64 + " delay").c_str(), 3, 5, 0, nullptr, arg64.c_str(), 0});
}

TEST(Lookup, CommandsLongerThan260CharactersAreRefusedUnchanged) {
    const KvVal& val = SampleValidator(KvVal::kMaskModel0);
    std::string ok = "1 sv";
    ok.insert(0, 256, ' ');  // 260 characters
    Check(val, Case{ok.c_str(), 3, 1, 0, "1 sv", nullptr, -1});
    std::string thousandTokens;
    for (int i = 0; i < 1000; ++i) thousandTokens += "1,5 ";
    thousandTokens += "m";
    Check(val, Case{thousandTokens.c_str(), 3, 4, 0, thousandTokens.c_str(), nullptr, -1});
}

TEST(Lookup, RandomCommandsGiveAResultOfTheTable) {
    const int results[] = {1, 2, 3, 4, 5, 6, 7, 8, 24, 26};
    std::mt19937 random(4711);
    static const char kPieces[] = "0123456789+-.,eE[]; \tmpsvgetlimitnstalignQq";
    for (int round = 0; round < 3000; ++round) {
        std::string command;
        const int length = static_cast<int>(random() % 300);
        for (int i = 0; i < length; ++i)
            command += (random() % 8 == 0) ? static_cast<char>(random() % 256) : kPieces[random() % (sizeof kPieces - 1)];
        const KvVal& val = SampleValidator(round % 2 ? KvVal::kMaskSingleAxis : KvVal::kMaskModel0);
        const std::string original = command;
        const zel::KvValOutcome o = val.Validate(command, static_cast<int>(random() % 6), 2.0);
        EXPECT_NE(std::find(std::begin(results), std::end(results), o.result), std::end(results)) << original;
        if (original.size() > KvVal::kMaxCommandLength) {
            EXPECT_EQ(command, original);
        } else {
            EXPECT_EQ(command.find_first_of("\t"), std::string::npos) << original;
            EXPECT_EQ(command.find("  "), std::string::npos) << original;
        }
    }
}

// ---- The exported call --------------------------------------------------------

class ExportedValidation : public zeltest::LibraryFixture {
protected:
    void SetUp() override {
        dir_.Write("QUBRACOM.DAT", zeltest::SampleTable());
        cwd_ = std::make_unique<zeltest::ScopedCurrentDirectory>(dir_.path());
        Load("[Startup]\nMode=DEMO\n");
        ASSERT_EQ(InitController(ZEL_TYPE_DEFAULT, 3, 1, 9600, 0, 0, 0), 0);
    }
    void TearDown() override {
        LibraryFixture::TearDown();
        cwd_.reset();
    }
    std::unique_ptr<zeltest::ScopedCurrentDirectory> cwd_;
};

TEST_F(ExportedValidation, RewritesTheCommandInPlaceAndFillsTheOutputs) {
    char command[256] = "1e3 sv";
    int lines = -5, index = -5;
    char token[64] = "untouched";
    EXPECT_EQ(QCValidate(command, sizeof command, 3, &lines, token, &index), 1);
    EXPECT_STREQ(command, "1000 sv");
    EXPECT_EQ(lines, 0);
    EXPECT_EQ(index, -1);
    EXPECT_STREQ(token, "untouched");

    std::strcpy(command, "7 setdim");
    lines = -5;
    EXPECT_EQ(QCValidate(command, sizeof command, 3, &lines, token, &index), 7);
    EXPECT_STREQ(token, "7");
    EXPECT_EQ(index, 0);
    EXPECT_EQ(lines, -5) << "only a valid command sets the reply lines";

    EXPECT_EQ(QCValidate(nullptr, 0, 3, nullptr, nullptr, nullptr), 2);
    std::strcpy(command, "p");
    EXPECT_EQ(QCValidate(command, sizeof command, 3, nullptr, nullptr, nullptr), 1);
}

TEST_F(ExportedValidation, NeverWritesBeyondTheCommandBuffer) {
    // The rebuilt "100000 1 1 m" needs 13 bytes.
    std::vector<char> buffer(20, '#');
    std::memcpy(buffer.data(), "1e5 1 1 m", 10);
    int lines = 0, index = 0;
    EXPECT_EQ(QCValidate(buffer.data(), 12, 3, &lines, nullptr, &index), 4);
    EXPECT_STREQ(buffer.data(), "1e5 1 1 m");
    EXPECT_EQ(std::string(buffer.data() + 10, 10), std::string(10, '#'));
    EXPECT_EQ(QCValidate(buffer.data(), 13, 3, &lines, nullptr, &index), 1);
    EXPECT_STREQ(buffer.data(), "100000 1 1 m");
    EXPECT_EQ(std::string(buffer.data() + 13, 7), std::string(7, '#'));

    // Size 0: only a command that needs no rewriting passes.
    char plain[] = "p";
    EXPECT_EQ(QCValidate(plain, 0, 3, &lines, nullptr, &index), 1);
    char rewritten[] = "1e5 1 1 m";
    EXPECT_EQ(QCValidate(rewritten, 0, 3, &lines, nullptr, &index), 4);
    EXPECT_STREQ(rewritten, "1e5 1 1 m");
}

TEST_F(ExportedValidation, NeverReadsBeyondTheCommandBuffer) {
    // Not terminated within its size: refused (ASan would flag a read past it).
    std::unique_ptr<char[]> raw(new char[8]);
    std::memset(raw.get(), '1', 8);
    EXPECT_EQ(QCValidate(raw.get(), 8, 3, nullptr, nullptr, nullptr), 4);

    std::vector<char> huge(10001, 'p');
    huge[10000] = '\0';
    EXPECT_EQ(QCValidate(huge.data(), static_cast<int>(huge.size()), 3, nullptr, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(huge.data()), std::string(10000, 'p'));
}

TEST_F(ExportedValidation, ErrorTokenIsBounded) {
    const std::string arg = std::string(99, '1') + "2";
    std::string text = arg + " delay";
    std::vector<char> command(text.begin(), text.end());
    command.push_back('\0');
    std::vector<char> token(100, '#');
    int index = -5;
    EXPECT_EQ(QCValidate(command.data(), static_cast<int>(command.size()), 3, nullptr, token.data(), &index), 5);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(std::string(token.data()), arg.substr(0, 63));
    EXPECT_EQ(std::string(token.data() + 64, 36), std::string(36, '#'));

    std::vector<char> small(8, '#');
    EXPECT_EQ(QCValidateEx(command.data(), static_cast<int>(command.size()), 3, nullptr, small.data(), &index,
                           4),
              5);
    EXPECT_EQ(std::string(small.data()), "111");
    EXPECT_EQ(std::string(small.data() + 4, 4), "####");
}

// Without QUBRACOM.DAT in the current directory.
class NoTable : public zeltest::LibraryFixture {};

TEST_F(NoTable, ValidationPassesEverythingAndChangesNothing) {
    zeltest::ScopedCurrentDirectory cwd(dir_.path());
    Load("[Startup]\nMode=DEMO\n");
    char command[256] = "10,5 xyz";
    int lines = -5, index = -5;
    char token[64] = "untouched";
    EXPECT_EQ(QCValidate(command, sizeof command, 3, &lines, token, &index), 1);
    EXPECT_STREQ(command, "10,5 xyz");
    EXPECT_EQ(lines, -5);
    EXPECT_EQ(index, -5);
    EXPECT_STREQ(token, "untouched");
    char reply[256];
    EXPECT_EQ(ExecuteCommand("p", -1, reply), ZEL_ERR_NO_COMMAND_TABLE);
}

// ---- ExecuteCommand with -1 reply lines ------------------------------------------

TEST_F(NoTable, ReplyCountsBeyondTheControlWordAreRefused) {
    // "geted" without the combined check: its count can leave 0..255.
    dir_.Write("QUBRACOM.DAT", "geted 0 1 2 0 0 0 0 0 n 0 0 n 0 0\n");
    zeltest::ScopedCurrentDirectory cwd(dir_.path());
    Load("[Startup]\nMode=DEMO\n");
    ASSERT_EQ(InitController(ZEL_TYPE_DEFAULT, 3, 1, 9600, 0, 0, 0), 0);
    ASSERT_EQ(OpenController(), 0);
    char reply[256];
    EXPECT_EQ(ExecuteCommand("1 300 geted", -1, reply), ZEL_ERR_PARAMETER);
    EXPECT_EQ(ExecuteCommand("5 1 geted", -1, reply), ZEL_ERR_PARAMETER);
}

class ExecuteValidated : public ExportedValidation {
protected:
    void SetUp() override {
        ExportedValidation::SetUp();
        ASSERT_EQ(OpenController(), 0);
    }
    zel::VirtualClock clock_{5000};
    zel::ScopedClock scoped_{clock_};
};

TEST_F(ExecuteValidated, TakesTheReplyLinesFromTheTable) {
    char reply[256];
    ASSERT_EQ(ExecuteCommand("p", -1, reply), 0);
    double x = -1, y = -1, z = -1;
    EXPECT_EQ(std::sscanf(reply, "%lf %lf %lf", &x, &y, &z), 3) << reply;

    // One line per axis.
    ASSERT_EQ(ExecuteCommand("getlimit", -1, reply), 0);
    const std::string limits = reply;
    EXPECT_EQ(std::count(limits.begin(), limits.end(), '\n'), 2) << limits;

    std::memset(reply, 'x', sizeof reply);
    EXPECT_EQ(ExecuteCommand("10,5 sv", -1, reply), 0);
    EXPECT_STREQ(reply, "") << "no reply line";
}

TEST_F(ExecuteValidated, ReportsValidationErrorsAbove0x10000) {
    char reply[256];
    EXPECT_EQ(ExecuteCommand("5 setdim", -1, reply), ZEL_ERR_VALIDATION + 7);
    EXPECT_EQ(ExecuteCommand("nosuchword", -1, reply), ZEL_ERR_VALIDATION + 2);
    // The demo controller reports version 0.
    EXPECT_EQ(ExecuteCommand("-1 selftest", -1, reply), ZEL_ERR_VALIDATION + 2);
    // Longer than the 256-character copy that is validated.
    const std::string longCommand = std::string(300, ' ') + "p";
    EXPECT_EQ(ExecuteCommand(longCommand.c_str(), -1, reply), ZEL_ERR_VALIDATION + 4);
}

TEST_F(ExecuteValidated, NextModelSelectionLoadsThatModelsCommands) {
    char reply[256];
    ASSERT_EQ(CloseController(), 0);
    ASSERT_EQ(InitController(ZEL_TYPE_PRUSK, 2, 1, 9600, 0, 0, 0), 0);
    ASSERT_EQ(OpenController(), 0);
    EXPECT_EQ(ExecuteCommand("1 nst", -1, reply), 0);
    EXPECT_EQ(ExecuteCommand("3 nst", -1, reply), ZEL_ERR_VALIDATION + 7);
    EXPECT_EQ(ExecuteCommand("p", -1, reply), ZEL_ERR_VALIDATION + 2);
}

}  // namespace
