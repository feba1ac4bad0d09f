// Reading the command table QUBRACOM.DAT.
//
// One command per line: name, version, model mask, the two argument counts,
// axis count, reply field, two flags, then one description per argument.
// Each field is found by skipping every character that cannot belong to it
// and taking the longest run that can. Anything that does not read cleanly
// drops the whole line; only a line declaring too many arguments is reported
// to the user.
#include "validation/kv_val.h"

#include "platform/zel_messages.h"
#include "platform/zel_paths.h"
#include "support/number_parse.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>

namespace zel {

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameChar(char c) { return IsLetter(c) || c == '=' || c == ':' || c == '>'; }
bool IsIntChar(char c) { return IsDigit(c) || c == '+' || c == '-'; }
bool IsFloatChar(char c) { return IsIntChar(c) || c == '.' || c == 'E' || c == 'e'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Walks one table line field by field.
class LineReader {
public:
    explicit LineReader(const std::string& line) : line_(line) {}

    // Skips what `belongs` refuses, then takes the longest run it accepts.
    // False when the run is empty or longer than maxLength.
    template <typename Pred>
    bool Run(Pred belongs, size_t maxLength, std::string& run) {
        while (pos_ < line_.size() && !belongs(line_[pos_])) ++pos_;
        const size_t start = pos_;
        while (pos_ < line_.size() && belongs(line_[pos_])) ++pos_;
        if (pos_ == start || pos_ - start > maxLength) return false;
        run.assign(line_, start, pos_ - start);
        return true;
    }

    bool Name(std::string& name) { return Run(IsNameChar, KvVal::kMaxNameLength, name); }

    bool Double(double& value) {
        std::string run;
        return Run(IsFloatChar, KvVal::kMaxFieldLength, run) && TextToDouble(run, value);
    }

    bool Int(int& value) {
        std::string run;
        return Run(IsIntChar, KvVal::kMaxFieldLength, run) && ParseInt(run, value);
    }

    // A flag: every '-' counts as '0', so "-" reads as false.
    bool Bool(bool& value) {
        std::string run;
        if (!Run(IsIntChar, KvVal::kMaxFieldLength, run)) return false;
        std::replace(run.begin(), run.end(), '-', '0');
        int number = 0;
        if (!ParseInt(run, number)) return false;
        value = number != 0;
        return true;
    }

    // "%d;%d": both reply counts, one (the second stays -1) or none (0, -1).
    bool Reply(int& reply1, int& reply2) {
        std::string run;
        if (!Run([](char c) { return !IsBlank(c); }, KvVal::kMaxFieldLength, run)) return false;
        reply1 = 0;
        reply2 = -1;
        size_t at = 0;
        bool overflow = false;
        int first = 0;
        if (!ScanInt(run, at, first, overflow)) return !overflow;
        reply1 = first;
        if (at < run.size() && run[at] == ';') {
            ++at;
            int second = 0;
            if (ScanInt(run, at, second, overflow)) reply2 = second;
            if (overflow) return false;
        }
        return true;
    }

    // The type letter: the first letter of a run of letters.
    bool Type(char& type) {
        std::string run;
        if (!Run(IsLetter, KvVal::kMaxFieldLength, run)) return false;
        type = run[0];
        return true;
    }

    // "[a;b;c]": at most kMaxListItems numbers; an empty item ends the list.
    bool List(std::vector<double>& values) {
        const size_t open = line_.find('[', pos_);
        if (open == std::string::npos) return false;
        const size_t close = line_.find(']', open + 1);
        if (close == std::string::npos) return false;
        pos_ = close + 1;
        values.clear();
        size_t at = open + 1;
        while (at <= close) {
            size_t end = line_.find(';', at);
            if (end == std::string::npos || end > close) end = close;
            if (end == at) break;  // empty item
            if (values.size() == KvVal::kMaxListItems) return false;
            double value = 0;
            if (!TextToDouble(line_.substr(at, end - at), value)) return false;
            values.push_back(value);
            at = end + 1;
        }
        return true;
    }

    // Whole text as a decimal int: optional sign, digits, within range.
    static bool ParseInt(const std::string& text, int& value) {
        size_t at = 0;
        bool overflow = false;
        return ScanInt(text, at, value, overflow) && at == text.size();
    }

private:
    // Reads an int at `at` the way "%d" does (leading white space, sign,
    // digits) and advances past it. Overflow fails and is flagged.
    static bool ScanInt(const std::string& text, size_t& at, int& value, bool& overflow) {
        size_t i = at;
        while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        const size_t digits = i;
        long long magnitude = 0;
        while (i < text.size() && IsDigit(text[i])) {
            magnitude = magnitude * 10 + (text[i] - '0');
            if (magnitude > static_cast<long long>(INT_MAX) + 1) {
                overflow = true;
                return false;
            }
            ++i;
        }
        if (i == digits) return false;
        const long long signedValue = negative ? -magnitude : magnitude;
        if (signedValue > INT_MAX) {
            overflow = true;
            return false;
        }
        value = static_cast<int>(signedValue);
        at = i;
        return true;
    }

    const std::string& line_;
    size_t pos_ = 0;
};

// Reads the next line (its end, LF or CR LF, removed). Lines longer than
// KvVal::kMaxLineLength are read to their end but flagged, so that their
// remainder is never taken for lines of their own.
bool NextLine(std::istream& in, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    std::streambuf* buffer = in.rdbuf();
    if (!buffer) return false;
    bool any = false;
    for (;;) {
        const int ch = buffer->sbumpc();
        if (ch == std::char_traits<char>::eof()) break;
        any = true;
        if (ch == '\n') break;
        if (line.size() <= KvVal::kMaxLineLength)
            line.push_back(static_cast<char>(ch));
        else
            tooLong = true;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > KvVal::kMaxLineLength) tooLong = true;
    return any;
}

bool NameLess(const KvValEntry& a, const KvValEntry& b) {
    const size_t n = std::min(a.name.size(), b.name.size());
    for (size_t i = 0; i < n; ++i) {
        const char x = LowerAscii(a.name[i]), y = LowerAscii(b.name[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
    return a.nDim < b.nDim;
}

void ReportTooManyArguments(const std::string& name) {
    char text[96];
    std::snprintf(text, sizeof text, "Too many parameters for '%s' in QUBRACOM.DAT", name.c_str());
    ShowMessageBox(0, text, "QCVal-Error", ZEL_MB_ICONWARNING | ZEL_MB_OK);
}

}  // namespace

bool KvVal::ParseLine(const std::string& line, KvValEntry& entry, bool& tooManyArguments) {
    tooManyArguments = false;
    if (line.size() <= 2 || line.size() > kMaxLineLength) return false;
    if (LowerAscii(line[0]) == 'r' && LowerAscii(line[1]) == 'e' && LowerAscii(line[2]) == 'm')
        return false;

    LineReader reader(line);
    KvValEntry e;
    if (!reader.Name(e.name)) return false;
    if (!reader.Double(e.version)) return false;
    if (!reader.Int(e.modelMask)) return false;
    if (!reader.Int(e.argCNoDepOnDim) || !reader.Int(e.argCDepOnDim)) return false;
    const long long count = static_cast<long long>(e.argCNoDepOnDim) + e.argCDepOnDim;
    if (count > kMaxArguments) {
        tooManyArguments = true;
        entry.name = e.name;
        return false;
    }
    if (count < 0) return false;
    e.argCount = static_cast<int>(count);
    if (!reader.Int(e.nDim)) return false;
    if (!reader.Reply(e.nReply1, e.nReply2)) return false;
    if (!reader.Bool(e.bCreatesErrorCodes) || !reader.Bool(e.bCheckVarious)) return false;
    e.args.resize(static_cast<size_t>(e.argCount));
    for (KvValArgument& arg : e.args) {
        if (!reader.Type(arg.type)) return false;
        if (arg.type == 'q' || arg.type == 'Q') {
            if (!reader.List(arg.list1) || !reader.List(arg.list2)) return false;
        } else if (!reader.Int(arg.lowerRange) || !reader.Int(arg.upperRange)) {
            return false;
        }
    }
    entry = std::move(e);
    return true;
}

void KvVal::LoadStream(std::istream& in) {
    std::vector<KvValEntry> loaded;
    bool listType = false;
    std::string line;
    bool tooLong = false;
    while (NextLine(in, line, tooLong)) {
        if (tooLong) continue;
        KvValEntry entry;
        bool tooManyArguments = false;
        if (!ParseLine(line, entry, tooManyArguments)) {
            if (tooManyArguments) ReportTooManyArguments(entry.name);
            continue;
        }
        if ((entry.modelMask & nModelMask) == 0) continue;
        for (const KvValArgument& arg : entry.args)
            if (arg.type == 'q' || arg.type == 'Q') listType = true;
        loaded.push_back(std::move(entry));
    }
    std::stable_sort(loaded.begin(), loaded.end(), NameLess);
    entries.swap(loaded);
    bListType = listType;
}

bool KvVal::LoadFile(const std::string& path) {
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in.is_open()) return false;
    LoadStream(in);
    return true;
}

bool KvVal::TableFileExists() { return !FindFileNoCase(".", kCommandTableName).empty(); }

bool KvVal::Load() {
    const std::string path = FindFileNoCase(".", kCommandTableName);
    return !path.empty() && LoadFile(path);
}

}  // namespace zel
