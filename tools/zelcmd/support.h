// Helpers of zelcmd that know nothing of its subcommands: error texts,
// controller types, the few INI rules zelcmd needs, reply formatting.
#ifndef ZELCMD_SUPPORT_H
#define ZELCMD_SUPPORT_H

#include <string>

namespace zelcmd {

// Exit status for a wrong command line.
constexpr int kExitUsage = 64;

// A short English text for a code returned by the library.
std::string ErrorText(int code);

// The exit status that carries a library code: the code itself when it is
// one of the small positive codes, 1 otherwise.
int ExitStatusFor(int code);

// Prints "zelcmd: <what> failed: <code> (<text>)" to standard error and
// returns the exit status for the code.
int ReportFailure(const std::string& what, int code);

// Controller types: the InitController number of a name or number given on
// the command line ("prusk", "4"); 0 when it is neither.
int ParseControllerType(const std::string& text);
// The model name of a type number ("Prusk"), or "type N".
std::string ControllerTypeName(int type);
// Types 4, 8, 16 and 32 address one axis per command.
bool IsSingleAxisType(int type);
// The axes count zelcmd uses when none is given: that of the demonstration
// program for the type.
int DefaultAxesForType(int type);
// The type selected by a configuration's [Startup] CMode value, compared as
// the library's demonstration program compares it (exactly); 1 for anything
// else.
int TypeFromCMode(const std::string& cmode);

// Reads [Startup] key from an INI text: section and key without regard to
// case, blanks trimmed, ';' lines are comments. Empty when absent.
std::string IniStartupValue(const std::string& iniText, const std::string& key);
// The INI text with [Startup] Mode set to DEMO and everything else kept.
std::string IniWithDemoMode(const std::string& iniText);

// Whole contents of a file; false when it cannot be read.
bool ReadFile(const std::string& path, std::string& text);

// A reply as received ("a\r\nb\r\n") as printable lines ("a\nb"): line ends
// become '\n', trailing line ends are dropped.
std::string ReplyForPrinting(const std::string& reply);

// Parses a whole decimal (or 0x hexadecimal) integer; false on trailing text.
bool ParseInt(const std::string& text, long long& value);

}  // namespace zelcmd

#endif  // ZELCMD_SUPPORT_H
