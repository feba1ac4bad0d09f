// The serial object on a real line (a pseudo-terminal): opening with the
// owner's settings, refusals, writing, reading in 1023-character pieces,
// purging, CTRL+C, the opening without a thread and the protocol it writes.
#include "serial/serial_line_fixture.h"
#include "serial/wait_for_reply_thread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

using zeltest::SerialLineTest;

class KvSerialLine : public SerialLineTest {};

TEST_F(KvSerialLine, OpensWithTheOwnersBaudRateAndHandshake) {
    struct Case {
        uint8_t baudCode;
        speed_t speed;
        bool xonXoff;
        bool ctsRts;
    };
    const Case cases[] = {{4, B9600, true, false}, {0, B115200, false, false}, {9, B300, true, true}};
    for (const Case& c : cases) {
        C().ucCBaudCode = c.baudCode;
        S().bXonXoff = c.xonXoff;
        S().bCtsRtsHandshake = c.ctsRts;
        ASSERT_TRUE(S().OpenIt()) << int(c.baudCode);
        termios t{};
        ASSERT_EQ(::tcgetattr(peer_.Slave(), &t), 0);
        EXPECT_EQ(::cfgetospeed(&t), c.speed);
        EXPECT_EQ((t.c_iflag & (IXON | IXOFF)) != 0, c.xonXoff);
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.ctsRts);
        EXPECT_EQ(t.c_iflag & (PARMRK | INPCK), static_cast<tcflag_t>(PARMRK | INPCK));
        EXPECT_EQ(t.c_lflag & ICANON, 0u);
        EXPECT_EQ(S().unEventMask.load(), 0xC2u);
        EXPECT_EQ(S().PortEventMask(), 0xC2u);
        EXPECT_GE(S().hPort, 0);
        S().CloseIt();
        EXPECT_EQ(S().hPort, -1);
    }
}

TEST_F(KvSerialLine, RefusesWhatItCannotOpenAndStaysClosed) {
    // An open port stays open; a second object cannot take the same line.
    ASSERT_TRUE(S().OpenIt());
    EXPECT_FALSE(S().OpenIt());
    EXPECT_TRUE(S().bActive);
    zel::TController other(1);
    other.pCSerial->SetPort(1);
    EXPECT_FALSE(other.pCSerial->OpenIt()) << "the port is in use";
    EXPECT_FALSE(other.pCSerial->bActive);
    EXPECT_FALSE(other.pCSerial->HasEventThread());
    S().CloseIt();
    EXPECT_TRUE(other.pCSerial->OpenIt()) << "free again";
    other.pCSerial->CloseIt();

    // A rate the controllers do not use, and a missing device.
    C().ucCBaudCode = 42;
    EXPECT_FALSE(S().OpenIt());
    EXPECT_FALSE(S().bActive);
    C().ucCBaudCode = 4;
    dir_.Write("ZELCOMM.INI", "[Ports]\nCOM1=" + dir_.File("gone") + "\n");
    zel::ResetConfigPath();
    zel::ResetPortMapping();
    StartProtocol();
    EXPECT_FALSE(S().OpenIt());
    EXPECT_FALSE(S().bActive);
    EXPECT_EQ(S().hPort, -1);
    EXPECT_FALSE(S().HasEventThread());
    const std::string log = Protocol();
    EXPECT_NE(log.find("[TKvSerial::OpenIt(), COM1 (" + dir_.File("gone") + "): not found"), std::string::npos);
    EXPECT_NE(log.find("[GetCommProperties() failed]\r\n"), std::string::npos);
    EXPECT_NE(log.find("[KvSProtCommState() failed]\r\n"), std::string::npos);
}

TEST_F(KvSerialLine, TransmitsTheWholeTextOrFailsAtTheTimeOut) {
    StartProtocol();
    int written = -1;
    EXPECT_FALSE(S().TransmitText("st\r\n", 1, written)) << "closed";
    EXPECT_EQ(written, 0);
    EXPECT_EQ(Protocol().find("[COM1 Out("), std::string::npos);

    ASSERT_TRUE(S().OpenIt());
    ASSERT_TRUE(S().TransmitText("1 nst\r\n", 1, written));
    EXPECT_EQ(written, 7);
    EXPECT_EQ(S().nSTExpectedLines.load(), 1);
    EXPECT_EQ(peer_.Receive(7), "1 nst\r\n");
    EXPECT_NE(Protocol().find("[COM1 Out(7)]\r\n1 nst\r\n"), std::string::npos);

    // Nobody reads: the write stops at the owner's time-out.
    C().nCTimeout = 100;
    const std::string big(4 * 1024 * 1024, 'x');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(S().TransmitText(big, 0, written));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(big.size()));
}

TEST_F(KvSerialLine, ReceivesAtMost1023CharactersACall) {
    ASSERT_TRUE(S().OpenIt());
    const std::string text(1500, 'a');  // no line end: the scanner stays out
    peer_.Send(text);
    int in = 0, out = 0;
    unsigned errors = 0;
    ASSERT_TRUE(WaitUntil([&] { return S().DataInBuffer(in, out, errors) && in == 1500; }));
    int count = 0;
    EXPECT_EQ(S().ReceiveText(count), text.substr(0, 1023));
    EXPECT_EQ(count, 1023);
    EXPECT_EQ(S().ReceiveText(count), text.substr(1023));
    EXPECT_EQ(count, 477);
    EXPECT_EQ(S().ReceiveText(count), "");
    EXPECT_EQ(count, 0);
}

TEST_F(KvSerialLine, PurgeDropsWhatWaitsAndCtrlCGoesOut) {
    ASSERT_TRUE(S().OpenIt());
    peer_.Send("stale");
    ASSERT_TRUE(WaitUntil([&] { return S().GetBufRec() == 5; }));
    EXPECT_TRUE(S().Purge());
    EXPECT_EQ(S().GetBufRec(), 0);
    ASSERT_TRUE(S().TransmitCommChar('\x03'));
    EXPECT_EQ(peer_.Receive(1), "\x03");
    S().CloseIt();
    EXPECT_FALSE(S().Purge());
    EXPECT_FALSE(S().TransmitCommChar('\x03'));
    int in, out;
    unsigned errors;
    EXPECT_FALSE(S().DataInBuffer(in, out, errors));
}

TEST_F(KvSerialLine, WithoutAThreadTheLineIsReadOnDemand) {
    zel::State().testPoints = zel::kTpOpenNoThread;
    S().SetActive(true);
    ASSERT_TRUE(S().bActive);
    EXPECT_FALSE(S().HasEventThread());
    peer_.Send("0\r\n");
    ASSERT_TRUE(WaitUntil([&] { return S().GetBufRec() == 3; }));
    int count = 0;
    EXPECT_EQ(S().ReceiveText(count), "0\r\n");
    EXPECT_EQ(C().Reply(), "") << "no thread, no scanning";
    zel::State().testPoints = 0;
    S().SetActive(false);
    EXPECT_FALSE(S().bActive);
}

TEST_F(KvSerialLine, WritesTheLineSettingsIntoTheProtocol) {
    StartProtocol();
    S().unWaitMode = ZEL_WAIT_KEEP_THREAD | ZEL_WAIT_PUMP_ON_CLOSE;
    ASSERT_TRUE(S().OpenIt());
    S().CloseIt();
    const std::string log = Protocol();
    for (const char* line :
         {"[GetCommProperties() successful]\r\n", "[GetCommState() successful]\r\n", "[BaudRate=9600]\r\n",
          "[fBinary=1]\r\n", "[fParity=0]\r\n", "[fOutX=1]\r\n", "[fInX=1]\r\n", "[fTXContinueOnXoff=0]\r\n",
          "[fRtsControl=0]\r\n", "[fDtrControl=0]\r\n", "[ByteSize=8]\r\n", "[Parity=0]\r\n",
          "[StopBits=0]\r\n", "[XonChar=0x11]\r\n", "[XoffChar=0x13]\r\n", "[EvtMask=0x000000c2]\r\n",
          "[GetCommTimeouts() successful]\r\n", "[ReadIntervalTimeout=0]\r\n",
          "[TKvSerial::OpenIt(), pSerThread=", "[TSerThread::TSerThread() done]\r\n",
          "[TSerThread::Execute()]\r\n", "[TKvSerial::CloseIt]\r\n",
          "[TKvSerial::CloseIt() WaitForSingleObject returned WAIT_OBJECT_0]\r\n",
          "[TKvSerial::CloseIt() deleting Thread]\r\n", "[TKvSerial::CloseHandle()]\r\n",
          "[TKvSerial::CloseIt done]\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_LT(log.find("[EvtMask=0x00000000]\r\n"), log.find("[EvtMask=0x000000c2]\r\n"))
        << "the mask is set after the settings";
}

// A command waiting through the wait-for-reply thread ends when the reply is
// complete, and a wait without time-out ends when the port is closed.
TEST_F(KvSerialLine, AWaitThroughTheWaitForReplyThreadEndsOnTheReplyOrOnClose) {
    S().unWaitMode = ZEL_WAIT_REPLY_THREAD;
    ASSERT_TRUE(S().OpenIt());
    ASSERT_NE(S().WaitForReplyThread(), nullptr);
    int written;
    ASSERT_TRUE(S().TransmitText("st\r\n", 1, written));
    std::thread controller([&] {
        peer_.Receive(4);
        peer_.Send("0\r\n");
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(S().RunWaitForReply(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    controller.join();
    EXPECT_TRUE(C().bCReplyComplete);

    // No time-out, a silent controller; the application disconnects from a
    // message handled while the command waits.
    ASSERT_TRUE(S().TransmitText("st\r\n", 1, written));
    zel::SetWindowProc(0x77, [](void* s, ZelWindow, unsigned, intptr_t, intptr_t) -> intptr_t {
        static_cast<zel::TKvSerial*>(s)->SetActive(false);
        return 0;
    }, &S());
    std::thread app([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        zel::PostMessage(0x77, 1, 0, 0);
    });
    EXPECT_FALSE(S().RunWaitForReply(-1)) << "the run was aborted";
    app.join();
    EXPECT_FALSE(S().bActive);
    EXPECT_TRUE(S().WaitForReplyThread()->Aborted());
    ASSERT_TRUE(S().OpenIt());
    EXPECT_FALSE(S().WaitForReplyThread()->Aborted()) << "a new opening, a new thread";
}

// A [Ports] value tcp://host:port reaches a controller behind a serial
// device server; replies and a vanished server are handled as on a line.
TEST_F(KvSerialLine, ServesANetworkPortLikeALine) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), len), 0);
    ASSERT_EQ(::listen(server, 1), 0);
    ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr*>(&a), &len), 0);
    dir_.Write("ZELCOMM.INI", "[Ports]\nCOM1=tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "\n");
    zel::ResetConfigPath();
    zel::ResetPortMapping();
    ASSERT_TRUE(S().OpenIt());
    const int peer = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(peer, 0);
    int written;
    ASSERT_TRUE(S().TransmitText("ge\r\n", 1, written));
    char buf[16];
    ASSERT_EQ(::recv(peer, buf, sizeof buf, 0), 4);
    ASSERT_EQ(::send(peer, "0\r\n", 3, 0), 3);
    ASSERT_TRUE(WaitUntil([&] { return C().Reply() == "0\r\n"; })) << C().Reply();
    ::close(peer);
    ASSERT_TRUE(WaitUntil([&] { return Count(ZEL_ERR_LINE_ERROR) == 1; }));
    Settle(50);
    EXPECT_EQ(Count(ZEL_ERR_LINE_ERROR), 1);
    S().CloseIt();
    ::close(server);
}

}  // namespace
