// The serial line as the operating system offers it: a terminal device
// opened exclusively and configured with termios, or a TCP connection to a
// serial-to-network server ("tcp://host:port"). Writes wait for room up to a
// time-out, reads never block; a thread waits for input, hang-up or its stop
// signal in one call.
//
// Every failing call stores the system error number with SetLastError and
// reports it as a PortError (PortErrorOfErrno is the one mapping).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zel {

enum class PortError : int {
    kNone = 0,
    kNotFound,        // no such device or host
    kInUse,           // another process (or object) holds the port
    kAccessDenied,
    kNotATerminal,    // exists, but is no serial line
    kBadSetting,      // the driver refused the line settings
    kTimeout,
    kDeviceLost,      // hung up, removed, end of stream
    kBadAddress,      // a tcp:// text that cannot be used
    kRefused,         // connection refused
    kInterrupted,
    kOther,
};

// The PortError of a system error number; transferring: the error came from
// reading or writing an open port (a vanished device is lost, not missing).
PortError PortErrorOfErrno(int error, bool transferring = false);
const char* PortErrorName(PortError error);

// Line configuration applied by SerialPort::Configure. Always raw 8N1,
// receiver on, modem control lines ignored, no hang-up on close, reads that
// return what is there (VMIN 0, VTIME 0), parity and framing errors and
// breaks marked in the data (INPCK, PARMRK).
struct SerialSettings {
    int baudRate = 9600;          // 300 .. 115200; other rates are refused
    bool xonXoff = true;          // IXON|IXOFF (never IXANY)
    bool ctsRts = false;          // CRTSCTS
    uint8_t xonChar = 0x11;       // VSTART
    uint8_t xoffChar = 0x13;      // VSTOP
    bool clearRtsDtr = true;      // drop RTS and DTR after configuring
};

// The line settings read back from the device (diagnostics and tests).
struct SerialLineState {
    int baudRate = 0;      // 0 when the speed is none of the known rates
    int dataBits = 0;      // 5..8
    int parity = 0;        // 0 none, 1 odd, 2 even
    bool twoStopBits = false;
    bool ixon = false, ixoff = false, ixany = false;
    bool crtscts = false;
    bool inpck = false, parmrk = false;
    bool ignbrk = false, brkint = false, ignpar = false, istrip = false;
    bool translatesInput = false;  // ICRNL, INLCR, IGNCR or IUCLC
    bool cread = false, clocal = false, hupcl = false;
    bool canonical = false, echo = false, signals = false;  // ICANON, ECHO*, ISIG
    bool outputProcessing = false;                          // OPOST
    uint8_t vstart = 0, vstop = 0;
    int vmin = -1, vtime = -1;
};

// Modem line bits of SerialPort::ModemLines.
enum ModemLine : unsigned {
    kLineDtr = 0x1,
    kLineRts = 0x2,
    kLineCts = 0x4,
    kLineDsr = 0x8,
};

// Error counters of the driver (TIOCGICOUNT), where it keeps them.
struct SerialCounters {
    uint32_t frame = 0, parity = 0, overrun = 0, bufferOverrun = 0, breaks = 0;
};

// A wake-up for a thread that waits in SerialPort::WaitForEvents (an
// eventfd). Once signalled it stays signalled until Clear.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;
    bool Valid() const { return fd_ >= 0; }
    void Signal();
    void Clear();
    bool IsSignalled() const;
    int Fd() const { return fd_; }
private:
    int fd_ = -1;
};

// Result bits of SerialPort::WaitForEvents.
enum PortEvent : unsigned {
    kPortReadable = 0x1,  // input waits (or end of stream: Read tells)
    kPortHangup = 0x2,    // POLLHUP/POLLERR: the device or the peer is gone
    kPortStopped = 0x4,   // the stop signal is set
    kPortFailed = 0x8,    // the wait itself failed (error given)
};

class SerialPort {
public:
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens a device path exclusively (O_NONBLOCK, O_NOCTTY, flock and
    // TIOCEXCL), or connects to "tcp://host:port" within connectTimeoutMs.
    // Null on failure, with the reason in error.
    static std::unique_ptr<SerialPort> Open(const std::string& path, PortError& error,
                                            int connectTimeoutMs = 5000);
    // Takes over a descriptor the caller opened (a pipe, a socket pair end);
    // markedErrors says whether its data carries PARMRK marks. For tests and
    // tools that feed the line themselves.
    static std::unique_ptr<SerialPort> Adopt(int fd, bool markedErrors);
    static bool IsNetworkPath(const std::string& path);

    // Applies the settings to a terminal; a network port takes them as they
    // are (the line belongs to the server at the other end).
    bool Configure(const SerialSettings& settings, PortError& error);
    bool ReadLineState(SerialLineState& out) const;

    // Writes all bytes, waiting for room with poll(POLLOUT) up to timeoutMs
    // in all (0: no waiting). Returns the number written; fewer than count
    // means a time-out or an error (error says which).
    int Write(const char* data, int count, int timeoutMs, PortError& error);
    // Reads what is there without waiting: > 0 bytes read, 0 nothing waits,
    // -1 on failure; an end of stream is a failure with kDeviceLost.
    int Read(char* data, int capacity, PortError& error);
    // Discards pending input and/or output (tcflush).
    bool Flush(bool input, bool output);
    // Discards pending output, then sends c at once (CTRL+C to a controller).
    bool SendBreakChar(char c, int timeoutMs, PortError& error);
    // Bytes waiting in the driver's output queue; 0 when unknown.
    int OutputQueued() const;
    // False when the device has no modem lines (pseudo-terminals, sockets).
    bool ModemLines(unsigned& lines) const;
    // False when the driver keeps no counters.
    bool Counters(SerialCounters& out) const;

    // Waits for input or hang-up of the port (unless watchPort is false) or
    // for the stop signal, at most timeoutMs (-1: no limit). Returns
    // PortEvent bits; 0 after the time-out.
    unsigned WaitForEvents(const StopSignal& stop, int timeoutMs, bool watchPort, PortError& error);

    bool IsNetwork() const { return network_; }
    bool MarksLineErrors() const { return markedErrors_; }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }
    void Close();

private:
    SerialPort(int fd, std::string path, bool network, bool markedErrors);
    static std::unique_ptr<SerialPort> OpenDevice(const std::string& path, PortError& error);
    static std::unique_ptr<SerialPort> Connect(const std::string& path, PortError& error, int timeoutMs);

    int fd_ = -1;
    std::string path_;
    bool network_ = false;
    bool markedErrors_ = false;
    bool exclusive_ = false;  // TIOCEXCL set: cleared again before closing
    bool terminal_ = false;   // a terminal: termios applies, read 0 = nothing waits
    bool isSocket_ = false;   // send() instead of write(): no SIGPIPE
};

}  // namespace zel
