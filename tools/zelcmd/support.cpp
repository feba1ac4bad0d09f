#include "support.h"

#include <zelcomm/zelcomm.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <strings.h>
#include <vector>

namespace zelcmd {

namespace {

struct CodeText {
    int code;
    const char* text;
};

// Every code of zelcomm.h, in its order.
const CodeText kCodeTexts[] = {
    {ZEL_OK, "success"},
    {ZEL_ERR_TERMINATING, "library terminating"},
    {ZEL_ERR_NO_MEMORY, "out of memory"},
    {ZEL_ERR_NOT_CONNECTED, "not connected"},
    {ZEL_ERR_PORT, "port number above 8"},
    {ZEL_ERR_EMPTY_COMMAND, "empty command"},
    {ZEL_ERR_NO_CONTROLLER, "no controller or unknown controller type"},
    {ZEL_ERR_AXES_FOR_TYPE, "this controller type needs exactly one axis"},
    {ZEL_ERR_AXIS, "axis number or axes count out of range"},
    {ZEL_ERR_BAUDRATE, "baud rate not supported"},
    {ZEL_ERR_BUSY, "still waiting for a reply"},
    {ZEL_ERR_POSITION, "position data invalid"},
    {ZEL_ERR_PARAMETER, "invalid parameter"},
    {ZEL_ERR_REPLY_NUMBER, "reply is not a number"},
    {ZEL_ERR_NULL_POINTER, "missing output buffer"},
    {ZEL_ERR_COMMAND_FAILED, "command failed"},
    {ZEL_ERR_IDENTIFY, "controller not identified"},
    {ZEL_ERR_OLD_VERSION, "controller firmware too old"},
    {ZEL_ERR_ABORT_FAILED, "abort failed"},
    {ZEL_ERR_TIMEOUT, "time-out waiting for the reply"},
    {ZEL_ERR_WAIT_FAILED, "wait for the reply failed"},
    {ZEL_ERR_BREAK, "break on the serial line"},
    {ZEL_ERR_NO_COMMAND_TABLE, "no command table loaded"},
    {ZEL_ERR_NOT_SUPPORTED, "not supported by this controller model"},
    {ZEL_ERR_LINE_ERROR, "line error on the serial line"},
};

struct TypeName {
    int type;
    const char* option;  // as typed on the command line
    const char* model;   // as the library names the model
    int axes;            // default axes count
};

const TypeName kTypes[] = {
    {ZEL_TYPE_DEFAULT, "default", "Default", 3},  {ZEL_TYPE_VARNE_PC, "varne", "Varne-PC", 4},
    {ZEL_TYPE_PRUSK, "prusk", "Prusk", 4},        {ZEL_TYPE_FISTRA, "fistra", "Fistra", 1},
    {ZEL_TYPE_WENDALO, "wendalo", "Wendalo", 4},  {ZEL_TYPE_JOVEK, "jovek", "Jovek", 4},
    {ZEL_TYPE_ULMETA, "ulmeta", "Ulmeta", 3},
};

const TypeName* FindType(int type) {
    for (const TypeName& t : kTypes)
        if (t.type == type) return &t;
    return nullptr;
}

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\v\f";
    const size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(blanks);
    return text.substr(begin, end - begin + 1);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The section name of a "[name]" line, or false for any other line.
bool SectionName(const std::string& line, std::string& name) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] != '[') return false;
    const size_t close = t.find(']');
    name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// The key and value of a "key = value" line, or false.
bool KeyValue(const std::string& line, std::string& key, std::string& value) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';') return false;
    const size_t equals = t.find('=');
    if (equals == std::string::npos) return false;
    key = Trim(t.substr(0, equals));
    value = Trim(t.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return !key.empty();
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

std::string ErrorText(int code) {
    for (const CodeText& entry : kCodeTexts)
        if (entry.code == code) return entry.text;
    if (code > ZEL_ERR_VALIDATION)
        return "command validation failed with error " + std::to_string(code - ZEL_ERR_VALIDATION);
    if (code > 0) {
        // Any other positive code is the system's error number of the serial line.
        char buffer[256];
        const char* text = strerror_r(code, buffer, sizeof buffer);
        return std::string("system error: ") + text;
    }
    return "unknown error";
}

int ExitStatusFor(int code) {
    return (code >= ZEL_ERR_NO_MEMORY && code <= ZEL_ERR_LINE_ERROR) ? code : 1;
}

int ReportFailure(const std::string& what, int code) {
    std::fprintf(stderr, "zelcmd: %s failed: %d (%s)\n", what.c_str(), code, ErrorText(code).c_str());
    return ExitStatusFor(code);
}

int ParseControllerType(const std::string& text) {
    for (const TypeName& t : kTypes)
        if (EqualNoCase(text, t.option) || EqualNoCase(text, t.model)) return t.type;
    long long number = 0;
    if (ParseInt(text, number) && FindType(static_cast<int>(number))) return static_cast<int>(number);
    return 0;
}

std::string ControllerTypeName(int type) {
    const TypeName* t = FindType(type);
    return t ? t->model : "type " + std::to_string(type);
}

bool IsSingleAxisType(int type) {
    return type == ZEL_TYPE_PRUSK || type == ZEL_TYPE_FISTRA || type == ZEL_TYPE_WENDALO ||
           type == ZEL_TYPE_JOVEK;
}

int DefaultAxesForType(int type) {
    const TypeName* t = FindType(type);
    return t ? t->axes : 3;
}

int TypeFromCMode(const std::string& cmode) {
    if (cmode == "Varne" || cmode == "Varne-PC") return ZEL_TYPE_VARNE_PC;
    for (const TypeName& t : kTypes)
        if (cmode == t.model) return t.type;
    return ZEL_TYPE_DEFAULT;
}

std::string IniStartupValue(const std::string& iniText, const std::string& key) {
    bool inStartup = false;
    std::string name, k, v;
    for (const std::string& line : Lines(iniText)) {
        if (SectionName(line, name)) {
            inStartup = EqualNoCase(name, "Startup");
        } else if (inStartup && KeyValue(line, k, v) && EqualNoCase(k, key)) {
            return v;
        }
    }
    return std::string();
}

std::string IniWithDemoMode(const std::string& iniText) {
    std::string out;
    bool inStartup = false;
    bool sawStartup = false;
    std::string name, k, v;
    for (const std::string& line : Lines(iniText)) {
        if (SectionName(line, name)) {
            inStartup = EqualNoCase(name, "Startup");
            out += line + "\n";
            if (inStartup && !sawStartup) out += "Mode=DEMO\n";
            sawStartup = sawStartup || inStartup;
            continue;
        }
        if (inStartup && KeyValue(line, k, v) && EqualNoCase(k, "Mode")) continue;
        out += line + "\n";
    }
    if (!sawStartup) out = "[Startup]\nMode=DEMO\n" + out;
    return out;
}

bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream contents;
    contents << in.rdbuf();
    text = contents.str();
    return !in.bad();
}

std::string ReplyForPrinting(const std::string& reply) {
    std::string out;
    out.reserve(reply.size());
    for (size_t i = 0; i < reply.size(); ++i) {
        if (reply[i] == '\r') {
            if (i + 1 < reply.size() && reply[i + 1] == '\n') continue;
            out += '\n';
        } else {
            out += reply[i];
        }
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

bool ParseInt(const std::string& text, long long& value) {
    if (text.empty()) return false;
    // Decimal, or hexadecimal with 0x (wait-mode words); a leading zero does
    // not make it octal.
    const size_t sign = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    const bool hex = text.size() > sign + 2 && text[sign] == '0' &&
                     (text[sign + 1] == 'x' || text[sign + 1] == 'X');
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    return errno == 0 && end && *end == '\0' && end != text.c_str();
}

}  // namespace zelcmd
