// The platform's serial line: termios settings, exclusive opening, writes
// with a time-out, reads, waits, hang-up and the network variant.
#include "common/test_util.h"
#include "platform/zel_serial_port.h"
#include "platform/zel_system.h"
#include "serial/pty_peer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

using zel::PortError;
using zel::SerialPort;
using zeltest::PtyPeer;

std::unique_ptr<SerialPort> OpenOrFail(const std::string& path) {
    PortError e = PortError::kOther;
    auto port = SerialPort::Open(path, e);
    EXPECT_TRUE(port) << path << ": " << zel::PortErrorName(e);
    EXPECT_EQ(e, PortError::kNone);
    return port;
}

struct SettingsCase {
    int baud;
    speed_t speed;
    bool xonXoff;
    bool ctsRts;
};

class LineSettings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(LineSettings, AreAppliedAsTheControllerNeedsThem) {
    const SettingsCase& c = GetParam();
    PtyPeer peer;
    auto port = OpenOrFail(peer.SlavePath());
    ASSERT_TRUE(port);
    zel::SerialSettings s;
    s.baudRate = c.baud;
    s.xonXoff = c.xonXoff;
    s.ctsRts = c.ctsRts;
    PortError e;
    ASSERT_TRUE(port->Configure(s, e)) << zel::PortErrorName(e);

    // Read back through another descriptor of the same terminal.
    termios t{};
    ASSERT_EQ(::tcgetattr(peer.Slave(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), c.speed);
    EXPECT_EQ(::cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | HUPCL), 0u) << "8N1 without hang-up on close";
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.ctsRts);
    EXPECT_EQ((t.c_iflag & IXON) != 0, c.xonXoff);
    EXPECT_EQ((t.c_iflag & IXOFF) != 0, c.xonXoff);
    EXPECT_EQ(t.c_iflag & IXANY, 0u);
    EXPECT_EQ(t.c_iflag & (INPCK | PARMRK), static_cast<tcflag_t>(INPCK | PARMRK));
    EXPECT_EQ(t.c_iflag & (IGNBRK | BRKINT | IGNPAR | ISTRIP | ICRNL | INLCR | IGNCR), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);

    // The port's own reading agrees.
    zel::SerialLineState st;
    ASSERT_TRUE(port->ReadLineState(st));
    EXPECT_EQ(st.baudRate, c.baud);
    EXPECT_EQ(st.dataBits, 8);
    EXPECT_EQ(st.parity, 0);
    EXPECT_EQ(st.ixon, c.xonXoff);
    EXPECT_EQ(st.crtscts, c.ctsRts);
    EXPECT_TRUE(st.parmrk);
    EXPECT_FALSE(st.canonical);
}

INSTANTIATE_TEST_SUITE_P(Rates, LineSettings,
                         ::testing::Values(SettingsCase{9600, B9600, true, false},
                                           SettingsCase{300, B300, false, false},
                                           SettingsCase{115200, B115200, false, true},
                                           SettingsCase{19200, B19200, true, true}));

TEST(SerialPort, RefusesARateTheControllersDoNotUse) {
    PtyPeer peer;
    auto port = OpenOrFail(peer.SlavePath());
    ASSERT_TRUE(port);
    zel::SerialSettings s;
    s.baudRate = 12345;
    PortError e;
    EXPECT_FALSE(port->Configure(s, e));
    EXPECT_EQ(e, PortError::kBadSetting);
}

TEST(SerialPort, IsOpenedExclusively) {
    PtyPeer peer;
    auto first = OpenOrFail(peer.SlavePath());
    ASSERT_TRUE(first);
    PortError e = PortError::kNone;
    EXPECT_FALSE(SerialPort::Open(peer.SlavePath(), e)) << "a second opener must be refused";
    EXPECT_EQ(e, PortError::kInUse);
    first.reset();
    EXPECT_TRUE(SerialPort::Open(peer.SlavePath(), e)) << "closing gives the port free again";
}

TEST(SerialPort, PathsThatAreNoSerialLineFailCleanly) {
    zeltest::TempDir dir;
    const std::string file = dir.Write("plain.txt", "text");
    struct Case {
        std::string path;
        PortError error;
        int errnoValue;
    };
    const Case cases[] = {
        {dir.File("missing"), PortError::kNotFound, ENOENT},
        {"", PortError::kNotFound, ENOENT},
        {"/dev/null", PortError::kNotATerminal, ENOTTY},
        {file, PortError::kNotATerminal, ENOTTY},
        {dir.path(), PortError::kOther, EISDIR},
    };
    for (const Case& c : cases) {
        zel::SetLastError(0);
        PortError e = PortError::kNone;
        EXPECT_FALSE(SerialPort::Open(c.path, e)) << c.path;
        EXPECT_EQ(e, c.error) << c.path;
        EXPECT_EQ(zel::LastError(), c.errnoValue) << c.path;
    }
}

TEST(SerialPort, CarriesBytesBothWaysAndMarksDataByteFF) {
    PtyPeer peer;
    auto port = OpenOrFail(peer.SlavePath());
    ASSERT_TRUE(port);
    PortError e;
    ASSERT_TRUE(port->Configure(zel::SerialSettings{}, e));
    EXPECT_EQ(port->Write("1 nst\r\n", 7, 1000, e), 7);
    EXPECT_EQ(peer.Receive(7), "1 nst\r\n");

    peer.Send(std::string("A\xff" "B\n", 4));
    zel::StopSignal stop;
    ASSERT_NE(port->WaitForEvents(stop, 2000, true, e) & zel::kPortReadable, 0u);
    std::string raw;
    char buf[64];
    for (int i = 0; i < 50 && raw.size() < 5; ++i) {
        const int n = port->Read(buf, sizeof buf, e);
        ASSERT_GE(n, 0);
        raw.append(buf, static_cast<size_t>(n));
        if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(raw, std::string("A\xff\xff" "B\n", 5)) << "PARMRK doubles a data byte 0xFF";
    EXPECT_EQ(port->Read(buf, sizeof buf, e), 0) << "nothing waits: 0, not an error";
    EXPECT_EQ(e, PortError::kNone);
}

TEST(SerialPort, WriteGivesUpAtTheTimeOutWhenNobodyReads) {
    PtyPeer peer;
    auto port = OpenOrFail(peer.SlavePath());
    ASSERT_TRUE(port);
    PortError e;
    ASSERT_TRUE(port->Configure(zel::SerialSettings{}, e));
    const std::string big(4 * 1024 * 1024, 'x');
    const auto start = std::chrono::steady_clock::now();
    const int written = port->Write(big.data(), static_cast<int>(big.size()), 100, e);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(written, static_cast<int>(big.size()));
    EXPECT_EQ(e, PortError::kTimeout);
    EXPECT_EQ(zel::LastError(), ETIMEDOUT);
    EXPECT_GE(took, std::chrono::milliseconds(90));
    EXPECT_LT(took, std::chrono::seconds(1));
}

TEST(SerialPort, FlushDiscardsWhatHasArrived) {
    PtyPeer peer;
    auto port = OpenOrFail(peer.SlavePath());
    ASSERT_TRUE(port);
    PortError e;
    ASSERT_TRUE(port->Configure(zel::SerialSettings{}, e));
    peer.Send("stale reply\r\n");
    zel::StopSignal stop;
    ASSERT_NE(port->WaitForEvents(stop, 2000, true, e) & zel::kPortReadable, 0u);
    ASSERT_TRUE(port->Flush(true, true));
    char buf[64];
    EXPECT_EQ(port->Read(buf, sizeof buf, e), 0);
}

TEST(SerialPort, SendBreakCharGoesOutAlone) {
    PtyPeer peer;
    auto port = OpenOrFail(peer.SlavePath());
    ASSERT_TRUE(port);
    PortError e;
    ASSERT_TRUE(port->Configure(zel::SerialSettings{}, e));
    ASSERT_TRUE(port->SendBreakChar('\x03', 500, e));
    EXPECT_EQ(peer.Receive(1), "\x03");
}

TEST(SerialPort, WaitEndsOnStopInputOrHangUp) {
    PtyPeer peer;
    auto port = OpenOrFail(peer.SlavePath());
    ASSERT_TRUE(port);
    PortError e;
    ASSERT_TRUE(port->Configure(zel::SerialSettings{}, e));
    zel::StopSignal stop;
    ASSERT_TRUE(stop.Valid());

    EXPECT_EQ(port->WaitForEvents(stop, 20, true, e), 0u) << "time-out: no bits";

    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        stop.Signal();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->WaitForEvents(stop, -1, true, e), static_cast<unsigned>(zel::kPortStopped));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    stopper.join();
    EXPECT_TRUE(stop.IsSignalled()) << "stays set until cleared";
    stop.Clear();
    EXPECT_FALSE(stop.IsSignalled());

    peer.CloseMaster();
    const unsigned bits = port->WaitForEvents(stop, 1000, true, e);
    EXPECT_NE(bits & zel::kPortHangup, 0u) << "the terminal reports the hang-up only here";
    EXPECT_NE(port->WaitForEvents(stop, 0, true, e) & zel::kPortHangup, 0u) << "and keeps reporting it";
    EXPECT_EQ(port->WaitForEvents(stop, 10, false, e), 0u) << "a dead port need not be watched";
}

TEST(SerialPort, AdoptedStreamReportsItsEndAsLost) {
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    auto port = SerialPort::Adopt(sv[0], true);
    ASSERT_TRUE(port);
    EXPECT_TRUE(port->MarksLineErrors());
    PortError e;
    EXPECT_TRUE(port->Configure(zel::SerialSettings{}, e)) << "nothing to configure on a stream";
    ASSERT_EQ(::write(sv[1], "ok\n", 3), 3);
    char buf[16];
    EXPECT_EQ(port->Read(buf, sizeof buf, e), 3);
    EXPECT_EQ(port->Read(buf, sizeof buf, e), 0);
    ::close(sv[1]);
    EXPECT_EQ(port->Read(buf, sizeof buf, e), -1);
    EXPECT_EQ(e, PortError::kDeviceLost);
    EXPECT_EQ(port->Write("x", 1, 100, e), 0) << "no SIGPIPE, an error";
    EXPECT_EQ(e, PortError::kDeviceLost);
}

// A listening socket on the loopback interface.
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd_, 1) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            ADD_FAILURE() << "listen: " << errno;
        port_ = ntohs(a.sin_port);
    }
    ~Listener() {
        if (fd_ >= 0) ::close(fd_);
    }
    int Accept() { return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }
    int Port() const { return port_; }
    void Close() {
        ::close(fd_);
        fd_ = -1;
    }
private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(NetworkPort, CarriesTheLineOverTcpWithoutMarks) {
    Listener server;
    const std::string path = "TCP://127.0.0.1:" + std::to_string(server.Port());
    ASSERT_TRUE(SerialPort::IsNetworkPath(path));
    auto port = OpenOrFail(path);
    ASSERT_TRUE(port);
    const int peer = server.Accept();
    ASSERT_GE(peer, 0);
    EXPECT_TRUE(port->IsNetwork());
    EXPECT_FALSE(port->MarksLineErrors()) << "a 0xFF from the server is plain data";
    PortError e;
    EXPECT_TRUE(port->Configure(zel::SerialSettings{}, e));
    zel::SerialLineState st;
    EXPECT_FALSE(port->ReadLineState(st));
    zel::SerialCounters counters;
    EXPECT_FALSE(port->Counters(counters));

    EXPECT_EQ(port->Write("ge\r\n", 4, 1000, e), 4);
    char buf[16];
    ASSERT_EQ(::recv(peer, buf, sizeof buf, 0), 4);
    EXPECT_EQ(std::string(buf, 4), "ge\r\n");

    ASSERT_EQ(::send(peer, "1.5\r\n", 5, 0), 5);
    zel::StopSignal stop;
    EXPECT_NE(port->WaitForEvents(stop, 2000, true, e) & zel::kPortReadable, 0u);
    EXPECT_EQ(port->Read(buf, sizeof buf, e), 5);

    ::close(peer);
    EXPECT_NE(port->WaitForEvents(stop, 2000, true, e) & zel::kPortReadable, 0u);
    EXPECT_EQ(port->Read(buf, sizeof buf, e), -1);
    EXPECT_EQ(e, PortError::kDeviceLost);
}

TEST(NetworkPort, BadAddressesAndRefusedConnectionsFail) {
    Listener closed;
    const int unusedPort = closed.Port();
    closed.Close();
    struct Case {
        std::string path;
        PortError error;
    };
    const Case cases[] = {
        {"tcp://", PortError::kBadAddress},
        {"tcp://host", PortError::kBadAddress},
        {"tcp://127.0.0.1:", PortError::kBadAddress},
        {"tcp://127.0.0.1:99999", PortError::kBadAddress},
        {"tcp://127.0.0.1:12ab", PortError::kBadAddress},
        {"tcp://[::1:80", PortError::kBadAddress},
        {"tcp://no-such-host.invalid:4001", PortError::kNotFound},
        {"tcp://127.0.0.1:" + std::to_string(unusedPort), PortError::kRefused},
    };
    for (const Case& c : cases) {
        PortError e = PortError::kNone;
        EXPECT_FALSE(SerialPort::Open(c.path, e, 1000)) << c.path;
        EXPECT_EQ(e, c.error) << c.path << ": " << zel::PortErrorName(e);
    }
}

}  // namespace
