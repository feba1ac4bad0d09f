// The command validator: the command table QUBRACOM.DAT of the selected
// controller model and the check of a command line against it (argument
// count and kinds, ranges, firmware version, reply lines).
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace zel {

// The command table's file name, looked up in the current directory without
// regard to letter case.
constexpr const char* kCommandTableName = "QUBRACOM.DAT";

// Validation results (QCValidate's return value).
enum ValidationResult : int {
    kValOk = 1,
    kValUnknownCommand = 2,   // unknown, or not available for the controller's version
    kValTooFewArguments = 3,
    kValTooManyArguments = 4, // also: the command is too long for its buffer
    kValWrongType = 5,
    kValBelowRange = 6,
    kValAboveRange = 7,
    kValNotInList = 8,        // list value in neither list, or a combined check failed
    kValBadCharacter = 24,
    kValWrongAxisCount = 26,
};

// One argument of a table entry.
struct KvValArgument {
    char type = 0;  // 'n', 'l', 'L', 'f', 'q', 'Q'; any other letter never validates
    int lowerRange = 0;
    int upperRange = 0;
    // Types 'q' and 'Q': the accepted values; a value of the second list
    // changes the reply count.
    std::vector<double> list1;
    std::vector<double> list2;
};

// One accepted line of the table.
struct KvValEntry {
    std::string name;  // at most kMaxNameLength characters
    double version = 0;  // > 0: at least this version; < 0: only up to |integer part|
    int modelMask = 0;
    int argCNoDepOnDim = 0;
    int argCDepOnDim = 0;
    int argCount = 0;  // the sum of both, 0..kMaxArguments
    int nDim = 0;      // 0: any axis count
    int nReply1 = 0;
    int nReply2 = -1;  // -1: a second-list value leaves the reply count
    bool bCreatesErrorCodes = false;
    bool bCheckVarious = false;
    std::vector<KvValArgument> args;
};

// What a validation found, besides the rewritten command.
struct KvValOutcome {
    int result = kValOk;
    int replyLines = 0;        // meaningful when result is kValOk
    bool errorTokenSet = false;
    std::string errorToken;    // the offending token when errorTokenSet
    int errorIndex = -1;
};

class KvVal {
public:
    // Model-mask bits of a table entry.
    static constexpr int kMaskModel0 = 1;
    static constexpr int kMaskSingleAxis = 2;
    static constexpr int kMaskAxisNumberLast = 4;  // last argument is an axis number
    static constexpr int kMaskModel1 = 8;
    static constexpr int kMaskModel6 = 32;

    static constexpr size_t kMaxLineLength = 511;
    static constexpr size_t kMaxNameLength = 16;
    static constexpr size_t kMaxFieldLength = 32;
    static constexpr int kMaxArguments = 13;
    static constexpr size_t kMaxListItems = 5;
    // Tokens of a command line are at most this long; the command itself at
    // most kMaxCommandLength characters.
    static constexpr size_t kMaxTokenLength = 63;
    static constexpr size_t kMaxCommandLength = 260;

    // The bit of the selected model (1, 2, 8 or 32); entries without it are
    // not loaded. Takes effect at the next load.
    void SetModelMask(int mask) { nModelMask = mask; }
    int ModelMask() const { return nModelMask; }
    bool CheckEnabled() const { return bCheck; }
    // Set when a loaded entry has a list-type argument.
    bool HasListArguments() const { return bListType; }
    const std::vector<KvValEntry>& Entries() const { return entries; }

    // True when QUBRACOM.DAT (any letter case) is in the current directory.
    static bool TableFileExists();
    // Reads QUBRACOM.DAT from the current directory. False when it cannot
    // be opened; the entries loaded before are then kept.
    bool Load();
    // The same from a given file or stream.
    bool LoadFile(const std::string& path);
    void LoadStream(std::istream& in);

    // Reads one table line (without its line end). False when the line is a
    // comment, too short, too long or malformed; tooManyArguments tells that
    // it declared more than kMaxArguments arguments (entry.name then holds
    // the command's name, for the message box).
    static bool ParseLine(const std::string& line, KvValEntry& entry, bool& tooManyArguments);

    // Validates a command line against the loaded entries, for a controller
    // with `axes` axes whose firmware version is `controllerVersion`.
    // `command` is rebuilt: decimal commas become points, bracketed
    // character codes are decoded, a number glued to the command word is
    // split off, tokens are joined by single blanks and number arguments
    // are rewritten in their canonical form. A command longer than
    // kMaxCommandLength is refused (kValTooManyArguments) and left as it is.
    KvValOutcome Validate(std::string& command, int axes, double controllerVersion) const;

private:
    std::vector<KvValEntry> entries;
    int nModelMask = kMaskModel0;
    bool bCheck = true;
    bool bListType = false;
};

}  // namespace zel
