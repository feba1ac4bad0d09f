// The command-table reader: field rules of a line, rejected lines, the
// model filter, the order of the entries, hostile files, and the table's
// life at model selection.
#include "validation/kv_val.h"
#include "validation/validation_support.h"

#include "common/test_util.h"
#include "engine/controller.h"
#include "platform/zel_messages.h"
#include "support/protocol_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using zel::KvVal;
using zel::KvValEntry;

namespace {

struct Box {
    std::string text, caption;
    unsigned type = 0;
};

int RecordBox(void* context, ZelWindow, const char* text, const char* caption, unsigned type) {
    static_cast<std::vector<Box>*>(context)->push_back({text, caption, type});
    return ZEL_IDOK;
}

// Records the message boxes shown while it lives.
class BoxRecorder {
public:
    BoxRecorder() { zel::SetMessageBoxHandler(RecordBox, &boxes); }
    ~BoxRecorder() { zel::SetMessageBoxHandler(nullptr, nullptr); }
    std::vector<Box> boxes;
};

KvVal LoadText(const std::string& text, int modelMask = KvVal::kMaskModel0) {
    KvVal val;
    val.SetModelMask(modelMask);
    std::istringstream in(text);
    val.LoadStream(in);
    return val;
}

const KvValEntry* Find(const KvVal& val, const std::string& name, int nDim = -1) {
    for (const KvValEntry& e : val.Entries())
        if (e.name == name && (nDim < 0 || e.nDim == nDim)) return &e;
    return nullptr;
}

std::string Repeat(const std::string& piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += piece;
    return out;
}

// ---- One line ---------------------------------------------------------------

struct LineCase {
    const char* line;
    bool accepted;
};

class ParseLineCases : public ::testing::TestWithParam<LineCase> {};

TEST_P(ParseLineCases, AcceptedOrRejected) {
    KvValEntry entry;
    bool tooMany = true;
    EXPECT_EQ(KvVal::ParseLine(GetParam().line, entry, tooMany), GetParam().accepted) << GetParam().line;
    EXPECT_FALSE(tooMany);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseLineCases,
    ::testing::Values(
        LineCase{"setvel 0 9 1 0 0 0 0 0 f 0 0", true},
        // Comments in any case, and lines too short to hold anything.
        LineCase{"REM setvel 0 9 1 0 0 0 0 0 f 0 0", false}, LineCase{"rem setvel 0 9 1 0 0 0 0 0 f 0 0", false},
        LineCase{"ReMark 0 9 0 0 0 0 0 0", false}, LineCase{"ab", false}, LineCase{"", false},
        // A missing field (the last range, the flags, the reply field).
        LineCase{"setvel 0 9 1 0 0 0 0 0 f 0", false}, LineCase{"p 0 9 0 0 0 1 0", false},
        LineCase{"p 0 9 0 0 0", false}, LineCase{"0 9 0 0 0 1 0 0", false},
        // Numbers that do not convert or overflow.
        LineCase{"p 1e999 9 0 0 0 1 0 0", false}, LineCase{"p 1.2.3 9 0 0 0 1 0 0", false},
        LineCase{"p - 9 0 0 0 1 0 0", false}, LineCase{"p 0 99999999999 0 0 0 1 0 0", false},
        LineCase{"p 0 2147483648 0 0 0 1 0 0", false}, LineCase{"p 0 9 0 0 1-2 1 0 0", false},
        LineCase{"p 0 9 0 0 0 99999999999 0 0", false},
        LineCase{"x 0 9 1 0 0 0 0 0 n -2147483649 0", false},
        LineCase{"x 0 9 1 0 0 0 0 0 n -2147483648 2147483647", true},
        // A negative argument count.
        LineCase{"x 0 9 -1 0 0 0 0 0", false}, LineCase{"x 0 9 2 -1 0 0 0 0 n 0 0", true},
        // Runs longer than a field holds: a 17-letter name, a 33-character number.
        LineCase{"abcdefghijklmnopq 0 9 0 0 0 1 0 0", false},
        LineCase{"p 0.0000000000000000000000000000001 9 0 0 0 1 0 0", false},
        // List arguments: five numbers at most, both lists, closed brackets.
        LineCase{"x 0 9 1 0 0 1;2 0 0 q [1;2;3;4;5] [6;7;8;9;10]", true},
        LineCase{"x 0 9 1 0 0 1 0 0 q [1;2;3;4;5;6] [7]", false}, LineCase{"x 0 9 1 0 0 1 0 0 q [1;2] [3;x]", false},
        LineCase{"x 0 9 1 0 0 1 0 0 q [1;2] [3", false}, LineCase{"x 0 9 1 0 0 1 0 0 q [1;2]", false},
        LineCase{"x 0 9 1 0 0 1 0 0 q 1;2 3", false}, LineCase{"x 0 9 1 0 0 1 0 0 q [] []", true},
        LineCase{"x 0 9 1 0 0 1 0 0 q [1;2] [1e999]", false}));

TEST(ParseLine, ReadsEveryFieldOfTheExampleLine) {
    KvValEntry e;
    bool tooMany = false;
    ASSERT_TRUE(KvVal::ParseLine("setvel 0 9 1 0 0 0 0 0 f 0 0", e, tooMany));
    EXPECT_EQ(e.name, "setvel");
    EXPECT_EQ(e.version, 0.0);
    EXPECT_EQ(e.modelMask, 9);
    EXPECT_EQ(e.argCount, 1);
    EXPECT_EQ(e.nDim, 0);
    EXPECT_EQ(e.nReply1, 0);
    EXPECT_EQ(e.nReply2, -1);
    EXPECT_FALSE(e.bCreatesErrorCodes);
    EXPECT_FALSE(e.bCheckVarious);
    ASSERT_EQ(e.args.size(), 1u);
    EXPECT_EQ(e.args[0].type, 'f');
    EXPECT_EQ(e.args[0].lowerRange, 0);
    EXPECT_EQ(e.args[0].upperRange, 0);
}

TEST(ParseLine, FieldsSkipWhatCannotBelongToThem) {
    KvValEntry e;
    bool tooMany = false;
    // Labels and punctuation between the fields are skipped; "float" is type 'f'.
    ASSERT_TRUE(KvVal::ParseLine("set=x:y>\tv-1.5 mask41 na2 nd1 dim3 4;2 cr+- chk10 "
                                 "float lo-5 hi+7 Qlist [1;2,5] xx[-1] int -3 3",
                                 e, tooMany));
    EXPECT_EQ(e.name, "set=x:y>");
    EXPECT_EQ(e.version, -1.5);
    EXPECT_EQ(e.modelMask, 41);
    EXPECT_EQ(e.argCNoDepOnDim, 2);
    EXPECT_EQ(e.argCDepOnDim, 1);
    EXPECT_EQ(e.argCount, 3);
    EXPECT_EQ(e.nDim, 3);
    EXPECT_EQ(e.nReply1, 4);
    EXPECT_EQ(e.nReply2, 2);
    EXPECT_FALSE(e.bCreatesErrorCodes) << "'+-' reads as +0";
    EXPECT_TRUE(e.bCheckVarious);
    ASSERT_EQ(e.args.size(), 3u);
    EXPECT_EQ(e.args[0].type, 'f');
    EXPECT_EQ(e.args[0].lowerRange, -5);
    EXPECT_EQ(e.args[0].upperRange, 7);
    EXPECT_EQ(e.args[1].type, 'Q');
    EXPECT_EQ(e.args[1].list1, (std::vector<double>{1, 2.5}));
    EXPECT_EQ(e.args[1].list2, (std::vector<double>{-1}));
    EXPECT_EQ(e.args[2].type, 'i');
    EXPECT_EQ(e.args[2].lowerRange, -3);
}

TEST(ParseLine, ReplyFieldAndFlags) {
    struct Case {
        const char* reply;
        int reply1, reply2;
    } cases[] = {{"3", 3, -1}, {"3;4", 3, 4}, {"3;", 3, -1}, {"3;x", 3, -1}, {"x", 0, -1}, {"-;2", 0, -1}, {"-2;-1", -2, -1}};
    for (const Case& c : cases) {
        KvValEntry e;
        bool tooMany = false;
        ASSERT_TRUE(KvVal::ParseLine(std::string("p 0 9 0 0 0 ") + c.reply + " - 1", e, tooMany)) << c.reply;
        EXPECT_EQ(e.nReply1, c.reply1) << c.reply;
        EXPECT_EQ(e.nReply2, c.reply2) << c.reply;
        EXPECT_FALSE(e.bCreatesErrorCodes);
        EXPECT_TRUE(e.bCheckVarious);
    }
}

TEST(ParseLine, NameOfSixteenCharactersIsKeptWhole) {
    KvValEntry e;
    bool tooMany = false;
    ASSERT_TRUE(KvVal::ParseLine("abcdefghijklmnop 0 9 0 0 0 1 0 0", e, tooMany));
    EXPECT_EQ(e.name, "abcdefghijklmnop");
}

TEST(ParseLine, ListEndsAtAnEmptyItem) {
    KvValEntry e;
    bool tooMany = false;
    ASSERT_TRUE(KvVal::ParseLine("x 0 9 1 0 0 1 0 0 q [1;;2] [3;4;]", e, tooMany));
    EXPECT_EQ(e.args[0].list1, (std::vector<double>{1}));
    EXPECT_EQ(e.args[0].list2, (std::vector<double>{3, 4}));
}

// ---- Too many arguments -------------------------------------------------------

TEST(TableLoad, TooManyArgumentsIsReportedAndTheLineDropped) {
    BoxRecorder recorder;
    const std::string thirteen = "ok 0 1 13 0 0 0 0 0" + Repeat(" n 0 0", 13) + "\n";
    const std::string fourteen = "fourteen 0 1 7 7 0 0 0 0" + Repeat(" n 0 0", 14) + "\n";
    // 1,000 declared arguments, of which the line holds a few.
    const std::string thousand = "thousand 0 1 1000 0 0 0 0 0" + Repeat(" f 0 0", 20) + "\n";
    const KvVal val = LoadText(thirteen + fourteen + thousand);
    ASSERT_EQ(val.Entries().size(), 1u);
    EXPECT_EQ(val.Entries()[0].argCount, 13);
    ASSERT_EQ(recorder.boxes.size(), 2u);
    EXPECT_EQ(recorder.boxes[0].text, "Too many parameters for 'fourteen' in QUBRACOM.DAT");
    EXPECT_EQ(recorder.boxes[0].caption, "QCVal-Error");
    EXPECT_EQ(recorder.boxes[0].type & 0xF0u, unsigned(ZEL_MB_ICONWARNING));
    EXPECT_EQ(recorder.boxes[1].text, "Too many parameters for 'thousand' in QUBRACOM.DAT");
}

TEST(TableLoad, OtherMalformedLinesAreDroppedSilently) {
    BoxRecorder recorder;
    const KvVal val = LoadText("p 0 1 0 0 0 1\nx 0 1 1 0 0 0 0 0 q [1\nst 0 1 0 0 0 1 0 0\n");
    ASSERT_EQ(val.Entries().size(), 1u);
    EXPECT_EQ(val.Entries()[0].name, "st");
    EXPECT_TRUE(recorder.boxes.empty());
}

// ---- Hostile files ------------------------------------------------------------

TEST(TableLoad, LinesUpTo511CharactersCountLongerOnesAreDroppedWhole) {
    std::string line511 = "st 0 1 0 0 0 1 0 0";
    line511.resize(511, ' ');
    std::string line512 = "ge 0 1 0 0 0 1 0 0";
    line512.resize(512, ' ');
    // A 100,000-character line made of valid lines glued together: no part
    // of it may be taken for a line of its own.
    const std::string huge = Repeat("m 0 1 0 0 0 0 0 0 ", 100000 / 18 + 1).substr(0, 100000);
    const KvVal val = LoadText(line511 + "\r\n" + line512 + "\n" + huge + "\n" + "p 0 1 0 0 0 1 0 0");
    std::vector<std::string> names;
    for (const KvValEntry& e : val.Entries()) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"p", "st"}));
}

TEST(TableLoad, BinaryBytesNeverBreakTheReader) {
    // A NUL or other byte between fields is skipped like any separator.
    const KvVal val = LoadText(std::string("p\0\xff 0 1 0 0 0 1 0 0\n", 20));
    ASSERT_EQ(val.Entries().size(), 1u);
    EXPECT_EQ(val.Entries()[0].name, "p");

    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 3000);
        for (int i = 0; i < length; ++i) {
            // Mostly characters the fields are made of, some raw bytes.
            static const char kPieces[] = "0123456789+-.eEqQnfl[];; \t\n\rabcREM";
            text += (random() % 4 == 0) ? static_cast<char>(random() % 256)
                                        : kPieces[random() % (sizeof kPieces - 1)];
        }
        BoxRecorder recorder;
        const KvVal fuzzed = LoadText(text, 0xFF);
        for (const KvValEntry& e : fuzzed.Entries()) {
            EXPECT_LE(e.name.size(), KvVal::kMaxNameLength);
            EXPECT_LE(e.argCount, KvVal::kMaxArguments);
            EXPECT_GE(e.argCount, 0);
            EXPECT_EQ(e.args.size(), static_cast<size_t>(e.argCount));
            for (const auto& arg : e.args) {
                EXPECT_LE(arg.list1.size(), KvVal::kMaxListItems);
                EXPECT_LE(arg.list2.size(), KvVal::kMaxListItems);
            }
        }
    }
}

// ---- The sample table: model filter and order -----------------------------------

TEST(SampleTable, EachModelGetsItsOwnCommands) {
    struct Case {
        int mask;
        std::vector<const char*> present, absent;
        bool lists;
    } cases[] = {
        {KvVal::kMaskModel0, {"p", "geted", "gsp", "setiomask", "selftest"}, {"nst", "nm"}, true},
        {KvVal::kMaskModel1, {"p", "m", "setlimit"}, {"geted", "gsp", "j", "nst"}, true},
        {KvVal::kMaskModel6, {"p", "gsp", "align"}, {"nst"}, true},
        {KvVal::kMaskSingleAxis, {"nst", "nm", "getaxis"}, {"p", "m", "st", "getsw"}, false},
    };
    const std::string table = zeltest::SampleTable();
    for (const Case& c : cases) {
        const KvVal val = LoadText(table, c.mask);
        for (const char* name : c.present) EXPECT_NE(Find(val, name), nullptr) << c.mask << " " << name;
        for (const char* name : c.absent) EXPECT_EQ(Find(val, name), nullptr) << c.mask << " " << name;
        EXPECT_EQ(val.HasListArguments(), c.lists) << c.mask;
    }
    // The single-axis "getaxis" takes an axis number, not the multi-axis list.
    const KvVal single = LoadText(table, KvVal::kMaskSingleAxis);
    ASSERT_NE(Find(single, "getaxis"), nullptr);
    EXPECT_EQ(Find(single, "getaxis")->args.at(0).type, 'n');
}

TEST(SampleTable, EveryLineThatIsNoCommentIsAccepted) {
    std::istringstream in(zeltest::SampleTable());
    std::string line;
    int commands = 0;
    while (std::getline(in, line)) {
        if (line.size() <= 2 || line.compare(0, 3, "REM") == 0 || line.compare(0, 3, "rem") == 0) continue;
        KvValEntry e;
        bool tooMany = false;
        EXPECT_TRUE(KvVal::ParseLine(line, e, tooMany)) << line;
        ++commands;
    }
    EXPECT_GT(commands, 100);
}

TEST(TableLoad, SortedByNameWithoutCaseThenByAxisCount) {
    const KvVal val = LoadText(
        "b 0 1 0 0 2 1 0 0\n"
        "B 0 1 0 0 0 1 0 0\n"
        "a 0 1 0 0 3 1 0 0\n"
        "A 0 1 0 0 1 1 0 0\n"
        "ab 0 1 0 0 0 1 0 0\n"
        "m= 0 1 0 0 0 1 0 0\n");
    std::vector<std::string> order;
    for (const KvValEntry& e : val.Entries()) order.push_back(e.name + std::to_string(e.nDim));
    EXPECT_EQ(order, (std::vector<std::string>{"A1", "a3", "ab0", "B0", "b2", "m=0"}));
}

// ---- Files and model selection ----------------------------------------------

TEST(TableFile, FailedOpenKeepsTheEntriesReadBefore) {
    KvVal val;
    ASSERT_TRUE(val.LoadFile(zeltest::SampleTablePath()));
    const size_t count = val.Entries().size();
    ASSERT_GT(count, 0u);
    EXPECT_FALSE(val.LoadFile("/nonexistent/QUBRACOM.DAT"));
    EXPECT_EQ(val.Entries().size(), count);
}

TEST(TableFile, FoundInTheCurrentDirectoryInAnyLetterCase) {
    zeltest::TempDir dir;
    zeltest::ScopedCurrentDirectory cwd(dir.path());
    KvVal val;
    EXPECT_FALSE(KvVal::TableFileExists());
    EXPECT_FALSE(val.Load());
    dir.Write("Qubracom.dat", "p 0 1 0 0 0 1 0 0\n");
    EXPECT_TRUE(KvVal::TableFileExists());
    ASSERT_TRUE(val.Load());
    ASSERT_EQ(val.Entries().size(), 1u);
}

TEST(ModelSelection, CreatesTheValidatorAndReloadsTheTableForEachModel) {
    zeltest::TempDir dir;
    zeltest::ScopedEnv protocolDir("ZELCOMM_PROTOCOL_DIR", dir.path().c_str());
    zeltest::ScopedCurrentDirectory cwd(dir.path());
    zel::TController c(0);

    c.KvCSetControllerType(zel::kModelDefault);
    EXPECT_EQ(c.pCValidator, nullptr) << "no table, no validator";
    EXPECT_FALSE(c.bCTableLoaded);

    dir.Write("QUBRACOM.DAT", zeltest::SampleTable());
    zel::KvDiagProtSetupFile(true, zel::kLogTrace, 1);
    c.KvCSetControllerType(zel::kModelDefault);
    zel::KvDiagProtSetupFile(false, -1, 1);
    ASSERT_NE(c.pCValidator, nullptr);
    EXPECT_TRUE(c.bCTableLoaded);
    EXPECT_EQ(c.pCValidator->ModelMask(), 1);
    EXPECT_NE(Find(*c.pCValidator, "p"), nullptr);
    const std::string log = zeltest::ReadWholeFile(dir.File("Protocol.dat"));
    EXPECT_NE(log.find("[TController::KvCSetControllerType(), using QUBRACOM.DAT]\r\n"), std::string::npos);

    const zel::KvVal* validator = c.pCValidator.get();
    c.KvCSetControllerType(zel::kModelPrusk);
    EXPECT_EQ(c.pCValidator.get(), validator) << "created once";
    EXPECT_EQ(c.pCValidator->ModelMask(), 2);
    EXPECT_NE(Find(*c.pCValidator, "nst"), nullptr);
    EXPECT_EQ(Find(*c.pCValidator, "p"), nullptr);

    // Without the file the table read last stays in use.
    ASSERT_EQ(std::remove(dir.File("QUBRACOM.DAT").c_str()), 0);
    c.KvCSetControllerType(zel::kModelVarne);
    EXPECT_TRUE(c.bCTableLoaded);
    EXPECT_EQ(c.pCValidator->ModelMask(), 8);
    EXPECT_NE(Find(*c.pCValidator, "nst"), nullptr);
}

}  // namespace
