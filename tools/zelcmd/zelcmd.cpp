// zelcmd: command-line client of libzelcomm. Sends controller commands, runs
// an interactive prompt, or walks through the library's calls.
//
// Configuration: the library reads ZELCOMM.INI once, when it is loaded,
// which is before main runs. --config and --demo therefore put the wanted
// file into ZELCOMM_INI and execute zelcmd once more, so that the fresh copy
// of the library reads it. Without ZELCOMM_INI and without a ZELCOMM.INI next
// to the library or the executable, nothing names a serial line and zelcmd
// runs the simulated controller, as with --demo.
#include "session.h"
#include "support.h"
#include "walkthrough.h"

#include <zelcomm/zelcomm.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <getopt.h>
#include <unistd.h>

namespace zelcmd {
namespace {

// Set in the copy of zelcmd that runs with the configuration it asked for.
const char* const kEnvConfigured = "ZELCMD_CONFIGURED";
// The temporary configuration file that copy removes when it ends.
const char* const kEnvTempIni = "ZELCMD_TEMP_INI";

const char* const kUsage =
    "Usage: zelcmd [OPTION]... send COMMAND...\n"
    "       zelcmd [OPTION]... shell\n"
    "       zelcmd [OPTION]... walkthrough\n"
    "\n"
    "Drives a positioning-stage controller through libzelcomm.\n"
    "\n"
    "Commands:\n"
    "  send COMMAND...   send one command line (the words joined by blanks) and\n"
    "                    print the reply\n"
    "  shell             read command lines from standard input and print the\n"
    "                    replies; \"N: COMMAND\" waits for N reply lines, \":lines N\"\n"
    "                    sets the default, \"quit\" or end of input ends\n"
    "  walkthrough       run every call of the library against the controller and\n"
    "                    print each step and result; multi-axis controllers are\n"
    "                    tested with all axes at once, single-axis controllers\n"
    "                    axis by axis\n"
    "\n"
    "Controller options:\n"
    "  -t, --type TYPE        default (1), varne (2), prusk (4), fistra (8),\n"
    "                         wendalo (16), jovek (32) or ulmeta (64); by default\n"
    "                         the CMode of the configuration, else 1\n"
    "  -a, --axes N           number of axes (default 3; 4 for varne, prusk,\n"
    "                         wendalo and jovek; 1 for fistra)\n"
    "  -p, --port N           serial port 1..8 (default 0: the configured port)\n"
    "  -b, --baud N           baud rate (default 0: the configured rate)\n"
    "  -w, --wait-mode WORD   wait-mode word (default 0x00100904; -1: the\n"
    "                         configured SerialMode)\n"
    "  -c, --config PATH      configuration file to use instead of ZELCOMM_INI\n"
    "                         or ZELCOMM.INI\n"
    "  -d, --demo             use the simulated controller (the configuration's\n"
    "                         other settings are kept)\n"
    "\n"
    "Command options:\n"
    "  -l, --lines N          reply lines to wait for (send, shell; default 1;\n"
    "                         0: none; -1: as the command table says)\n"
    "      --calibrate        walkthrough: also calibrate and measure the range\n"
    "      --axis N           walkthrough: test only axis N of a single-axis\n"
    "                         controller\n"
    "      --standstill-timeout S\n"
    "                         walkthrough: give up when the axes have not stopped\n"
    "                         after S seconds (default 600)\n"
    "  -h, --help             show this help\n"
    "\n"
    "Without ZELCOMM_INI and without a ZELCOMM.INI next to the library or the\n"
    "program, zelcmd uses the simulated controller.\n"
    "\n"
    "Exit status: 0 on success; the library's error code (2..24) when a call\n"
    "fails with one; 1 for any other failure; 64 for a wrong command line.\n";

struct Options {
    bool help = false;
    int type = 0;  // 0: from the configuration
    int axes = 0;  // 0: by type
    int port = 0;
    int baud = 0;
    unsigned waitMode = kWaitModeSync;
    std::string config;
    bool demo = false;
    int lines = 1;
    bool linesGiven = false;
    bool calibrate = false;
    int axis = 0;
    int standstillSeconds = 600;
    std::vector<std::string> words;  // the command and its arguments
};

int Usage(const std::string& problem) {
    std::fprintf(stderr, "zelcmd: %s\nTry 'zelcmd --help'.\n", problem.c_str());
    return kExitUsage;
}

bool IntOption(const char* name, const char* text, long long low, long long high, long long& value) {
    if (ParseInt(text, value) && value >= low && value <= high) return true;
    std::fprintf(stderr, "zelcmd: invalid value for --%s: '%s'\n", name, text);
    return false;
}

enum LongOnly { kOptCalibrate = 256, kOptAxis, kOptStandstill };

// Returns -1 when parsed, otherwise the exit status.
int ParseOptions(int argc, char** argv, Options& o) {
    static const option kOptions[] = {
        {"type", required_argument, nullptr, 't'},
        {"axes", required_argument, nullptr, 'a'},
        {"port", required_argument, nullptr, 'p'},
        {"baud", required_argument, nullptr, 'b'},
        {"wait-mode", required_argument, nullptr, 'w'},
        {"config", required_argument, nullptr, 'c'},
        {"demo", no_argument, nullptr, 'd'},
        {"lines", required_argument, nullptr, 'l'},
        {"calibrate", no_argument, nullptr, kOptCalibrate},
        {"axis", required_argument, nullptr, kOptAxis},
        {"standstill-timeout", required_argument, nullptr, kOptStandstill},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    long long n = 0;
    for (;;) {
        const int c = getopt_long(argc, argv, ":t:a:p:b:w:c:dl:h", kOptions, nullptr);
        if (c == -1) break;
        switch (c) {
            case 't':
                o.type = ParseControllerType(optarg);
                if (o.type == 0) return Usage(std::string("unknown controller type '") + optarg + "'");
                break;
            case 'a':
                if (!IntOption("axes", optarg, INT_MIN, INT_MAX, n)) return kExitUsage;
                o.axes = static_cast<int>(n);
                if (o.axes == 0) return Usage("--axes must not be 0");
                break;
            case 'p':
                if (!IntOption("port", optarg, INT_MIN, INT_MAX, n)) return kExitUsage;
                o.port = static_cast<int>(n);
                break;
            case 'b':
                if (!IntOption("baud", optarg, INT_MIN, INT_MAX, n)) return kExitUsage;
                o.baud = static_cast<int>(n);
                break;
            case 'w':
                if (!IntOption("wait-mode", optarg, -1, 0xFFFFFFFFLL, n)) return kExitUsage;
                o.waitMode = static_cast<unsigned>(n);
                break;
            case 'c':
                o.config = optarg;
                break;
            case 'd':
                o.demo = true;
                break;
            case 'l':
                if (!IntOption("lines", optarg, INT_MIN, INT_MAX, n)) return kExitUsage;
                o.lines = static_cast<int>(n);
                o.linesGiven = true;
                break;
            case kOptCalibrate:
                o.calibrate = true;
                break;
            case kOptAxis:
                if (!IntOption("axis", optarg, 1, INT_MAX, n)) return kExitUsage;
                o.axis = static_cast<int>(n);
                break;
            case kOptStandstill:
                if (!IntOption("standstill-timeout", optarg, 1, 24 * 3600, n)) return kExitUsage;
                o.standstillSeconds = static_cast<int>(n);
                break;
            case 'h':
                o.help = true;
                break;
            case ':':
                return Usage(std::string("option ") + argv[optind - 1] + " needs a value");
            default:
                if (optopt != 0) return Usage(std::string("unknown option -") + static_cast<char>(optopt));
                return Usage(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    for (int i = optind; i < argc; ++i) o.words.emplace_back(argv[i]);
    if (o.help) return -1;
    if (o.words.empty()) return Usage("no command given (send, shell or walkthrough)");
    const std::string& command = o.words[0];
    if (command == "send") {
        if (o.words.size() < 2) return Usage("send needs the command text");
    } else if (command == "shell" || command == "walkthrough") {
        if (o.words.size() > 1) return Usage("unexpected argument '" + o.words[1] + "'");
    } else {
        return Usage("unknown command '" + command + "'");
    }
    if (command == "walkthrough" && o.linesGiven) return Usage("--lines is for send and shell");
    if (command != "walkthrough" && (o.calibrate || o.axis != 0))
        return Usage("--calibrate and --axis are for walkthrough");
    return -1;
}

// ---- Configuration ---------------------------------------------------------

char gTempIni[PATH_MAX] = "";

void RemoveTempIni() {
    if (gTempIni[0]) ::unlink(gTempIni);
}

void RemoveTempIniOnSignal(int signal) {
    RemoveTempIni();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// In the copy that runs with the configuration: takes over the temporary
// file, which the library may read again later (SerialMode, [Ports]).
void AdoptConfiguration() {
    if (const char* temp = std::getenv(kEnvTempIni)) {
        std::snprintf(gTempIni, sizeof gTempIni, "%s", temp);
        std::atexit(RemoveTempIni);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, RemoveTempIniOnSignal);
    }
    ::unsetenv(kEnvTempIni);
    ::unsetenv(kEnvConfigured);
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Writes text to a new file in the temporary directory; its path, or empty.
std::string WriteTempIni(const std::string& text) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/zelcmd-XXXXXX.ini";
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    const int fd = ::mkstemps(name.data(), 4);
    if (fd < 0) return std::string();
    path = name.data();
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            ::close(fd);
            ::unlink(path.c_str());
            return std::string();
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return path;
}

// Makes sure the library runs with the configuration the options ask for;
// executes zelcmd again when it must. Returns -1 to go on, or the exit status.
int PrepareConfiguration(const Options& o, char** argv) {
    if (std::getenv(kEnvConfigured)) {
        AdoptConfiguration();
        return -1;
    }
    const char* named = std::getenv("ZELCOMM_INI");
    const bool envNamesFile = named && *named;
    const std::string loaded = ZelConfigPath();

    bool demo = o.demo;
    if (o.config.empty() && !demo) {
        if (envNamesFile || FileExists(loaded)) return -1;
        std::fprintf(stderr, "zelcmd: no ZELCOMM.INI found; using the simulated controller\n");
        demo = true;
    }

    std::string config = o.config;
    if (!config.empty()) {
        char resolved[PATH_MAX];
        if (!FileExists(config) || !::realpath(config.c_str(), resolved)) {
            std::fprintf(stderr, "zelcmd: cannot read configuration file %s: %s\n", config.c_str(),
                         std::strerror(errno));
            return 1;
        }
        config = resolved;
        if (!demo && config == loaded) return -1;  // the library read this very file
    } else if (FileExists(loaded)) {
        config = loaded;
    }

    if (demo) {
        std::string text;
        if (!config.empty() && !ReadFile(config, text)) {
            std::fprintf(stderr, "zelcmd: cannot read configuration file %s\n", config.c_str());
            return 1;
        }
        const std::string temp = WriteTempIni(IniWithDemoMode(text));
        if (temp.empty()) {
            std::fprintf(stderr, "zelcmd: cannot write a temporary configuration file: %s\n",
                         std::strerror(errno));
            return 1;
        }
        ::setenv(kEnvTempIni, temp.c_str(), 1);
        config = temp;
    }
    ::setenv("ZELCOMM_INI", config.c_str(), 1);
    ::setenv(kEnvConfigured, "1", 1);
    ::execv("/proc/self/exe", argv);
    ::execvp(argv[0], argv);
    std::fprintf(stderr, "zelcmd: cannot execute %s again: %s\n", argv[0], std::strerror(errno));
    if (const char* temp = std::getenv(kEnvTempIni)) ::unlink(temp);
    return 1;
}

// The controller type of the configuration's CMode, as the library's
// demonstration program chooses it.
int ConfiguredType() {
    std::string text;
    if (!ReadFile(ZelConfigPath(), text)) return ZEL_TYPE_DEFAULT;
    return TypeFromCMode(IniStartupValue(text, "CMode"));
}

// ---- Commands ---------------------------------------------------------------

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

// Sends one command line; prints the reply, or reports the failure and
// returns its exit status.
int Execute(const std::string& command, int lines) {
    std::vector<char> reply(4096, '\0');
    const int result = ExecuteCommandEx(command.c_str(), lines, reply.data(), reply.size());
    if (result != ZEL_OK)
        return ReportFailure("ExecuteCommand(\"" + command + "\", " + std::to_string(lines) + ")", result);
    const std::string text = ReplyForPrinting(reply.data());
    if (!text.empty()) std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    return 0;
}

int RunSend(const Options& o) {
    std::string command;
    for (size_t i = 1; i < o.words.size(); ++i) command += (i > 1 ? " " : "") + o.words[i];
    return Execute(command, o.lines);
}

int RunShell(const Options& o) {
    const bool interactive = ::isatty(STDIN_FILENO) != 0;
    int defaultLines = o.lines;
    if (interactive)
        std::printf("Commands go to the controller. \"N: COMMAND\" waits for N reply lines,\n"
                    "\":lines N\" sets the default (now %d), \"quit\" ends.\n",
                    defaultLines);
    std::string line;
    for (;;) {
        if (interactive) {
            std::printf("zelcmd> ");
            std::fflush(stdout);
        }
        if (!std::getline(std::cin, line)) break;
        std::string text = Trim(line);
        if (text.empty()) continue;
        if (text == "quit" || text == "exit") break;
        if (text.compare(0, 6, ":lines") == 0) {
            long long n = 0;
            if (ParseInt(Trim(text.substr(6)), n) && n >= INT_MIN && n <= INT_MAX) {
                defaultLines = static_cast<int>(n);
            } else {
                std::fprintf(stderr, "zelcmd: \":lines N\" needs a number\n");
            }
            continue;
        }
        int lines = defaultLines;
        const size_t colon = text.find(':');
        long long n = 0;
        if (colon != std::string::npos && ParseInt(Trim(text.substr(0, colon)), n) && n >= INT_MIN &&
            n <= INT_MAX) {
            lines = static_cast<int>(n);
            text = Trim(text.substr(colon + 1));
        }
        Execute(text, lines);  // a failure is reported and the shell goes on
    }
    if (interactive) std::printf("\n");
    return 0;
}

int Run(int argc, char** argv) {
    Options o;
    int status = ParseOptions(argc, argv, o);
    if (status >= 0) return status;
    if (o.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    status = PrepareConfiguration(o, argv);
    if (status >= 0) return status;
    InstallMessageBoxHandler();

    Settings settings;
    settings.type = o.type != 0 ? o.type : ConfiguredType();
    settings.axes = o.axes != 0 ? o.axes : DefaultAxesForType(settings.type);
    settings.port = o.port;
    settings.baud = o.baud;
    settings.waitMode = o.waitMode;
    if (o.axis != 0 && !IsSingleAxisType(settings.type))
        return Usage("--axis is for single-axis controllers (prusk, fistra, wendalo, jovek)");

    MessageWindow window;
    status = OpenSession(settings, window);
    if (status != 0) return status;

    const std::string& command = o.words[0];
    if (command == "send") {
        status = RunSend(o);
    } else if (command == "shell") {
        status = RunShell(o);
    } else {
        WalkthroughOptions walk;
        walk.calibrate = o.calibrate;
        walk.axis = o.axis;
        walk.standstillSeconds = o.standstillSeconds;
        status = RunWalkthrough(settings, window, walk);
    }
    const int closeStatus = CloseSession();
    return status != 0 ? status : closeStatus;
}

}  // namespace
}  // namespace zelcmd

int main(int argc, char** argv) { return zelcmd::Run(argc, argv); }
