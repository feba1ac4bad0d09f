// Serial lines on POSIX terminals (termios) and over TCP.
#include "platform/zel_serial_port.h"

#include "platform/zel_system.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <linux/serial.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace zel {

namespace {

struct BaudEntry {
    int rate;
    speed_t code;
};

constexpr BaudEntry kBauds[] = {
    {300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},
    {9600, B9600},   {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

bool SpeedOfRate(int rate, speed_t& code) {
    for (const BaudEntry& e : kBauds)
        if (e.rate == rate) {
            code = e.code;
            return true;
        }
    return false;
}

int RateOfSpeed(speed_t code) {
    for (const BaudEntry& e : kBauds)
        if (e.code == code) return e.rate;
    return 0;
}

// Stores errno for LastError and returns its PortError.
PortError Fail(int error, bool transferring, PortError* out) {
    SetLastError(error);
    const PortError e = PortErrorOfErrno(error, transferring);
    if (out) *out = e;
    return e;
}

using SteadyClock = std::chrono::steady_clock;

int RemainingMs(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool IsSocketFd(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

// "tcp://host:port" or "tcp://[v6-address]:port".
bool ParseNetworkPath(const std::string& path, std::string& host, std::string& port) {
    if (!SerialPort::IsNetworkPath(path)) return false;
    std::string rest = path.substr(6);
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
        host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) return false;
        host = rest.substr(0, colon);
    }
    port = rest.substr(colon + 1);
    if (host.empty() || port.empty() || port.size() > 5) return false;
    for (char c : port)
        if (c < '0' || c > '9') return false;
    const long number = std::strtol(port.c_str(), nullptr, 10);
    return number > 0 && number < 65536;
}

}  // namespace

PortError PortErrorOfErrno(int error, bool transferring) {
    switch (error) {
        case 0: return PortError::kNone;
        case ENOENT:
        case ENOTDIR:
        case EHOSTUNREACH:
        case ENETUNREACH:
            return PortError::kNotFound;
        case ENXIO:
        case ENODEV:
            // A device that is gone while in use, or one that is not there.
            return transferring ? PortError::kDeviceLost : PortError::kNotFound;
        case EBUSY:
        case EAGAIN:  // flock: another open description holds the lock
            return PortError::kInUse;
        case EACCES:
        case EPERM:
        case EROFS:
            return PortError::kAccessDenied;
        case ENOTTY:
            return PortError::kNotATerminal;
        case EINVAL:
            return PortError::kBadSetting;
        case ETIMEDOUT:
            return PortError::kTimeout;
        case EIO:
        case EPIPE:
        case ECONNRESET:
        case ENOTCONN:
        case ESHUTDOWN:
        case EBADF:
            return PortError::kDeviceLost;
        case ECONNREFUSED:
            return PortError::kRefused;
        case EINTR:
            return PortError::kInterrupted;
        default:
            return PortError::kOther;
    }
}

const char* PortErrorName(PortError error) {
    switch (error) {
        case PortError::kNone: return "none";
        case PortError::kNotFound: return "not found";
        case PortError::kInUse: return "in use";
        case PortError::kAccessDenied: return "access denied";
        case PortError::kNotATerminal: return "not a terminal";
        case PortError::kBadSetting: return "setting refused";
        case PortError::kTimeout: return "time-out";
        case PortError::kDeviceLost: return "device lost";
        case PortError::kBadAddress: return "bad address";
        case PortError::kRefused: return "connection refused";
        case PortError::kInterrupted: return "interrupted";
        case PortError::kOther: return "system error";
    }
    return "system error";
}

// ---- StopSignal ------------------------------------------------------------

StopSignal::StopSignal() {
    fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0) SetLastError(errno);
}

StopSignal::~StopSignal() {
    if (fd_ >= 0) ::close(fd_);
}

void StopSignal::Signal() {
    if (fd_ < 0) return;
    const uint64_t one = 1;
    ssize_t n;
    do n = ::write(fd_, &one, sizeof one);
    while (n < 0 && errno == EINTR);
}

void StopSignal::Clear() {
    if (fd_ < 0) return;
    uint64_t value;
    ssize_t n;
    do n = ::read(fd_, &value, sizeof value);
    while (n < 0 && errno == EINTR);
}

bool StopSignal::IsSignalled() const {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

// ---- SerialPort ------------------------------------------------------------

SerialPort::SerialPort(int fd, std::string path, bool network, bool markedErrors)
    : fd_(fd), path_(std::move(path)), network_(network), markedErrors_(markedErrors) {
    isSocket_ = IsSocketFd(fd);
    terminal_ = !isSocket_ && ::isatty(fd) == 1;
}

SerialPort::~SerialPort() { Close(); }

void SerialPort::Close() {
    if (fd_ < 0) return;
    // The exclusive mark belongs to the terminal, not to this descriptor: a
    // pseudo-terminal whose other side stays open would otherwise keep it.
    if (exclusive_) ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also releases the flock
    fd_ = -1;
    exclusive_ = false;
}

bool SerialPort::IsNetworkPath(const std::string& path) {
    return path.size() >= 6 && ::strncasecmp(path.c_str(), "tcp://", 6) == 0;
}

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& path, PortError& error, int connectTimeoutMs) {
    error = PortError::kNone;
    if (IsNetworkPath(path)) return Connect(path, error, connectTimeoutMs);
    return OpenDevice(path, error);
}

std::unique_ptr<SerialPort> SerialPort::OpenDevice(const std::string& path, PortError& error) {
    if (path.empty()) {
        Fail(ENOENT, false, &error);
        return nullptr;
    }
    int fd;
    do fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Fail(errno, false, &error);
        return nullptr;
    }
    std::unique_ptr<SerialPort> port(new SerialPort(fd, path, false, true));
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        Fail(errno == EINVAL ? ENOTTY : errno, false, &error);
        return nullptr;
    }
    // flock keeps out every other opener of the device, root included;
    // TIOCEXCL also keeps out programs that do not lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        Fail(errno == EWOULDBLOCK ? EBUSY : errno, false, &error);
        return nullptr;
    }
    if (::ioctl(fd, TIOCEXCL) == 0) port->exclusive_ = true;
    return port;
}

std::unique_ptr<SerialPort> SerialPort::Connect(const std::string& path, PortError& error, int timeoutMs) {
    std::string host, service;
    if (!ParseNetworkPath(path, host, service)) {
        SetLastError(EINVAL);
        error = PortError::kBadAddress;
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0 || !list) {
        SetLastError(rc == EAI_SYSTEM ? errno : EHOSTUNREACH);
        error = PortError::kNotFound;
        return nullptr;
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    int lastError = ECONNREFUSED;
    int fd = -1;
    for (addrinfo* a = list; a && fd < 0; a = a->ai_next) {
        int s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            lastError = errno;
            continue;
        }
        int r;
        do r = ::connect(s, a->ai_addr, a->ai_addrlen);
        while (r < 0 && errno == EINTR);
        if (r < 0 && errno == EINPROGRESS) {
            pollfd p{s, POLLOUT, 0};
            int n;
            do n = ::poll(&p, 1, RemainingMs(deadline));
            while (n < 0 && errno == EINTR);
            if (n == 0) {
                lastError = ETIMEDOUT;
            } else if (n < 0) {
                lastError = errno;
            } else {
                int soError = 0;
                socklen_t len = sizeof soError;
                if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
                if (soError == 0) r = 0;
                else lastError = soError;
            }
        } else if (r < 0) {
            lastError = errno;
        }
        if (r == 0) {
            fd = s;
        } else {
            ::close(s);
        }
    }
    ::freeaddrinfo(list);
    if (fd < 0) {
        Fail(lastError, false, &error);
        return nullptr;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return std::unique_ptr<SerialPort>(new SerialPort(fd, path, true, false));
}

std::unique_ptr<SerialPort> SerialPort::Adopt(int fd, bool markedErrors) {
    if (fd < 0) return nullptr;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return std::unique_ptr<SerialPort>(new SerialPort(fd, "fd:" + std::to_string(fd), false, markedErrors));
}

bool SerialPort::Configure(const SerialSettings& s, PortError& error) {
    error = PortError::kNone;
    if (fd_ < 0) {
        Fail(EBADF, false, &error);
        return false;
    }
    if (!terminal_) return true;
    speed_t speed;
    if (!SpeedOfRate(s.baudRate, speed)) {
        Fail(EINVAL, false, &error);
        return false;
    }
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) {
        Fail(errno, false, &error);
        return false;
    }
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | IMAXBEL | IUCLC);
    t.c_iflag |= INPCK | PARMRK;
    if (s.xonXoff) t.c_iflag |= IXON | IXOFF;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | HUPCL | CRTSCTS | CMSPAR);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    if (s.ctsRts) t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = s.xonChar;
    t.c_cc[VSTOP] = s.xoffChar;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) {
        Fail(errno, false, &error);
        return false;
    }
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
        Fail(errno, false, &error);
        return false;
    }
    // tcsetattr succeeds when any part was taken: read back what matters.
    termios back{};
    if (::tcgetattr(fd_, &back) != 0) {
        Fail(errno, false, &error);
        return false;
    }
    const tcflag_t iMask = IXON | IXOFF | IXANY | INPCK | PARMRK | IGNBRK | BRKINT | IGNPAR | ISTRIP;
    const tcflag_t cMask = CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD;
    if ((back.c_iflag & iMask) != (t.c_iflag & iMask) || (back.c_cflag & cMask) != (t.c_cflag & cMask) ||
        (back.c_lflag & ICANON) || ::cfgetospeed(&back) != speed) {
        Fail(EINVAL, false, &error);
        return false;
    }
    if (s.clearRtsDtr) {
        // With the hardware handshake the driver drives RTS itself.
        int lines = TIOCM_DTR | (s.ctsRts ? 0 : TIOCM_RTS);
        if (::ioctl(fd_, TIOCMBIC, &lines) != 0 && errno != EINVAL && errno != ENOTTY) {
            Fail(errno, false, &error);
            return false;
        }
    }
    return true;
}

bool SerialPort::ReadLineState(SerialLineState& o) const {
    termios t{};
    if (fd_ < 0 || !terminal_) {
        SetLastError(fd_ < 0 ? EBADF : ENOTTY);
        return false;
    }
    if (::tcgetattr(fd_, &t) != 0) {
        SetLastError(errno);
        return false;
    }
    o.baudRate = RateOfSpeed(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5: o.dataBits = 5; break;
        case CS6: o.dataBits = 6; break;
        case CS7: o.dataBits = 7; break;
        default: o.dataBits = 8; break;
    }
    o.parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 1 : 2) : 0;
    o.twoStopBits = (t.c_cflag & CSTOPB) != 0;
    o.ixon = (t.c_iflag & IXON) != 0;
    o.ixoff = (t.c_iflag & IXOFF) != 0;
    o.ixany = (t.c_iflag & IXANY) != 0;
    o.crtscts = (t.c_cflag & CRTSCTS) != 0;
    o.inpck = (t.c_iflag & INPCK) != 0;
    o.parmrk = (t.c_iflag & PARMRK) != 0;
    o.ignbrk = (t.c_iflag & IGNBRK) != 0;
    o.brkint = (t.c_iflag & BRKINT) != 0;
    o.ignpar = (t.c_iflag & IGNPAR) != 0;
    o.istrip = (t.c_iflag & ISTRIP) != 0;
    o.translatesInput = (t.c_iflag & (ICRNL | INLCR | IGNCR | IUCLC)) != 0;
    o.cread = (t.c_cflag & CREAD) != 0;
    o.clocal = (t.c_cflag & CLOCAL) != 0;
    o.hupcl = (t.c_cflag & HUPCL) != 0;
    o.canonical = (t.c_lflag & ICANON) != 0;
    o.echo = (t.c_lflag & (ECHO | ECHOE | ECHOK | ECHONL)) != 0;
    o.signals = (t.c_lflag & ISIG) != 0;
    o.outputProcessing = (t.c_oflag & OPOST) != 0;
    o.vstart = t.c_cc[VSTART];
    o.vstop = t.c_cc[VSTOP];
    o.vmin = t.c_cc[VMIN];
    o.vtime = t.c_cc[VTIME];
    return true;
}

int SerialPort::Write(const char* data, int count, int timeoutMs, PortError& error) {
    error = PortError::kNone;
    if (fd_ < 0) {
        Fail(EBADF, true, &error);
        return 0;
    }
    if (!data || count <= 0) return 0;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    int written = 0;
    while (written < count) {
        const size_t want = static_cast<size_t>(count - written);
        // Sockets: no SIGPIPE when the peer has gone, an error instead.
        const ssize_t n = isSocket_ ? ::send(fd_, data + written, want, MSG_NOSIGNAL)
                                    : ::write(fd_, data + written, want);
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(errno, true, &error);
            return written;
        }
        const int left = RemainingMs(deadline);
        if (left <= 0) {
            Fail(ETIMEDOUT, true, &error);
            return written;
        }
        pollfd p{fd_, POLLOUT, 0};
        const int r = ::poll(&p, 1, left);
        if (r < 0 && errno != EINTR) {
            Fail(errno, true, &error);
            return written;
        }
        // POLLHUP or POLLERR: the next write reports the error itself.
    }
    return written;
}

int SerialPort::Read(char* data, int capacity, PortError& error) {
    error = PortError::kNone;
    if (fd_ < 0) {
        Fail(EBADF, true, &error);
        return -1;
    }
    if (!data || capacity <= 0) return 0;
    for (;;) {
        const ssize_t n = ::read(fd_, data, static_cast<size_t>(capacity));
        if (n > 0) return static_cast<int>(n);
        if (n == 0) {
            // A terminal with VMIN 0 and VTIME 0 returns 0 when nothing
            // waits; a stream returns 0 only at its end.
            if (!terminal_) {
                Fail(EPIPE, true, &error);  // the peer has gone
                return -1;
            }
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        Fail(errno, true, &error);
        return -1;
    }
}

bool SerialPort::Flush(bool input, bool output) {
    if (fd_ < 0) {
        SetLastError(EBADF);
        return false;
    }
    if (!terminal_) {
        // No driver queue to flush: discard what has arrived.
        if (input) {
            char scratch[4096];
            PortError e;
            while (Read(scratch, sizeof scratch, e) > 0) {
            }
        }
        return true;
    }
    const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    if (!input && !output) return true;
    if (::tcflush(fd_, which) != 0) {
        SetLastError(errno);
        return false;
    }
    return true;
}

bool SerialPort::SendBreakChar(char c, int timeoutMs, PortError& error) {
    error = PortError::kNone;
    if (fd_ < 0) {
        Fail(EBADF, true, &error);
        return false;
    }
    if (terminal_ && ::tcflush(fd_, TCOFLUSH) != 0) {
        Fail(errno, true, &error);
        return false;
    }
    return Write(&c, 1, timeoutMs, error) == 1;
}

int SerialPort::OutputQueued() const {
    int n = 0;
    if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &n) != 0 || n < 0) return 0;
    return n;
}

bool SerialPort::ModemLines(unsigned& lines) const {
    lines = 0;
    int bits = 0;
    if (fd_ < 0 || !terminal_ || ::ioctl(fd_, TIOCMGET, &bits) != 0) return false;
    if (bits & TIOCM_DTR) lines |= kLineDtr;
    if (bits & TIOCM_RTS) lines |= kLineRts;
    if (bits & TIOCM_CTS) lines |= kLineCts;
    if (bits & TIOCM_DSR) lines |= kLineDsr;
    return true;
}

bool SerialPort::Counters(SerialCounters& out) const {
    out = SerialCounters{};
    if (fd_ < 0 || !terminal_) return false;
    serial_icounter_struct c{};
    if (::ioctl(fd_, TIOCGICOUNT, &c) != 0) return false;
    out.frame = static_cast<uint32_t>(c.frame);
    out.parity = static_cast<uint32_t>(c.parity);
    out.overrun = static_cast<uint32_t>(c.overrun);
    out.bufferOverrun = static_cast<uint32_t>(c.buf_overrun);
    out.breaks = static_cast<uint32_t>(c.brk);
    return true;
}

unsigned SerialPort::WaitForEvents(const StopSignal& stop, int timeoutMs, bool watchPort, PortError& error) {
    error = PortError::kNone;
    pollfd p[2];
    nfds_t n = 0;
    p[n++] = pollfd{stop.Fd(), POLLIN, 0};
    const bool port = watchPort && fd_ >= 0;
    if (port) p[n++] = pollfd{fd_, POLLIN, 0};
    const bool limited = timeoutMs >= 0;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
    for (;;) {
        const int r = ::poll(p, n, limited ? RemainingMs(deadline) : -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            Fail(errno, false, &error);
            return kPortFailed;
        }
        unsigned bits = 0;
        if (p[0].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) bits |= kPortStopped;
        if (port) {
            if (p[1].revents & POLLIN) bits |= kPortReadable;
            if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)) bits |= kPortHangup;
        }
        return bits;
    }
}

}  // namespace zel
