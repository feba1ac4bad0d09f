// Faults of the line with the whole library loaded in-process: a controller
// that vanishes (while a command waits, while a write is stuck, between
// commands), floods the line, answers half a line; a port opened and closed
// a thousand times; ten thousand asynchronous commands; commands back to
// back; a completion signal that arrives late.
//
// The controller is played on the master side of a pseudo-terminal. COM1
// is a symbolic link to its slave, so that a controller that vanished (its
// terminal is gone) can come back on a new terminal under the same name.
#include "common/library_fixture.h"
#include "serial/kv_serial.h"
#include "serial/pty_peer.h"
#include "serial/receive_queue.h"

#include <zelcomm/zelcomm.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kTimeoutMs = 500;
// Every command that fails must end within its time-out and this margin.
constexpr milliseconds kMargin{2000};
constexpr ZelWindow kWindow = 0x71E;
constexpr unsigned kMessage = ZEL_MSG_DEFAULT;

// What the controller does with the lines it receives.
enum class Behaviour {
    kAnswer,        // answers every line (see Answer)
    kHalfLine,      // answers "12" without a line end
    kVanishOnLine,  // goes away as soon as a line arrives
    kDeaf,          // stops reading: the library's writes pile up
    kFlood,         // answers a line with 4 MB of binary data without line ends
    kFloodLines,    // answers a line with 4 MB of "0\r\n"
};

constexpr size_t kFloodBytes = 4u << 20;

// The reply of a controller that answers: enough of the command set for the
// connect sequence, "tag N" answers "N", every other query "0".
std::string Answer(const std::string& line) {
    auto endsWith = [&](const char* tail) {
        const size_t n = std::strlen(tail);
        return line.size() >= n && line.compare(line.size() - n, n, tail) == 0;
    };
    if (line == "identify") return "Varne x 224 1 5\r\n";
    if (line == "version") return "3.10\r\n";
    if (line == "m ge ge ge") return "0\r\n0\r\n";  // the last line of the connect string
    if (endsWith("mode") || endsWith("clear") || endsWith("setioport") || endsWith("setdim")) return "";
    if (line.rfind("tag ", 0) == 0) return line.substr(4) + "\r\n";
    return "0\r\n";
}

// The controller at the far end of COM1.
class Controller {
public:
    explicit Controller(std::string link) : link_(std::move(link)) { Arrive(); }
    ~Controller() { Leave(); }
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    void Set(Behaviour b) { behaviour_ = b; }
    // Replies wait this long (0: at once).
    void SetDelay(int ms) { delayMs_ = ms; }

    // A new terminal under the same name, with a controller that answers.
    void Arrive() {
        peer_ = std::make_unique<zeltest::PtyPeer>();
        const std::string fresh = link_ + ".new";
        ::unlink(fresh.c_str());
        ASSERT_EQ(::symlink(peer_->SlavePath().c_str(), fresh.c_str()), 0);
        ASSERT_EQ(::rename(fresh.c_str(), link_.c_str()), 0);
        behaviour_ = Behaviour::kAnswer;
        gone_ = false;
        stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        thread_ = std::thread([this] { Run(); });
    }
    // The controller goes away: its terminal hangs up.
    void Leave() {
        if (!thread_.joinable()) return;
        const uint64_t one = 1;
        (void)!::write(stop_, &one, sizeof one);
        thread_.join();
        ::close(stop_);
        peer_.reset();  // closes the master (if still open) and the slave
        gone_ = true;
    }
    bool Gone() const { return gone_; }
    // Waits until the controller has done what the last line asked for.
    bool WaitIdle(std::chrono::seconds most) {
        const auto deadline = SteadyClock::now() + most;
        while (busy_ && SteadyClock::now() < deadline) std::this_thread::sleep_for(milliseconds(10));
        return !busy_;
    }
    // The most the library held in its input queue while we flooded.
    size_t MostQueued() const { return mostQueued_; }
    void WatchQueue(zel::TReceiveQueue* queue) { queue_ = queue; }
    // The library side of the line, for filling the controller's input.
    int Slave() const { return peer_->Slave(); }

private:
    void Run() {
        std::string pending;
        char buf[4096];
        for (;;) {
            const bool deaf = behaviour_ == Behaviour::kDeaf;
            pollfd p[2] = {{stop_, POLLIN, 0}, {peer_->Master(), static_cast<short>(deaf ? 0 : POLLIN), 0}};
            if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
            if (p[0].revents) return;
            if (!(p[1].revents & POLLIN)) {
                if (p[1].revents) std::this_thread::sleep_for(milliseconds(1));  // no reader yet
                continue;
            }
            const ssize_t n = ::read(peer_->Master(), buf, sizeof buf);
            if (n <= 0) continue;
            pending.append(buf, static_cast<size_t>(n));
            for (size_t lf; (lf = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, lf);
                pending.erase(0, lf + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                busy_ = true;
                const bool stays = Respond(line);
                busy_ = false;
                if (!stays) return;
            }
        }
    }

    // False when the controller has gone.
    bool Respond(const std::string& line) {
        if (delayMs_ > 0) std::this_thread::sleep_for(milliseconds(delayMs_.load()));
        switch (behaviour_.load()) {
        case Behaviour::kAnswer:
            Write(Answer(line));
            return true;
        case Behaviour::kHalfLine:
            Write("12");
            return true;
        case Behaviour::kVanishOnLine:
            peer_->CloseMaster();
            return false;
        case Behaviour::kFlood:
        case Behaviour::kFloodLines: {
            std::string chunk;
            if (behaviour_ == Behaviour::kFlood) {
                // Every byte value but the line feed and the flow control
                // characters (an XON/XOFF line takes those as commands).
                for (int i = 0; chunk.size() < 64 * 1024; i = (i + 7) % 256)
                    if (i != '\n' && i != 0x11 && i != 0x13) chunk += static_cast<char>(i);
                chunk += std::string(16, '\0') + std::string(16, '\xff');
            } else {
                while (chunk.size() < 64 * 1024) chunk += "0\r\n";
            }
            for (size_t sent = 0; sent < kFloodBytes; sent += chunk.size()) {
                Write(chunk);
                if (queue_) mostQueued_ = std::max(mostQueued_.load(), queue_.load()->Size());
            }
            return true;
        }
        case Behaviour::kDeaf:
            return true;
        }
        return true;
    }

    void Write(const std::string& bytes) {
        size_t done = 0;
        const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
        while (done < bytes.size() && SteadyClock::now() < deadline) {
            const ssize_t w = ::write(peer_->Master(), bytes.data() + done, bytes.size() - done);
            if (w > 0) {
                done += static_cast<size_t>(w);
            } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{peer_->Master(), POLLOUT, 0};
                ::poll(&p, 1, 20);
            } else {
                return;
            }
        }
    }

    std::string link_;
    std::unique_ptr<zeltest::PtyPeer> peer_;
    std::atomic<Behaviour> behaviour_{Behaviour::kAnswer};
    std::atomic<int> delayMs_{0};
    std::atomic<bool> gone_{false};
    std::atomic<bool> busy_{false};
    std::atomic<zel::TReceiveQueue*> queue_{nullptr};
    std::atomic<size_t> mostQueued_{0};
    int stop_ = -1;
    std::thread thread_;
};

bool OneOf(int code, const std::vector<int>& codes) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

size_t Entries(const char* dir) {
    size_t n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

struct Outcome {
    int code;
    std::string reply;
    milliseconds took;
};

class LineFaults : public zeltest::LibraryFixture {
protected:
    // Loads the library with COM1 on the controller's line and connects.
    void Connect(unsigned waitWord, int timeoutMs = kTimeoutMs) {
        link_ = dir_.File("com1");
        controller_ = std::make_unique<Controller>(link_);
        // The fixture's scoped variables of an earlier load restore the
        // environment they found: let them do so before the next load.
        iniEnv_.reset();
        protocolEnv_.reset();
        Load(("[Startup]\nTimeOut=" + std::to_string(timeoutMs) + "\n[Ports]\nCOM1=" + link_ + "\n").c_str());
        ASSERT_EQ(InitController(ZEL_TYPE_DEFAULT, 3, 1, 9600, kWindow, kMessage, waitWord), 0);
        ASSERT_EQ(OpenController(), 0);
    }
    void TearDown() override {
        ZelSetWindowProc(kWindow, nullptr, nullptr);
        LibraryFixture::TearDown();  // unloads: the port is closed first
        controller_.reset();
    }

    static Outcome Execute(const char* command, int lines = 1) {
        char reply[256] = "";
        const auto start = SteadyClock::now();
        const int code = ExecuteCommand(command, lines, reply);
        return {code, reply, std::chrono::duration_cast<milliseconds>(SteadyClock::now() - start)};
    }

    // The controller has come back: the connect sequence and a command work.
    void ExpectTheLineWorksAgain() {
        if (controller_->Gone()) controller_->Arrive();
        controller_->Set(Behaviour::kAnswer);
        EXPECT_EQ(OpenController(), 0);
        const Outcome next = Execute("tag 77");
        EXPECT_EQ(next.code, 0);
        EXPECT_EQ(next.reply, "77");
    }

    std::string link_;
    std::unique_ptr<Controller> controller_;
};

// ---- A controller that vanishes -------------------------------------------

TEST_F(LineFaults, ACommandEndsWithAnErrorWhenTheControllerVanishesAndTheLineWorksOnceItIsBack) {
    enum class When { kDuringTheWait, kDuringTheWrite, kBetweenCommands };
    struct Case {
        const char* name;
        When when;
        std::vector<int> codes;  // what the command may end with
    };
    // The hang-up is reported as a line error; a write that fails before the
    // report ends the command as failed.
    const Case cases[] = {
        {"while the command waits for its reply", When::kDuringTheWait, {ZEL_ERR_LINE_ERROR}},
        {"while the write is stuck (nobody reads)", When::kDuringTheWrite,
         {ZEL_ERR_LINE_ERROR, ZEL_ERR_COMMAND_FAILED}},
        {"between two commands", When::kBetweenCommands, {ZEL_ERR_LINE_ERROR, ZEL_ERR_COMMAND_FAILED}}};
    Connect(0x100);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::thread leaving;
        switch (k.when) {
        case When::kDuringTheWait:
            controller_->Set(Behaviour::kVanishOnLine);
            break;
        case When::kDuringTheWrite: {
            // Fill the controller's input until the line takes nothing more;
            // the command's write then waits for room, and the controller
            // goes away meanwhile.
            controller_->Set(Behaviour::kDeaf);  // after one more read
            const int fd = controller_->Slave();
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            const std::string block(4096, 'x');
            size_t filled = 0;
            for (ssize_t w; (w = ::write(fd, block.data(), block.size())) > 0;) filled += static_cast<size_t>(w);
            ASSERT_GT(filled, 0u);
            leaving = std::thread([this] {
                std::this_thread::sleep_for(milliseconds(kTimeoutMs / 3));
                controller_->Leave();
            });
            break;
        }
        case When::kBetweenCommands:
            ASSERT_EQ(Execute("st").code, 0);
            controller_->Leave();
            break;
        }
        const Outcome o = Execute("st");
        if (leaving.joinable()) leaving.join();
        EXPECT_TRUE(OneOf(o.code, k.codes)) << "code " << o.code << ", reply \"" << o.reply << "\"";
        EXPECT_LT(o.took, milliseconds(kTimeoutMs) + kMargin);
        if (k.when == When::kDuringTheWrite) {
            EXPECT_GE(o.took, milliseconds(kTimeoutMs / 3 - 20)) << "the write waited for room until then";
        }
        controller_->Leave();
        ExpectTheLineWorksAgain();
    }
}

// ---- A controller that talks nonsense --------------------------------------

TEST_F(LineFaults, AFloodEndsTheCommandWithACodeAndStaysWithinTheReceiveQueue) {
    struct Case {
        const char* name;
        Behaviour flood;
        std::vector<int> codes;  // what the command may end with
    };
    const Case cases[] = {
        // No line end: a time-out, or the receive overflow's line error.
        {"binary data without line ends, with 0x00 and 0xFF", Behaviour::kFlood,
         {ZEL_ERR_TIMEOUT, ZEL_ERR_LINE_ERROR}},
        // The first line is the reply.
        {"line after line of \"0\\r\\n\"", Behaviour::kFloodLines, {ZEL_OK, ZEL_ERR_LINE_ERROR}}};
    Connect(0x100);
    zel::TKvSerial& serial = *C().pCSerial;
    controller_->WatchQueue(&serial.ReceiveQueue());
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        controller_->Set(k.flood);
        const Outcome o = Execute("st");
        EXPECT_LT(o.took, milliseconds(kTimeoutMs) + kMargin);
        EXPECT_TRUE(OneOf(o.code, k.codes)) << "code " << o.code;
        // The application resets the port while the flood goes on (the reply
        // scanner reads the line at the same time), then once it is over.
        EXPECT_EQ(ResetComm(), 0);
        ASSERT_TRUE(controller_->WaitIdle(std::chrono::seconds(60))) << "the flood did not get through";
        EXPECT_LE(controller_->MostQueued(), serial.ReceiveQueue().Capacity());
        EXPECT_LE(C().Reply().size(), serial.ReceiveQueue().Capacity()) << "the reply held is bounded as well";
        controller_->Set(Behaviour::kAnswer);
        EXPECT_EQ(ResetComm(), 0);
        const Outcome next = Execute("tag 5");
        EXPECT_EQ(next.code, 0);
        EXPECT_EQ(next.reply, "5");
    }
}

// A reply that stops halfway is a time-out (19) in every signal mode, and
// the next command is answered as usual.
TEST_F(LineFaults, HalfALineIsATimeOutInEverySignalMode) {
    struct Case {
        const char* name;
        unsigned waitWord;
    };
    const Case cases[] = {{"1, flag polling", ZEL_WAIT_SIGNAL_POLL},
                          {"2, SetEvent", ZEL_WAIT_SIGNAL_SET_EVENT},
                          {"3, PulseEvent", 0x100},
                          {"3, message-aware wait", ZEL_WAIT_EVENT_MESSAGES},
                          {"7, TEvent", ZEL_WAIT_SIGNAL_TEVENT},
                          {"3 through the wait-for-reply thread", ZEL_WAIT_REPLY_THREAD | 0x100}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Connect(k.waitWord);
        controller_->Set(Behaviour::kHalfLine);
        const Outcome o = Execute("st");
        EXPECT_EQ(o.code, ZEL_ERR_TIMEOUT);
        EXPECT_GE(o.took, milliseconds(kTimeoutMs - 10));
        EXPECT_LT(o.took, milliseconds(kTimeoutMs) + kMargin);
        controller_->Set(Behaviour::kAnswer);
        const Outcome next = Execute("tag 8");
        EXPECT_EQ(next.code, 0);
        EXPECT_EQ(next.reply, "8");
        Unload();
        controller_.reset();
    }
}

// ---- Resources -------------------------------------------------------------

TEST_F(LineFaults, OpeningAndClosingTheLineAThousandTimesLeavesNoDescriptorOrThread) {
    for (unsigned waitWord : {0x100u, ZEL_WAIT_REPLY_THREAD | 0x100u}) {
        SCOPED_TRACE(waitWord);
        Connect(waitWord);
        zel::TKvSerial& serial = *C().pCSerial;
        serial.SetActive(false);
        serial.SetActive(true);
        const size_t fds = Entries("/proc/self/fd");
        const size_t threads = Entries("/proc/self/task");
        for (int i = 1; i <= 1000; ++i) {
            serial.SetActive(false);
            serial.SetActive(true);
            ASSERT_TRUE(serial.bActive) << "reopening " << i;
            if (i % 250 == 0) {
                const std::string tag = "tag " + std::to_string(i);
                const Outcome o = Execute(tag.c_str());
                ASSERT_EQ(o.code, 0) << i;
                ASSERT_EQ(o.reply, std::to_string(i));
            }
        }
        EXPECT_LE(Entries("/proc/self/fd"), fds);
        EXPECT_LE(Entries("/proc/self/task"), threads);
        Unload();
        controller_.reset();
    }
}

// Asynchronous mode: every command returns at once, its reply is announced
// by a posted message and collected with GetReply from the window procedure.
TEST_F(LineFaults, TenThousandAsynchronousRepliesArriveEachAfterItsMessage) {
    const int commands = 10000;
    struct Collected {
        int messages = 0;
        std::string reply;
    } got;
    Connect(0x100A04);
    ASSERT_EQ(ZelSetWindowProc(
                  kWindow,
                  [](void* context, ZelWindow, unsigned message, intptr_t, intptr_t) -> intptr_t {
                      auto* c = static_cast<Collected*>(context);
                      if (message != kMessage) return 0;
                      char reply[256] = "";
                      if (GetReply(reply) == 0) c->reply = reply;
                      ++c->messages;
                      return 0;
                  },
                  &got),
              0);
    const int fd = ZelMessageFd();
    ASSERT_GE(fd, 0);
    int wrong = 0;
    std::string firstWrong;
    for (int i = 0; i < commands; ++i) {
        const std::string tag = "tag " + std::to_string(i);
        got = Collected{};
        ASSERT_EQ(ExecuteCommand(tag.c_str(), 1, nullptr), 0) << i;
        const auto deadline = SteadyClock::now() + milliseconds(kTimeoutMs) + kMargin;
        while (got.messages == 0 && SteadyClock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 100);
            ZelDispatchMessages();
        }
        ASSERT_EQ(got.messages, 1) << "command " << i << ": one message per reply";
        if (got.reply != std::to_string(i) && wrong++ == 0)
            firstWrong = "command " + std::to_string(i) + " got \"" + got.reply + "\"";
    }
    EXPECT_EQ(wrong, 0) << firstWrong;
}

// ---- A late completion signal ----------------------------------------------

// The scanner marks a reply complete before it sets or pulses the command's
// event; the caller may see the mark and return in between. The next
// command must not take that late signal for its own reply.
TEST_F(LineFaults, BackToBackCommandsEachGetTheirOwnReplyInEverySynchronousMode) {
    // A controller that answers at once: the end of one command's wait and
    // the start of the next overlap with the threads still finishing the
    // last reply. No signal of one reply may end the next command's wait.
    const unsigned modes[] = {ZEL_WAIT_SIGNAL_POLL, ZEL_WAIT_SIGNAL_SET_EVENT, 0x100, ZEL_WAIT_SIGNAL_TEVENT,
                              ZEL_WAIT_REPLY_THREAD | 0x100};
    for (unsigned waitWord : modes) {
        SCOPED_TRACE(testing::Message() << "wait word 0x" << std::hex << waitWord);
        Connect(waitWord, 2000);
        int wrong = 0;
        for (int i = 0; i < 2000; ++i) {
            const std::string tag = "tag " + std::to_string(i);
            const Outcome o = Execute(tag.c_str());
            if ((o.code != 0 || o.reply != std::to_string(i)) && ++wrong <= 3)
                ADD_FAILURE() << tag << ": code " << o.code << ", reply \"" << o.reply << "\"";
        }
        EXPECT_EQ(wrong, 0);
        Unload();
        controller_.reset();
    }
}

TEST_F(LineFaults, ALateCompletionSignalOfOneCommandDoesNotEndTheNextOnesWait) {
    struct Case {
        const char* name;
        unsigned waitWord;
        std::function<void(zel::TController&)> lateSignal;
    };
    const Case cases[] = {
        {"2, SetEvent", ZEL_WAIT_SIGNAL_SET_EVENT, [](zel::TController& c) { c.hCEvent->Set(); }},
        {"3, PulseEvent", 0x100, [](zel::TController& c) { c.hCEvent->Pulse(); }},
        {"7, TEvent", ZEL_WAIT_SIGNAL_TEVENT, [](zel::TController& c) { c.pCTEvent->Set(); }},
        {"wait-for-reply thread", ZEL_WAIT_REPLY_THREAD | 0x100,
         [](zel::TController& c) { c.pCSerial->SignalReplyComplete(); }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Connect(k.waitWord, 2000);
        ASSERT_EQ(Execute("tag 1").reply, "1");
        controller_->SetDelay(300);
        std::future<Outcome> next;
        {
            // The scanner of the first reply, still signalling.
            std::lock_guard<std::mutex> scanning(C().mCScanLock);
            next = std::async(std::launch::async, [] { return Execute("tag 2"); });
            std::this_thread::sleep_for(milliseconds(100));
            k.lateSignal(C());
        }
        const Outcome o = next.get();
        EXPECT_EQ(o.code, 0);
        EXPECT_EQ(o.reply, "2");
        controller_->SetDelay(0);
        Unload();
        controller_.reset();
    }
}

}  // namespace
