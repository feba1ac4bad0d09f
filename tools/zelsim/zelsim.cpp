// zelsim: a virtual stage controller on a pseudo-terminal.
//
// It opens a pseudo-terminal, prints the path of its slave side (or links
// it to a path of your choice) and answers the command lines that arrive as
// a controller would. The answers come from the library's own demo-mode
// simulator, so both command sets answer exactly as demo mode does; on top
// of that the identify line can be chosen, and every reply can be delayed.
//
//   zelsim [--link PATH] [--identify "Varne x 224 1 5"] [--delay MS]
//          [--single-axis] [--axes N] [--model NAME] [--baud RATE]
//          [--version X.YY] [--fast] [--verbose]
//
// Point the library at it with ZELCOMM.INI: [Ports] COM1=<path printed>.
#include "engine/controller.h"
#include "platform/zel_clock.h"
#include "serial/kv_serial.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::atomic<bool> gStop{false};

void OnSignal(int) { gStop = true; }

struct Options {
    std::string link;
    std::string identify;  // empty: the simulator's own identify line
    int delayMs = 0;
    bool singleAxis = false;
    int axes = 3;
    std::string model;
    int baud = 9600;
    double version = 0;
    bool haveVersion = false;
    bool fast = false;
    bool verbose = false;
};

void Usage(FILE* to) {
    std::fputs(
        "usage: zelsim [options]\n"
        "  --link PATH        make PATH a symbolic link to the controller's line\n"
        "                     (otherwise the line's path is printed)\n"
        "  --identify TEXT    the five-word identify line, e.g. \"Varne x 224 1 5\"\n"
        "  --delay MS         wait MS milliseconds before every reply\n"
        "  --single-axis      answer the single-axis command set\n"
        "  --axes N           number of axes (1..8, default 3)\n"
        "  --model NAME       controller model (Varne, Prusk, Fistra, ...)\n"
        "  --baud RATE        line rate the transfer times are simulated at (default 9600)\n"
        "  --version X.YY     the number \"version\" answers\n"
        "  --fast             answer at once: simulated time passes only with the\n"
        "                     commands (no transfer or motion time in real time)\n"
        "  --verbose          show every line and reply on standard error\n",
        to);
}

bool ParseInt(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || !end || *end || v < low || v > high) return false;
    out = static_cast<int>(v);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char*& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (a == "--link") {
            if (!value(v)) return false;
            o.link = v;
        } else if (a == "--identify") {
            if (!value(v)) return false;
            o.identify = v;
        } else if (a == "--delay") {
            if (!value(v) || !ParseInt(v, 0, 600000, o.delayMs)) return false;
        } else if (a == "--single-axis") {
            o.singleAxis = true;
        } else if (a == "--axes") {
            if (!value(v) || !ParseInt(v, 1, 8, o.axes)) return false;
        } else if (a == "--model") {
            if (!value(v)) return false;
            o.model = v;
        } else if (a == "--baud") {
            if (!value(v) || !ParseInt(v, 300, 115200, o.baud) || zel::CodeOfBaudRate(o.baud) < 0) return false;
        } else if (a == "--version") {
            if (!value(v)) return false;
            char* end = nullptr;
            o.version = std::strtod(v, &end);
            if (!end || *end) return false;
            o.haveVersion = true;
        } else if (a == "--fast") {
            o.fast = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else {
            return false;
        }
    }
    return true;
}

// The controller side of the line: the pseudo-terminal's master, plus one
// descriptor of the slave kept open so that the line survives the library
// closing and opening it again.
struct Line {
    int master = -1;
    int slave = -1;
    std::string path;
};

bool OpenLine(Line& line) {
    line.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.master < 0 || ::grantpt(line.master) != 0 || ::unlockpt(line.master) != 0) return false;
    const char* name = ::ptsname(line.master);
    if (!name) return false;
    line.path = name;
    line.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.slave < 0) return false;
    // Raw until the library sets the line up itself: no echo of early input.
    termios t{};
    if (::tcgetattr(line.slave, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(line.slave, TCSANOW, &t);
    }
    ::fcntl(line.master, F_SETFL, ::fcntl(line.master, F_GETFL) | O_NONBLOCK);
    return true;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size() && !gStop) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return done == text.size();
}

std::string Shown(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (static_cast<unsigned char>(c) < 0x20) out += "^" + std::string(1, static_cast<char>(c + 64));
        else out += c;
    }
    return out;
}

class Simulator {
public:
    explicit Simulator(const Options& o) : options_(o), controller_(0) {
        zel::TController& c = controller_;
        c.nCInterface = zel::kInterfaceDemo;
        if (!o.model.empty()) c.KvCSelectModelByName(o.model);
        if (o.singleAxis)
            c.ucCCmdSet = static_cast<uint8_t>((c.ucCCmdSet & ~zel::kCmdSetMulti) | zel::kCmdSetSingle);
        c.KvCBuildGetStatusString();
        c.ucCBaudCode = static_cast<uint8_t>(zel::CodeOfBaudRate(o.baud));
        if (o.haveVersion) c.dCVersion = o.version;
        for (int k = 0; k < o.axes; ++k) c.pCAxes.push_back(std::make_unique<zel::TAxis>());
        c.ucCSignalMode = 1;
    }

    const std::string& ConnectString() const { return controller_.sCConnectString; }
    bool SingleAxis() const { return controller_.SingleAxisCommands(); }

    // The reply to one command (a line, or the whole connect string).
    std::string Answer(const std::string& command) {
        zel::TController& c = controller_;
        if (!options_.identify.empty() && IsIdentify(command)) return options_.identify + "\r\n";
        {
            std::lock_guard<std::mutex> lock(c.mCReplyLock);
            c.sCReply.clear();
        }
        c.KvCProcessDemoCommand(command, 1, 1);
        return c.Reply();
    }

private:
    bool IsIdentify(const std::string& command) const {
        std::vector<std::string> words;
        size_t i = 0;
        while (i < command.size()) {
            while (i < command.size() && std::strchr(" \t\r\n", command[i])) ++i;
            const size_t start = i;
            while (i < command.size() && !std::strchr(" \t\r\n", command[i])) ++i;
            if (i > start) words.push_back(command.substr(start, i - start));
        }
        if (controller_.SingleAxisCommands()) return words.size() == 2 && words[1] == "nidentify";
        return words.size() == 1 && words[0] == "identify";
    }

    Options options_;
    zel::TController controller_;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Usage(stderr);
        return 2;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGHUP, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<zel::VirtualClock> virtualClock;
    std::unique_ptr<zel::ScopedClock> clockScope;
    if (options.fast) {
        virtualClock = std::make_unique<zel::VirtualClock>();
        clockScope = std::make_unique<zel::ScopedClock>(*virtualClock);
    }

    Line line;
    if (!OpenLine(line)) {
        std::fprintf(stderr, "zelsim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    if (!options.link.empty()) {
        ::unlink(options.link.c_str());  // a link left by an earlier run
        if (::symlink(line.path.c_str(), options.link.c_str()) != 0) {
            std::fprintf(stderr, "zelsim: cannot link %s: %s\n", options.link.c_str(), std::strerror(errno));
            return 1;
        }
        std::printf("%s -> %s\n", options.link.c_str(), line.path.c_str());
    } else {
        std::printf("%s\n", line.path.c_str());
    }
    std::fflush(stdout);

    Simulator sim(options);
    std::string pending;
    // How long an incomplete start of the connect string waits for its rest
    // before its lines are answered one by one.
    constexpr int kConnectGraceMs = 200;
    auto lastInput = std::chrono::steady_clock::now();

    while (!gStop) {
        pollfd p{line.master, POLLIN, 0};
        const int r = ::poll(&p, 1, pending.empty() ? 200 : 20);
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && (p.revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = ::read(line.master, buf, sizeof buf);
            if (n > 0) {
                for (ssize_t k = 0; k < n; ++k) {
                    const char ch = buf[k];
                    if (ch == 0x11 || ch == 0x13) continue;  // flow control of the line
                    if (ch == 0x03) {                        // CTRL+C: drop what is pending
                        if (options.verbose) std::fprintf(stderr, "< ^C\n");
                        pending.clear();
                        continue;
                    }
                    pending += ch;
                }
                lastInput = std::chrono::steady_clock::now();
            }
        }
        // Answer every complete line; the connect string as a whole.
        for (;;) {
            const size_t lf = pending.find('\n');
            if (lf == std::string::npos) break;
            // Only the multi-axis command set takes its connect string whole.
            const std::string connect = sim.SingleAxis() ? std::string() : sim.ConnectString();
            std::string command;
            if (!connect.empty() && pending.compare(0, connect.size(), connect) == 0) {
                command = connect;
            } else if (!connect.empty() && connect.compare(0, pending.size(), pending) == 0 &&
                       std::chrono::steady_clock::now() - lastInput < std::chrono::milliseconds(kConnectGraceMs)) {
                break;  // the rest of the connect string is on its way
            } else {
                command = pending.substr(0, lf + 1);
            }
            pending.erase(0, command.size());
            const std::string reply = sim.Answer(command);
            if (options.verbose) std::fprintf(stderr, "< %s\n> %s\n", Shown(command).c_str(), Shown(reply).c_str());
            if (options.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(options.delayMs));
            if (!reply.empty() && !WriteAll(line.master, reply)) gStop = true;
        }
    }
    if (!options.link.empty()) ::unlink(options.link.c_str());
    ::close(line.slave);
    ::close(line.master);
    return 0;
}
