// Round trip of a one-line command over a pseudo-terminal, and the CPU a
// wait for a silent controller costs.
//
// A peer thread on the master side of a pseudo-terminal answers every line
// at once with "0\r\n". In one run, interleaved in blocks so that a noisy
// machine treats every variant alike, it measures:
//   (a) a minimal raw loop on the slave (opened with the library's own line
//       settings): write "st\r\n", poll and read until "\r\n";
//   (b) ExecuteCommand("st", 1, reply) through the library in the
//       synchronous signal modes 1, 2, 3 and 7 and with the wait-for-reply
//       thread;
//   (c) the same with the diagnostic protocol on (trace and line traffic).
// Each block loads the library in-process with its own ZELCOMM.INI
// ([Ports] COM1 = the slave), connects, runs its commands and unloads again.
//
// Then the peer falls silent and ExecuteCommand waits out a 2 s time-out in
// each signal mode while the CPU time of the whole process is taken.
//
// Budgets are printed next to the figures; a missed one says MISSED. The
// exit code is 0 either way (1 only when the measurement itself failed).
//
//   bench_serial_roundtrip [--commands N] [--block N] [--silent-ms MS]
//                          [--no-roundtrip] [--no-cpu] [--only TEXT]
// --only keeps (a) and the variants whose name holds TEXT (for profiling).
#include "interface/library_frame.h"
#include "platform/zel_paths.h"
#include "platform/zel_serial_port.h"

#include <zelcomm/zelcomm.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr double kRatioBudget = 1.5;
constexpr double kMaxRoundTripMs = 50.0;
constexpr double kCpuBudgetPercent = 2.0;
constexpr int kWarmUpCommands = 20;  // per block, not measured

struct Options {
    int commands = 10000;
    int block = 500;
    int silentMs = 2000;
    bool roundTrip = true;
    bool cpu = true;
    std::string only;  // run only the variants whose name holds this text (and (a))
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&](int& out, int low) {
            if (i + 1 >= argc) return false;
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (!end || *end || v < low || v > 100000000) return false;
            out = static_cast<int>(v);
            return true;
        };
        if (a == "--commands") {
            if (!number(o.commands, 1)) return false;
        } else if (a == "--block") {
            if (!number(o.block, 1)) return false;
        } else if (a == "--silent-ms") {
            if (!number(o.silentMs, 100)) return false;
        } else if (a == "--no-roundtrip") {
            o.roundTrip = false;
        } else if (a == "--no-cpu") {
            o.cpu = false;
        } else if (a == "--only") {
            if (i + 1 >= argc) return false;
            o.only = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

// ---- The controller: the master side of a pseudo-terminal ----------------

class Peer {
public:
    Peer() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        const char* name = ::ptsname(master_);
        if (!name) return;
        path_ = name;
        // Kept open so that the line stays up while nobody else has it open
        // (between blocks); otherwise the master would see a hang-up.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (slave_ >= 0 && stop_ >= 0) thread_ = std::thread([this] { Run(); });
    }
    ~Peer() {
        if (thread_.joinable()) {
            const uint64_t one = 1;
            (void)!::write(stop_, &one, sizeof one);
            thread_.join();
        }
        for (int fd : {stop_, slave_, master_})
            if (fd >= 0) ::close(fd);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool Ok() const { return thread_.joinable(); }
    const std::string& SlavePath() const { return path_; }
    // A silent controller reads every line and answers none.
    void SetSilent(bool silent) { silent_ = silent; }

private:
    void Run() {
        char buf[4096];
        std::string replies;
        for (;;) {
            pollfd p[2] = {{master_, POLLIN, 0}, {stop_, POLLIN, 0}};
            if (::poll(p, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (p[1].revents) return;
            if (!(p[0].revents & POLLIN)) {
                // No reader on the slave for a moment (a reopen): don't spin.
                if (p[0].revents) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) continue;
            if (silent_) continue;
            replies.clear();
            for (ssize_t k = 0; k < n; ++k)
                if (buf[k] == '\n') replies += "0\r\n";
            size_t done = 0;
            while (done < replies.size()) {
                const ssize_t w = ::write(master_, replies.data() + done, replies.size() - done);
                if (w > 0) {
                    done += static_cast<size_t>(w);
                } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
                    pollfd q{master_, POLLOUT, 0};
                    ::poll(&q, 1, 100);
                } else {
                    break;
                }
            }
        }
    }

    int master_ = -1;
    int slave_ = -1;
    int stop_ = -1;
    std::string path_;
    std::atomic<bool> silent_{false};
    std::thread thread_;
};

// ---- Variants ------------------------------------------------------------

struct Variant {
    const char* name;
    bool raw;            // (a): the raw termios loop
    unsigned waitWord;   // InitController's wait-mode word
    int protocol;        // "Protocol" of the INI
    bool ratioBudget;    // the 1.5 x budget applies
    std::vector<double> us;
    int failures = 0;
    std::string firstFailure;  // what the first wrong round trip returned
};

std::string gDir;
std::string gSlave;

void WriteIni(int protocol, int timeoutMs) {
    std::ofstream f(gDir + "/ZELCOMM.INI", std::ios::trunc);
    f << "[Startup]\nMode=COM\nPort=1\nTimeOut=" << timeoutMs << "\nProtocol=" << protocol
      << "\nUseDefaultConnectString=0\nConnectString=Skip\n"
      << "[Ports]\nCOM1=" << gSlave << "\n";
}

// The library loaded and connected for one block.
class Session {
public:
    Session(unsigned waitWord, int protocol, int timeoutMs) {
        WriteIni(protocol, timeoutMs);
        zel::ResetConfigPath();
        zel::ResetPortMapping();
        if (!zel::ZelLibraryAttach()) return;
        loaded_ = true;
        if (InitController(ZEL_TYPE_DEFAULT, 3, 1, 9600, 0, 0, waitWord) != 0) return;
        connected_ = OpenController() == 0;
    }
    ~Session() {
        if (connected_) CloseController();
        if (loaded_) zel::KvCleanupDll();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    bool Ok() const { return connected_; }

private:
    bool loaded_ = false;
    bool connected_ = false;
};

double MicrosSince(SteadyClock::time_point start) {
    return std::chrono::duration<double, std::micro>(SteadyClock::now() - start).count();
}

// One command on the raw line; false when it did not come back as "0\r\n".
bool RawRoundTrip(int fd) {
    static const char kCommand[] = "st\r\n";
    size_t done = 0;
    while (done < sizeof kCommand - 1) {
        const ssize_t w = ::write(fd, kCommand + done, sizeof kCommand - 1 - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
        } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) return false;
        } else {
            return false;
        }
    }
    char reply[64];
    size_t got = 0;
    while (got < 2 || reply[got - 2] != '\r' || reply[got - 1] != '\n') {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) return false;
        const ssize_t n = ::read(fd, reply + got, sizeof reply - got);
        if (n > 0) got += static_cast<size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (got == sizeof reply) return false;
    }
    return got == 3 && reply[0] == '0';
}

bool RunRawBlock(Variant& v, int count) {
    zel::PortError error = zel::PortError::kNone;
    std::unique_ptr<zel::SerialPort> port = zel::SerialPort::Open(gSlave, error);
    if (!port) return false;
    zel::SerialSettings settings;  // the library's: 9600 8N1 raw, XON/XOFF, marks
    if (!port->Configure(settings, error)) return false;
    const int fd = port->Fd();
    for (int i = 0; i < kWarmUpCommands; ++i) RawRoundTrip(fd);
    for (int i = 0; i < count; ++i) {
        const auto start = SteadyClock::now();
        const bool ok = RawRoundTrip(fd);
        v.us.push_back(MicrosSince(start));
        if (!ok && v.failures++ == 0) v.firstFailure = "no \"0\\r\\n\" in time";
    }
    return true;
}

bool RunLibraryBlock(Variant& v, int count) {
    Session session(v.waitWord, v.protocol, 1000);
    if (!session.Ok()) return false;
    char reply[256];
    for (int i = 0; i < kWarmUpCommands; ++i) ExecuteCommand("st", 1, reply);
    for (int i = 0; i < count; ++i) {
        const auto start = SteadyClock::now();
        const int code = ExecuteCommand("st", 1, reply);
        v.us.push_back(MicrosSince(start));
        if (code != 0 || std::strcmp(reply, "0") != 0) {
            if (v.failures++ == 0)
                v.firstFailure = "code " + std::to_string(code) + ", reply \"" + std::string(reply) + "\"";
        }
    }
    return true;
}

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// ---- CPU while waiting -------------------------------------------------------

double ProcessCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int NoHostEvents(void*, ZelWindow*) { return 0; }

struct WaitCase {
    const char* name;
    unsigned waitWord;
    bool hostPump;
};

std::string MachineLine() {
    utsname u{};
    ::uname(&u);
    std::string model;
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);)
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    std::ostringstream out;
    out << std::thread::hardware_concurrency() << " cores (" << (model.empty() ? "unknown CPU" : model) << "), "
        << u.sysname << " " << u.release << " " << u.machine;
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: bench_serial_roundtrip [--commands N] [--block N] [--silent-ms MS] "
                     "[--no-roundtrip] [--no-cpu] [--only TEXT]\n");
        return 2;
    }
    char dir[] = "/tmp/zelcomm-roundtrip-XXXXXX";
    if (!::mkdtemp(dir)) {
        std::perror("mkdtemp");
        return 1;
    }
    gDir = dir;
    Peer peer;
    if (!peer.Ok()) {
        std::fprintf(stderr, "bench_serial_roundtrip: no pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    gSlave = peer.SlavePath();
    ::setenv("ZELCOMM_INI", (gDir + "/ZELCOMM.INI").c_str(), 1);
    ::setenv("ZELCOMM_PROTOCOL_DIR", gDir.c_str(), 1);
    // Message boxes of the library (none expected) would go to standard error.

    std::printf("ZelComm serial round trip, %s\n", MachineLine().c_str());
    std::printf("line: pseudo-terminal %s, 9600 8N1 raw, XON/XOFF; peer thread answers each line at once\n\n",
                gSlave.c_str());
    bool missed = false;
    bool broken = false;

    if (options.roundTrip) {
        std::vector<Variant> variants = {
            {"(a) raw termios write/poll/read", true, 0, 0, false, {}, 0, {}},
            {"(b) mode 1, flag polling (0x40)", false, ZEL_WAIT_SIGNAL_POLL, 0, true, {}, 0, {}},
            {"(b) mode 2, SetEvent (0x80)", false, ZEL_WAIT_SIGNAL_SET_EVENT, 0, true, {}, 0, {}},
            {"(b) mode 3, PulseEvent (0x100)", false, 0x100, 0, true, {}, 0, {}},
            {"(b) mode 7, TEvent (0x80000)", false, ZEL_WAIT_SIGNAL_TEVENT, 0, true, {}, 0, {}},
            {"(b) wait-for-reply thread (0x40100)", false, ZEL_WAIT_REPLY_THREAD | 0x100, 0, true, {}, 0, {}},
            {"(c) mode 1, protocol 72", false, ZEL_WAIT_SIGNAL_POLL, 72, false, {}, 0, {}},
            {"(c) mode 2, protocol 72", false, ZEL_WAIT_SIGNAL_SET_EVENT, 72, false, {}, 0, {}},
            {"(c) mode 3, protocol 72", false, 0x100, 72, false, {}, 0, {}},
            {"(c) mode 7, protocol 72", false, ZEL_WAIT_SIGNAL_TEVENT, 72, false, {}, 0, {}},
            {"(c) wait-for-reply thread, protocol 72", false, ZEL_WAIT_REPLY_THREAD | 0x100, 72, false, {}, 0, {}},
        };
        if (!options.only.empty())
            variants.erase(std::remove_if(variants.begin() + 1, variants.end(),
                                          [&](const Variant& v) {
                                              return std::string(v.name).find(options.only) == std::string::npos;
                                          }),
                           variants.end());
        const int blocks = (options.commands + options.block - 1) / options.block;
        std::printf("Round trip: %d commands per variant in %d blocks of %d, variants interleaved "
                    "(order rotated per block),\n%d unmeasured warm-up commands per block.\n",
                    options.commands, blocks, options.block, kWarmUpCommands);
        std::fflush(stdout);
        const auto started = SteadyClock::now();
        for (int b = 0; b < blocks && !broken; ++b) {
            const int count = std::min(options.block, options.commands - b * options.block);
            for (size_t k = 0; k < variants.size() && !broken; ++k) {
                Variant& v = variants[(k + static_cast<size_t>(b)) % variants.size()];
                const bool ok = v.raw ? RunRawBlock(v, count) : RunLibraryBlock(v, count);
                if (!ok) {
                    std::fprintf(stderr, "bench_serial_roundtrip: %s: the line could not be opened\n", v.name);
                    broken = true;
                }
            }
        }
        std::printf("(%.0f s)\n\n", std::chrono::duration<double>(SteadyClock::now() - started).count());

        for (Variant& v : variants) std::sort(v.us.begin(), v.us.end());
        const double rawMedian = Percentile(variants[0].us, 0.5);
        std::printf("%-40s %9s %9s %9s %8s %6s  %s\n", "variant", "median", "p99", "max", "median", "failed",
                    "budget");
        std::printf("%-40s %9s %9s %9s %8s %6s\n", "", "us", "us", "us", "/ (a)", "");
        for (const Variant& v : variants) {
            const double median = Percentile(v.us, 0.5);
            const double ratio = rawMedian > 0 ? median / rawMedian : 0;
            const double maxMs = v.us.empty() ? 0 : v.us.back() / 1000.0;
            std::string verdict;
            const bool maxOk = maxMs <= kMaxRoundTripMs;
            const bool ratioOk = !v.ratioBudget || ratio <= kRatioBudget;
            if (v.ratioBudget) verdict += "median <= 1.5 x (a): " + std::string(ratioOk ? "met" : "MISSED") + "; ";
            verdict += "max <= 50 ms: " + std::string(maxOk ? "met" : "MISSED");
            if (v.failures) verdict += "; " + std::to_string(v.failures) + " wrong replies: MISSED";
            missed = missed || !maxOk || !ratioOk || v.failures;
            std::printf("%-40s %9s %9s %9s %8s %6d  %s\n", v.name, Fixed(median, 1).c_str(),
                        Fixed(Percentile(v.us, 0.99), 1).c_str(), Fixed(v.us.empty() ? 0 : v.us.back(), 1).c_str(),
                        v.raw ? "1.00" : Fixed(ratio, 2).c_str(), v.failures, verdict.c_str());
        }
        for (const Variant& v : variants)
            if (v.failures) std::printf("%s: first wrong round trip: %s\n", v.name, v.firstFailure.c_str());
        std::printf("\n");
        std::fflush(stdout);
    }

    if (options.cpu && !broken) {
        const WaitCase cases[] = {
            {"mode 0, flag only (0x20)", ZEL_WAIT_SIGNAL_FLAG_ONLY, false},
            {"mode 1, flag polling (0x40)", ZEL_WAIT_SIGNAL_POLL, false},
            {"mode 1, host event pump set", ZEL_WAIT_SIGNAL_POLL, true},
            {"mode 2, SetEvent (0x80)", ZEL_WAIT_SIGNAL_SET_EVENT, false},
            {"mode 3, PulseEvent (0x100)", 0x100, false},
            {"mode 3, message-aware wait (0x2000)", ZEL_WAIT_EVENT_MESSAGES, false},
            {"mode 3, message-aware, host pump set", ZEL_WAIT_EVENT_MESSAGES, true},
            {"mode 5, flag only (0x400)", ZEL_WAIT_SIGNAL_FLAG_ONLY_5, false},
            {"mode 7, TEvent (0x80000)", ZEL_WAIT_SIGNAL_TEVENT, false},
            {"wait-for-reply thread (0x40100)", ZEL_WAIT_REPLY_THREAD | 0x100, false},
            {"wait-for-reply thread, host pump set", ZEL_WAIT_REPLY_THREAD | 0x100, true},
        };
        std::printf("CPU of the whole process while ExecuteCommand waits for a silent controller "
                    "(TimeOut=%d ms):\n", options.silentMs);
        std::printf("%-40s %8s %8s %9s %5s  %s\n", "signal mode", "wall ms", "CPU ms", "% of core", "code",
                    "budget < 2 %");
        peer.SetSilent(true);
        for (const WaitCase& w : cases) {
            Session session(w.waitWord, 0, options.silentMs);
            if (!session.Ok()) {
                std::fprintf(stderr, "bench_serial_roundtrip: %s: could not connect\n", w.name);
                broken = true;
                break;
            }
            if (w.hostPump) ZelSetEventPump(&NoHostEvents, nullptr);
            char reply[256];
            const double cpu0 = ProcessCpuSeconds();
            const auto start = SteadyClock::now();
            const int code = ExecuteCommand("st", 1, reply);
            const double wallMs = MicrosSince(start) / 1000.0;
            const double cpuMs = (ProcessCpuSeconds() - cpu0) * 1000.0;
            if (w.hostPump) ZelSetEventPump(nullptr, nullptr);
            const double percent = wallMs > 0 ? 100.0 * cpuMs / wallMs : 0;
            const bool ok = percent < kCpuBudgetPercent && code == ZEL_ERR_TIMEOUT;
            missed = missed || !ok;
            std::printf("%-40s %8.0f %8.1f %9.2f %5d  %s\n", w.name, wallMs, cpuMs, percent, code,
                        ok ? "met" : (code != ZEL_ERR_TIMEOUT ? "MISSED (not a time-out)" : "MISSED"));
            std::fflush(stdout);
        }
        peer.SetSilent(false);
        std::printf("\n");
    }

    std::printf("Demo mode (budget: under 0.5 ms per command beyond simulated time) is measured by\n"
                "bench_demo_overhead in this directory; run it as well.\n");
    if (broken) std::printf("\nThe measurement did not complete.\n");
    else std::printf("\n%s\n", missed ? "Some budgets were MISSED (see above)." : "All budgets met.");

    for (const char* name : {"ZELCOMM.INI", "Protocol.dat", "Protocol.bak"})
        ::unlink((gDir + "/" + name).c_str());
    ::rmdir(gDir.c_str());
    return broken ? 1 : 0;
}
