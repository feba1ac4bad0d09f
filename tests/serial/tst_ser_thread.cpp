// The serial event thread over a pseudo-terminal (and over a marked stream
// for breaks and line errors, which a pseudo-terminal cannot produce): line
// ends reach the reply scanner, none is lost while the scanner is busy,
// breaks and line errors reach the controller, a closing port stops the
// thread at once, a vanished peer is reported once, a flood stays bounded.
#include "platform/zel_serial_port.h"
#include "serial/ser_thread.h"
#include "serial/serial_line_fixture.h"

#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <mutex>

namespace {

using zeltest::SerialLineTest;

class SerThread : public SerialLineTest {
protected:
    void Open() {
        S().SetActive(true);
        ASSERT_TRUE(S().bActive);
        ASSERT_TRUE(S().HasEventThread());
    }
};

TEST_F(SerThread, LinesFromThePeerReachTheReplyScanner) {
    Open();
    peer_.Send("1.");  // no line end yet: nothing is scanned
    Settle(50);
    EXPECT_EQ(C().Reply(), "");
    peer_.Send("5\r\n");
    ASSERT_TRUE(WaitUntil([&] { return C().Reply() == "1.5\r\n"; })) << C().Reply();
    peer_.Send("2\r\n3\r\n");
    ASSERT_TRUE(WaitUntil([&] { return C().Reply() == "1.5\r\n2\r\n3\r\n"; })) << C().Reply();
}

TEST_F(SerThread, ALineEndArrivingWhileTheScannerIsBusyIsNotLost) {
    Open();
    {
        // Hold the scanner: the thread reports the first line end and waits.
        std::unique_lock<std::mutex> busy(C().mCScanLock);
        peer_.Send("a\r\n");
        ASSERT_TRUE(WaitUntil([&] { return S().nSTEventCount.load() == 1; }));
        peer_.Send("b\r\n");
        Settle(50);
    }
    ASSERT_TRUE(WaitUntil([&] { return C().Reply() == "a\r\nb\r\n"; })) << C().Reply();
}

TEST_F(SerThread, CloseStopsAWaitingThreadWellWithin200ms) {
    StartProtocol();
    Open();
    Settle(30);  // the thread is in its wait
    for (int round = 0; round < 3; ++round) {
        const auto start = std::chrono::steady_clock::now();
        S().SetActive(false);
        // Loose bound; the log below shows the thread ended within CloseIt's wait.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_FALSE(S().bActive);
        EXPECT_FALSE(S().HasEventThread());
        S().SetActive(true);
        ASSERT_TRUE(S().bActive) << "the port is free again after closing";
    }
    const std::string log = Protocol();
    EXPECT_NE(log.find("[TKvSerial::CloseIt() WaitForSingleObject returned WAIT_OBJECT_0]\r\n"), std::string::npos);
    EXPECT_EQ(log.find("WaitForSingleObject returned TIMEOUT"), std::string::npos);
    EXPECT_NE(log.find("::Execute() terminated]\r\n"), std::string::npos);
}

TEST_F(SerThread, APeerThatHangsUpIsReportedOnceAndNotPolledAgain) {
    Open();
    peer_.Send("last\r\n");
    ASSERT_TRUE(WaitUntil([&] { return C().Reply() == "last\r\n"; }));
    peer_.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return Count(ZEL_ERR_LINE_ERROR) == 1; }));
    EXPECT_EQ(C().nCLastError.load(), ZEL_ERR_LINE_ERROR);
    // A thread that kept polling the dead descriptor would keep waking up
    // (and spin a core); once the loss is reported it sleeps until stopped.
    Settle(50);
    ASSERT_NE(S().pSerThread, nullptr);
    const uint64_t wakeups = S().pSerThread->Wakeups();
    Settle(300);
    EXPECT_EQ(S().pSerThread->Wakeups(), wakeups);
    EXPECT_EQ(Count(ZEL_ERR_LINE_ERROR), 1);
    S().SetActive(false);
    EXPECT_FALSE(S().bActive);
}

TEST_F(SerThread, AFloodWithoutLineEndsStaysBounded) {
    Open();
    const size_t capacity = S().ReceiveQueue().Capacity();
    const std::string chunk(64 * 1024, 'x');
    for (int i = 0; i < 160; ++i) peer_.Send(chunk);  // 10 MiB
    int in = 0, out = 0;
    unsigned errors = 0, seen = 0;
    ASSERT_TRUE(WaitUntil([&] {
        S().DataInBuffer(in, out, errors);
        seen |= errors;
        return static_cast<size_t>(in) == capacity && Count(ZEL_ERR_LINE_ERROR) == 1;
    }, 10000)) << "in=" << in;
    Settle(100);
    S().DataInBuffer(in, out, errors);
    EXPECT_EQ(static_cast<size_t>(in), capacity);
    EXPECT_EQ(seen & zel::kCeRxOver, zel::kCeRxOver);
    EXPECT_EQ(Count(ZEL_ERR_LINE_ERROR), 1) << "one report per overflow, not one per read";
    EXPECT_EQ(C().Reply(), "") << "no line end, no scan";
}

// Breaks and characters with line errors arrive as PARMRK marks.
TEST_F(SerThread, BreaksAndLineErrorsReachTheController) {
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    ASSERT_TRUE(S().AttachPort(zel::SerialPort::Adopt(sv[0], true)));
    auto send = [&](const std::string& bytes) {
        ASSERT_EQ(::write(sv[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    };
    int in, out;
    unsigned errors;
    send(std::string("\xff\0\0", 3));
    ASSERT_TRUE(WaitUntil([&] { return Count(ZEL_ERR_BREAK) == 1; }));
    ASSERT_TRUE(S().DataInBuffer(in, out, errors));
    EXPECT_EQ(errors, zel::kCeBreak);
    send(std::string("1\xff\0", 3));  // a mark split across two reads
    Settle(20);
    send("Z");
    ASSERT_TRUE(WaitUntil([&] { return Count(ZEL_ERR_LINE_ERROR) == 1; }));
    ASSERT_TRUE(S().DataInBuffer(in, out, errors));
    EXPECT_EQ(errors, zel::kCeFrame);
    EXPECT_EQ(in, 2) << "the character with the error is kept";
    send("\r\n");
    ASSERT_TRUE(WaitUntil([&] { return C().Reply() == "1Z\r\n"; })) << C().Reply();
    EXPECT_EQ(Count(ZEL_ERR_BREAK), 1);
    ::close(sv[1]);
    ASSERT_TRUE(WaitUntil([&] { return Count(ZEL_ERR_LINE_ERROR) == 2; })) << "end of stream: device lost";
    S().SetActive(false);
}

TEST_F(SerThread, EventsOutsideTheEventMaskAreNotReported) {
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    S().unWaitMode = ZEL_WAIT_MASK_IN_THREAD;  // the thread sets the mask itself
    ASSERT_TRUE(S().AttachPort(zel::SerialPort::Adopt(sv[0], true)));
    EXPECT_EQ(S().PortEventMask(), zel::kDefaultEventMask);
    S().SetPortEventMask(zel::kEvRxFlag);
    ASSERT_EQ(::write(sv[1], "\xff\0\0" "ok\r\n", 7), 7);
    ASSERT_TRUE(WaitUntil([&] { return C().Reply() == "ok\r\n"; }));
    Settle(30);
    EXPECT_EQ(Count(ZEL_ERR_BREAK), 0);
    S().SetActive(false);
    ::close(sv[1]);
}

}  // namespace
