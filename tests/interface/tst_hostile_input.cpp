// Hostile arguments at the exported interface. Every call of zelcomm.h gets
// null pointers, empty texts, 10,000-character texts, texts whose zero is
// the last readable byte before an inaccessible page, and the integers 0,
// -1, INT_MIN, INT_MAX and 5, in each state a process reaches without a
// serial line: no controller, initialised, connected in demo mode (both
// command sets), asynchronous with a reply pending on a silent line, and
// connected to a scripted line whose replies are longer than any buffer.
// Each call must return one of the header's codes without faulting, and
// write at most 256 bytes into a caller's buffer (an Ex form at most the
// size it is given, QCValidate's error token at most 64 bytes).
//
// Also a whole demo session, load to unload, that must leave nothing
// allocated: the AddressSanitizer suite checks it with LeakSanitizer, and
//   valgrind --leak-check=full tests/tst_hostile_input --gtest_filter='DemoSession.*'
// checks it on the plain build.
#include "common/fake_serial.h"
#include "common/library_fixture.h"
#include "engine/demo_simulator_internal.h"
#include "platform/zel_clock.h"
#include "platform/zel_messages.h"
#include "support/library_state.h"
#include "support/protocol_log.h"
#include "validation/validation_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using zeltest::LibraryFixture;

namespace {

constexpr size_t kBufferSize = 512;
constexpr unsigned char kCanary = 0xCD;
constexpr int kOutputs = 8;

// A text whose terminating zero is the last byte of a readable page; the
// page after it is inaccessible, so any read past the zero faults.
class PageEndText {
public:
    explicit PageEndText(std::string text) : text_(std::move(text)) {
        const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        const size_t pages = (text_.size() + 1 + page - 1) / page;
        length_ = (pages + 1) * page;
        void* base = ::mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) throw std::runtime_error("mmap failed");
        base_ = static_cast<char*>(base);
        if (::mprotect(base_ + pages * page, page, PROT_NONE) != 0) throw std::runtime_error("mprotect failed");
        data_ = base_ + pages * page - (text_.size() + 1);
        Restore();
    }
    ~PageEndText() { ::munmap(base_, length_); }
    PageEndText(const PageEndText&) = delete;
    PageEndText& operator=(const PageEndText&) = delete;
    // QCValidate rewrites its command in place: every call gets the text anew.
    void Restore() { std::memcpy(data_, text_.c_str(), text_.size() + 1); }
    char* data() { return data_; }

private:
    std::string text_;
    char* base_ = nullptr;
    size_t length_ = 0;
    char* data_ = nullptr;
};

// One set of hostile arguments: a text (or null), an integer for every int
// argument, a size for the Ex forms, and output buffers (some or all null).
struct Args {
    std::string name;
    char* text;
    int number;
    size_t size;
    char* out[kOutputs];
    int* intOut[4];
};

// What a call hands back, and how far it may write into the buffers.
enum class Returns { Code, Validation, Count, Descriptor };
enum class Writes { Nothing, Up256, UpToSize, Token64 };

struct Call {
    const char* name;
    Returns returns;
    Writes writes;
    std::function<int(Args&)> run;
};

intptr_t IgnoreMessage(void*, ZelWindow, unsigned, intptr_t, intptr_t) { return 0; }
int NoEvents(void*, ZelWindow*) { return 0; }
int QuietBox(void*, ZelWindow, const char*, const char*, unsigned) { return 0; }

// The table: every exported call, its arguments taken from one set.
const std::vector<Call>& Calls() {
    using R = Returns;
    using W = Writes;
    static const std::vector<Call> calls = {
        {"ZelSetWindowProc", R::Code, W::Nothing,
         [](Args& a) {
             const int code = ZelSetWindowProc(a.number, a.text ? IgnoreMessage : nullptr, a.text);
             ZelSetWindowProc(a.number, nullptr, nullptr);
             return code;
         }},
        {"ZelDispatchMessages", R::Count, W::Nothing, [](Args&) { return ZelDispatchMessages(); }},
        {"ZelMessageFd", R::Descriptor, W::Nothing, [](Args&) { return ZelMessageFd(); }},
        {"ZelSetEventPump", R::Code, W::Nothing,
         [](Args& a) {
             ZelSetEventPump(a.text ? NoEvents : nullptr, a.text);
             ZelSetEventPump(nullptr, nullptr);
             return 0;
         }},
        {"ZelSetMessageBoxHandler", R::Code, W::Nothing,
         [](Args& a) {
             ZelSetMessageBoxHandler(nullptr, a.text);
             ZelSetMessageBoxHandler(QuietBox, nullptr);
             return 0;
         }},
        {"ZelConfigPath", R::Code, W::Nothing, [](Args&) { return ZelConfigPath() ? 0 : -99; }},
        {"InitController", R::Code, W::Nothing,
         [](Args& a) {
             const int n = a.number;
             return InitController(n, n, n, n, n, static_cast<unsigned>(n), static_cast<unsigned>(n));
         }},
        {"InitController(with a known type)", R::Code, W::Nothing,
         [](Args& a) {
             const int n = a.number;
             return InitController(ZEL_TYPE_DEFAULT, n, 1, 9600, n, static_cast<unsigned>(n), static_cast<unsigned>(n));
         }},
        {"OpenController", R::Code, W::Nothing, [](Args&) { return OpenController(); }},
        {"CloseController", R::Code, W::Nothing, [](Args&) { return CloseController(); }},
        {"ZelCommInfo", R::Code, W::Nothing, [](Args&) { return ZelCommInfo(); }},
        {"ZelCommTest", R::Code, W::Nothing, [](Args& a) { return ZelCommTest(a.number, a.number, a.number); }},
        {"ResetComm", R::Code, W::Nothing, [](Args&) { return ResetComm(); }},
        {"ExecuteCommand", R::Code, W::Up256, [](Args& a) { return ExecuteCommand(a.text, a.number, a.out[0]); }},
        {"ExecuteCommandEx", R::Code, W::UpToSize,
         [](Args& a) { return ExecuteCommandEx(a.text, a.number, a.out[0], a.size); }},
        {"GetReply", R::Code, W::Up256, [](Args& a) { return GetReply(a.out[0]); }},
        {"GetReplyEx", R::Code, W::UpToSize, [](Args& a) { return GetReplyEx(a.out[0], a.size); }},
        {"PreprocessReply", R::Code, W::Nothing, [](Args& a) { return PreprocessReply(a.number); }},
        {"SetDecimalSeparator", R::Code, W::Nothing, [](Args& a) { return SetDecimalSeparator(a.number); }},
        {"AbortCommand", R::Code, W::Nothing, [](Args&) { return AbortCommand(); }},
        {"QCValidate", R::Validation, W::Token64,
         [](Args& a) { return QCValidate(a.text, a.number, a.number, a.intOut[0], a.out[0], a.intOut[1]); }},
        {"QCValidateEx", R::Validation, W::UpToSize,
         [](Args& a) {
             return QCValidateEx(a.text, a.number, a.number, a.intOut[0], a.out[0], a.intOut[1], a.size);
         }},
        {"Identify", R::Code, W::Up256, [](Args& a) { return Identify(a.out[0]); }},
        {"IdentifyEx", R::Code, W::UpToSize, [](Args& a) { return IdentifyEx(a.out[0], a.size); }},
        {"GetStatus", R::Code, W::Nothing, [](Args& a) { return GetStatus(a.intOut[0]); }},
        {"GetError", R::Code, W::Nothing, [](Args& a) { return GetError(a.intOut[0]); }},
        {"SetAxisMode", R::Code, W::Nothing,
         [](Args& a) { return SetAxisMode(a.number, a.number, a.number, a.number); }},
        {"GetAxisMode", R::Code, W::Nothing,
         [](Args& a) { return GetAxisMode(a.intOut[0], a.intOut[1], a.intOut[2], a.intOut[3]); }},
        {"SetVelocity", R::Code, W::Nothing, [](Args& a) { return SetVelocity(a.text); }},
        {"GetVelocity", R::Code, W::Up256, [](Args& a) { return GetVelocity(a.out[0]); }},
        {"GetVelocityEx", R::Code, W::UpToSize, [](Args& a) { return GetVelocityEx(a.out[0], a.size); }},
        {"SetAcceleration", R::Code, W::Nothing, [](Args& a) { return SetAcceleration(a.text); }},
        {"GetAcceleration", R::Code, W::Up256, [](Args& a) { return GetAcceleration(a.out[0]); }},
        {"GetAccelerationEx", R::Code, W::UpToSize, [](Args& a) { return GetAccelerationEx(a.out[0], a.size); }},
        {"JoystickEnable", R::Code, W::Nothing, [](Args&) { return JoystickEnable(); }},
        {"JoystickDisable", R::Code, W::Nothing, [](Args&) { return JoystickDisable(); }},
        {"SetJoystickVelocity", R::Code, W::Nothing, [](Args& a) { return SetJoystickVelocity(a.text); }},
        {"GetJoystickVelocity", R::Code, W::Up256, [](Args& a) { return GetJoystickVelocity(a.out[0]); }},
        {"GetJoystickVelocityEx", R::Code, W::UpToSize,
         [](Args& a) { return GetJoystickVelocityEx(a.out[0], a.size); }},
        {"SetOrigin", R::Code, W::Nothing, [](Args&) { return SetOrigin(); }},
        {"MoveAbsolute", R::Code, W::Nothing, [](Args& a) { return MoveAbsolute(a.text, a.text, a.text, a.text); }},
        {"MoveRelative", R::Code, W::Nothing, [](Args& a) { return MoveRelative(a.text, a.text, a.text, a.text); }},
        {"MoveAbsoluteAutoReply", R::Code, W::Nothing,
         [](Args& a) { return MoveAbsoluteAutoReply(a.text, a.text, a.text, a.text); }},
        {"MoveRelativeAutoReply", R::Code, W::Nothing,
         [](Args& a) { return MoveRelativeAutoReply(a.text, a.text, a.text, a.text); }},
        {"GetPosAxis", R::Code, W::Up256, [](Args& a) { return GetPosAxis(a.number, a.out[0]); }},
        {"GetPosAxisEx", R::Code, W::UpToSize, [](Args& a) { return GetPosAxisEx(a.number, a.out[0], a.size); }},
        {"GetPos", R::Code, W::Up256, [](Args& a) { return GetPos(a.out[0], a.out[1], a.out[2], a.out[3]); }},
        {"GetPosEx", R::Code, W::UpToSize,
         [](Args& a) { return GetPosEx(a.out[0], a.out[1], a.out[2], a.out[3], a.size); }},
        {"ClearParameterStack", R::Code, W::Nothing, [](Args&) { return ClearParameterStack(); }},
        {"GetParamsOnStack", R::Code, W::Nothing, [](Args& a) { return GetParamsOnStack(a.intOut[0]); }},
        {"Calibrate", R::Code, W::Nothing, [](Args&) { return Calibrate(); }},
        {"RangeMeasure", R::Code, W::Nothing, [](Args&) { return RangeMeasure(); }},
        {"GetLimits", R::Code, W::Up256,
         [](Args& a) {
             return GetLimits(a.out[0], a.out[1], a.out[2], a.out[3], a.out[4], a.out[5], a.out[6], a.out[7]);
         }},
        {"GetLimitsEx", R::Code, W::UpToSize,
         [](Args& a) {
             return GetLimitsEx(a.out[0], a.out[1], a.out[2], a.out[3], a.out[4], a.out[5], a.out[6], a.out[7],
                                a.size);
         }},
        {"IdentifyA", R::Code, W::Up256, [](Args& a) { return IdentifyA(a.out[0], a.number); }},
        {"IdentifyAEx", R::Code, W::UpToSize, [](Args& a) { return IdentifyAEx(a.out[0], a.number, a.size); }},
        {"GetStatusA", R::Code, W::Nothing, [](Args& a) { return GetStatusA(a.intOut[0], a.number); }},
        {"GetErrorA", R::Code, W::Nothing, [](Args& a) { return GetErrorA(a.intOut[0], a.number); }},
        {"SetAxisModeA", R::Code, W::Nothing, [](Args& a) { return SetAxisModeA(a.number, a.number); }},
        {"GetAxisModeA", R::Code, W::Nothing, [](Args& a) { return GetAxisModeA(a.intOut[0], a.number); }},
        {"SetVelocityA", R::Code, W::Nothing, [](Args& a) { return SetVelocityA(a.text, a.number); }},
        {"GetVelocityA", R::Code, W::Up256, [](Args& a) { return GetVelocityA(a.out[0], a.number); }},
        {"GetVelocityAEx", R::Code, W::UpToSize,
         [](Args& a) { return GetVelocityAEx(a.out[0], a.number, a.size); }},
        {"SetAccelerationA", R::Code, W::Nothing, [](Args& a) { return SetAccelerationA(a.text, a.number); }},
        {"GetAccelerationA", R::Code, W::Up256, [](Args& a) { return GetAccelerationA(a.out[0], a.number); }},
        {"GetAccelerationAEx", R::Code, W::UpToSize,
         [](Args& a) { return GetAccelerationAEx(a.out[0], a.number, a.size); }},
        {"JoystickEnableA", R::Code, W::Nothing, [](Args& a) { return JoystickEnableA(a.number); }},
        {"JoystickDisableA", R::Code, W::Nothing, [](Args& a) { return JoystickDisableA(a.number); }},
        {"SetJoystickVelocityA", R::Code, W::Nothing,
         [](Args& a) { return SetJoystickVelocityA(a.text, a.number); }},
        {"GetJoystickVelocityA", R::Code, W::Up256,
         [](Args& a) { return GetJoystickVelocityA(a.out[0], a.number); }},
        {"GetJoystickVelocityAEx", R::Code, W::UpToSize,
         [](Args& a) { return GetJoystickVelocityAEx(a.out[0], a.number, a.size); }},
        {"SetOriginA", R::Code, W::Nothing, [](Args& a) { return SetOriginA(a.number); }},
        {"MoveAbsoluteA", R::Code, W::Nothing, [](Args& a) { return MoveAbsoluteA(a.text, a.number); }},
        {"MoveRelativeA", R::Code, W::Nothing, [](Args& a) { return MoveRelativeA(a.text, a.number); }},
        {"MoveAbsoluteAutoReplyA", R::Code, W::Nothing,
         [](Args& a) { return MoveAbsoluteAutoReplyA(a.text, a.number); }},
        {"MoveRelativeAutoReplyA", R::Code, W::Nothing,
         [](Args& a) { return MoveRelativeAutoReplyA(a.text, a.number); }},
        {"GetPosA", R::Code, W::Up256, [](Args& a) { return GetPosA(a.out[0], a.number); }},
        {"GetPosAEx", R::Code, W::UpToSize, [](Args& a) { return GetPosAEx(a.out[0], a.number, a.size); }},
        {"ClearParameterStackA", R::Code, W::Nothing, [](Args& a) { return ClearParameterStackA(a.number); }},
        {"GetParamsOnStackA", R::Code, W::Nothing, [](Args& a) { return GetParamsOnStackA(a.intOut[0], a.number); }},
        {"CalibrateA", R::Code, W::Nothing, [](Args& a) { return CalibrateA(a.number); }},
        {"RangeMeasureA", R::Code, W::Nothing, [](Args& a) { return RangeMeasureA(a.number); }},
        {"GetLimitsA", R::Code, W::Up256, [](Args& a) { return GetLimitsA(a.out[0], a.out[1], a.number); }},
        {"GetLimitsAEx", R::Code, W::UpToSize,
         [](Args& a) { return GetLimitsAEx(a.out[0], a.out[1], a.number, a.size); }},
    };
    return calls;
}

bool ValidationResult(int r) { return (r >= 1 && r <= 8) || r == 24 || r == 26; }

bool HeaderCode(int code) {
    return code == ZEL_OK || code == ZEL_ERR_TERMINATING || (code >= ZEL_ERR_NO_MEMORY && code <= ZEL_ERR_LINE_ERROR) ||
           (code > ZEL_ERR_VALIDATION && ValidationResult(code - ZEL_ERR_VALIDATION));
}

bool Acceptable(Returns kind, int value) {
    switch (kind) {
    case Returns::Code: return HeaderCode(value);
    case Returns::Validation: return ValidationResult(value);
    case Returns::Count: return value >= 0;
    case Returns::Descriptor: return value >= -1;
    }
    return false;
}

// The states a process reaches without a serial line.
enum class State { NoController, Initialised, DemoMultiAxis, DemoSingleAxis, AsyncReplyPending, LongReplies };

const char* Name(State s) {
    switch (s) {
    case State::NoController: return "NoController";
    case State::Initialised: return "Initialised";
    case State::DemoMultiAxis: return "DemoMultiAxis";
    case State::DemoSingleAxis: return "DemoSingleAxis";
    case State::AsyncReplyPending: return "AsyncReplyPending";
    case State::LongReplies: return "LongReplies";
    }
    return "?";
}

void PrintTo(State s, std::ostream* out) { *out << Name(s); }

// A line that answers every command at once with as many 600-character
// lines as the command expects, so that every text output has more to hand
// out than a caller's buffer holds.
class FloodingLine : public zeltest::FakeSerial {
public:
    using FakeSerial::FakeSerial;
    bool TransmitText(const std::string& text, int expectedLines, int& written) override {
        if (!FakeSerial::TransmitText(text, expectedLines, written)) return false;
        std::string reply;
        for (int i = 0; i < expectedLines; ++i) reply += std::string(600, '7') + "\r\n";
        if (!reply.empty()) Deliver(reply);
        return true;
    }
};

// What a call may change about the state; when it did, the state is set up
// again before the next call.
struct Snapshot {
    bool controller = false, connected = false, waiting = false;
    int axes = 0, type = 0, signalMode = 0, interfaceKind = 0;
    const void* serial = nullptr;
    bool operator==(const Snapshot& o) const {
        return controller == o.controller && connected == o.connected && waiting == o.waiting && axes == o.axes &&
               type == o.type && signalMode == o.signalMode && interfaceKind == o.interfaceKind &&
               serial == o.serial;
    }
};

Snapshot Take() {
    Snapshot s;
    const zel::TController* c = zel::Controller();
    if (!c) return s;
    s.controller = true;
    s.connected = c->bCConnected;
    s.waiting = c->bCWaitingForReply;
    s.axes = c->AxesCount();
    s.type = c->ucCType;
    s.signalMode = c->ucCSignalMode;
    s.interfaceKind = c->nCInterface;
    s.serial = c->pCSerial.get();
    return s;
}

class HostileInput : public LibraryFixture, public ::testing::WithParamInterface<State> {
protected:
    void SetUp() override {
        // A command table, so that ExecuteCommand with -1 lines validates.
        dir_.Write("QUBRACOM.DAT", zeltest::SampleTable());
        cwd_ = std::make_unique<zeltest::ScopedCurrentDirectory>(dir_.path());
        Load("[Startup]\nMode=DEMO\n");
        Enter();
    }
    void TearDown() override {
        Leave();
        ZelSetMessageBoxHandler(nullptr, nullptr);
        ZelSetEventPump(nullptr, nullptr);
        zel::demo::SetDemoErrorPending(false);
        LibraryFixture::TearDown();
        cwd_.reset();
    }

    // A fresh library in the state of the test.
    void Enter() {
        zel::KvCleanupDll();
        ASSERT_TRUE(zel::ZelLibraryAttach());
        // The protocol on for every line class, so that hostile texts go
        // through its formatting too; output flag 2 writes the lines nowhere.
        zel::KvDiagProtSetupFile(true,
                                 zel::kLogEnd | zel::kLogData | zel::kLogDefault16 | zel::kLogError |
                                     zel::kLogTrace | zel::kLogTickPrefix,
                                 2);
        ASSERT_TRUE(zel::ProtocolOn());
        zel::ResetMessageState();
        ZelSetMessageBoxHandler(QuietBox, nullptr);
        const State state = GetParam();
        if (state == State::NoController) {
            saved_ = std::move(zel::Interface().controller);
        } else if (state == State::DemoSingleAxis) {
            // Five axes, so that axis number 5 of the hostile set is valid.
            ASSERT_EQ(InitController(ZEL_TYPE_PRUSK, 5, 1, 9600, 0, 0, 0), 0);
            ASSERT_EQ(OpenController(), 0);
        } else if (state == State::AsyncReplyPending) {
            ASSERT_EQ(InitController(ZEL_TYPE_DEFAULT, 3, 1, 9600, 0, ZEL_MSG_DEFAULT, 0x100A04), 0);
            zel::TController& c = C();
            c.nCInterface = zel::kInterfaceSerial;
            zeltest::FakeSerial& line = zeltest::InstallFakeSerial(c);
            line.SetActive(true);
            c.bCConnected = true;
            char reply[256];
            ASSERT_EQ(ExecuteCommand("p", 1, reply), 0);
            ASSERT_TRUE(c.bCWaitingForReply);
        } else if (state == State::LongReplies) {
            ASSERT_EQ(InitController(ZEL_TYPE_DEFAULT, 3, 1, 9600, 0, 0, 0), 0);
            zel::TController& c = C();
            c.nCInterface = zel::kInterfaceSerial;
            auto line = std::make_unique<FloodingLine>(&c);
            line->SetActive(true);
            c.pCSerial = std::move(line);
            c.bCConnected = true;
        } else {
            ASSERT_EQ(InitController(ZEL_TYPE_DEFAULT, 3, 1, 9600, 0, 0, 0), 0);
            if (state == State::DemoMultiAxis) {
                ASSERT_EQ(OpenController(), 0);
            }
        }
        entered_ = Take();
    }
    void Leave() {
        if (saved_) zel::Interface().controller = std::move(saved_);
    }

    std::unique_ptr<zeltest::ScopedCurrentDirectory> cwd_;
    std::unique_ptr<zel::TController> saved_;
    Snapshot entered_;
    zel::VirtualClock clock_{5000};
    zel::ScopedClock scoped_{clock_};
};

TEST_P(HostileInput, EveryCallReturnsAHeaderCodeAndStaysInsideItsBuffers) {
    // Texts: null, empty, 10,000 characters (a number, and a command of many
    // words at a page end), and a short number at a page end.
    std::string longNumber = "0." + std::string(9997, '0') + "1";
    std::string manyWords;
    while (manyWords.size() < 10000) manyWords += "1 ";
    manyWords.resize(10000);
    PageEndText shortAtPageEnd("12.5"), longAtPageEnd(manyWords);
    std::vector<char> longText(longNumber.begin(), longNumber.end());
    longText.push_back('\0');
    char empty[1] = "";
    char* const texts[] = {nullptr, empty, longText.data(), shortAtPageEnd.data(), longAtPageEnd.data()};
    const char* const textNames[] = {"null", "empty", "10000 characters", "page end", "10000 at page end"};
    const int numbers[] = {0, -1, INT_MIN, INT_MAX, 5};
    const size_t sizes[] = {0, 1, 7, 256, kBufferSize};

    std::vector<std::vector<unsigned char>> buffers(kOutputs, std::vector<unsigned char>(kBufferSize));
    int ints[4] = {};
    std::vector<Args> sets;
    for (size_t t = 0; t < 5; ++t) {
        for (size_t n = 0; n < 5; ++n) {
            Args a{std::string(textNames[t]) + ", " + std::to_string(numbers[n]), texts[t], numbers[n], sizes[n], {},
                   {}};
            for (int k = 0; k < kOutputs; ++k) {
                // Null text: all outputs null; long text: only the first
                // given; page end, many words: every other one.
                const bool given = t == 1 || t == 3 || (t == 2 && k == 0) || (t == 4 && k % 2 == 0);
                a.out[k] = given ? reinterpret_cast<char*>(buffers[static_cast<size_t>(k)].data()) : nullptr;
                if (k < 4) a.intOut[k] = given ? &ints[k] : nullptr;
            }
            sets.push_back(a);
        }
    }

    int failures = 0;
    for (const Call& call : Calls()) {
        for (Args& a : sets) {
            for (auto& b : buffers) std::memset(b.data(), kCanary, b.size());
            std::memcpy(longText.data(), longNumber.c_str(), longNumber.size() + 1);
            shortAtPageEnd.Restore();
            longAtPageEnd.Restore();
            empty[0] = '\0';

            const int result = call.run(a);
            if (!Acceptable(call.returns, result) && ++failures <= 20)
                ADD_FAILURE() << call.name << " (" << a.name << ") in " << Name(GetParam()) << " returned "
                              << result;
            size_t limit = 0;
            switch (call.writes) {
            case Writes::Nothing: limit = 0; break;
            case Writes::Up256: limit = 256; break;
            case Writes::UpToSize: limit = a.size; break;
            case Writes::Token64: limit = 64; break;
            }
            for (int k = 0; k < kOutputs; ++k) {
                const auto& b = buffers[static_cast<size_t>(k)];
                for (size_t i = limit; i < b.size(); ++i) {
                    if (b[i] == kCanary) continue;
                    if (++failures <= 20)
                        ADD_FAILURE() << call.name << " (" << a.name << ") in " << Name(GetParam())
                                      << " wrote byte " << i << " of buffer " << k << " (limit " << limit << ")";
                    break;
                }
            }
            if (!(Take() == entered_)) {
                Leave();
                Enter();
                if (HasFatalFailure()) return;
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(States, HostileInput,
                         ::testing::Values(State::NoController, State::Initialised, State::DemoMultiAxis,
                                           State::DemoSingleAxis, State::AsyncReplyPending, State::LongReplies),
                         [](const ::testing::TestParamInfo<State>& info) { return std::string(Name(info.param)); });

// The table above holds every call the header exports.
TEST(HostileInputTable, CoversEveryExportedCall) {
    std::ifstream in(std::string(ZELCOMM_TEST_SOURCE_DIR) + "/../include/zelcomm/zelcomm.h");
    std::stringstream header;
    header << in.rdbuf();
    const std::string text = header.str();
    ASSERT_FALSE(text.empty());
    std::set<std::string> exported, covered;
    // Lines "ZELCOMM_API <type> Name(": the name is the word before the parenthesis.
    for (size_t at = text.find("ZELCOMM_API "); at != std::string::npos; at = text.find("ZELCOMM_API ", at + 1)) {
        if (at == 0 || text[at - 1] != '\n') continue;  // the macro's own definition
        size_t end = text.find('(', at);
        if (end == std::string::npos) break;
        size_t begin = end;
        while (begin > at && (std::isalnum(static_cast<unsigned char>(text[begin - 1])) || text[begin - 1] == '_'))
            --begin;
        exported.insert(text.substr(begin, end - begin));
    }
    for (const Call& call : Calls()) {
        std::string name = call.name;
        covered.insert(name.substr(0, name.find('(')));
    }
    EXPECT_GT(exported.size(), 80u);
    EXPECT_EQ(exported, covered);

}

// ---- A whole demo session ----------------------------------------------------

class DemoSession : public LibraryFixture {
protected:
    zel::VirtualClock clock_{5000};
    zel::ScopedClock scoped_{clock_};
};

TEST_F(DemoSession, LoadToUnloadLeavesNothingAllocated) {
    ZelSetMessageBoxHandler(QuietBox, nullptr);
    Load("[Startup]\nMode=DEMO\n");
    ASSERT_EQ(InitController(ZEL_TYPE_DEFAULT, 3, 1, 9600, 0x51, ZEL_MSG_DEFAULT, 0), 0);
    ASSERT_EQ(OpenController(), 0);
    char reply[256], pos[4][256], low[4][256], high[4][256];
    int status = -1;
    EXPECT_EQ(ExecuteCommand("identify", 1, reply), 0);
    EXPECT_EQ(SetVelocity("20"), 0);
    EXPECT_EQ(MoveAbsoluteAutoReply("10", "20,5", "-3", nullptr), 0);
    EXPECT_EQ(GetPos(pos[0], pos[1], pos[2], pos[3]), 0);
    EXPECT_EQ(GetLimits(low[0], high[0], low[1], high[1], low[2], high[2], low[3], high[3]), 0);
    EXPECT_EQ(Calibrate(), 0);
    EXPECT_EQ(GetStatus(&status), 0);
    EXPECT_EQ(CloseController(), 0);
    // Asynchronous replies to a window: posted messages are freed as well.
    EXPECT_EQ(ZelSetWindowProc(0x51, IgnoreMessage, nullptr), 0);
    EXPECT_EQ(InitController(ZEL_TYPE_PRUSK, 2, 1, 9600, 0x51, ZEL_MSG_DEFAULT, ZEL_WAIT_SIGNAL_ASYNC), 0);
    EXPECT_EQ(OpenController(), 0);
    EXPECT_EQ(ExecuteCommand("1 nversion", 1, nullptr), 0);
    EXPECT_GE(ZelDispatchMessages(), 1);
    EXPECT_EQ(CloseController(), 0);
    Unload();
    ZelSetWindowProc(0x51, nullptr, nullptr);
    ZelSetMessageBoxHandler(nullptr, nullptr);
}

}  // namespace
