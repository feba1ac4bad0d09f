#include "walkthrough.h"

#include "support.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>

namespace zelcmd {

namespace {

constexpr size_t kBufferSize = 256;

// The texts each move passes, by axes count 1..4; axes without a text get a
// null pointer.
struct MoveTable {
    const char* call;
    const char* texts[4][4];
};

const MoveTable kMoveAbsolute = {
    "MoveAbsolute", {{"10"}, {"10", "20"}, {"10", "20", "0"}, {"10", "20", "30", "0"}}};
const MoveTable kMoveRelative = {
    "MoveRelative", {{"-5"}, {"-5", "-10"}, {"-5", "-10", "0"}, {"-5", "-10", "-15", "0"}}};
const MoveTable kMoveAbsoluteAutoReply = {
    "MoveAbsoluteAutoReply", {{"15"}, {"15", "20"}, {"15", "20", "0"}, {"15", "20", "25", "0"}}};
const MoveTable kMoveRelativeAutoReply = {
    "MoveRelativeAutoReply", {{"-5"}, {"-5", "-10"}, {"-5", "-10", "0"}, {"-5", "-10", "-15", "0"}}};

using MoveCall = int (*)(const char*, const char*, const char*, const char*);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

class Walk {
public:
    Walk(const Settings& settings, MessageWindow& window, const WalkthroughOptions& options)
        : settings_(settings), window_(window), options_(options) {}

    bool AllAxes();
    bool OneAxis(int axis);
    // The exit status of the failure that stopped the routine.
    int Status() const { return status_; }

private:
    void Line(const std::string& text) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }
    // True for a result of 0; otherwise reports the failed call.
    bool Ok(const std::string& call, int result) {
        if (result == ZEL_OK) return true;
        status_ = ReportFailure(call, result);
        return false;
    }
    // "Processing <call> ...", the call, then "Done".
    template <typename F>
    bool Step(const std::string& shown, const char* call, F&& run) {
        Line("Processing " + shown + " ...");
        if (!Ok(call, run())) return false;
        Line("Done");
        return true;
    }
    bool Move(const MoveTable& table, MoveCall call);
    bool ReadPositions();
    bool ReadPosition(int axis);
    // Repeats read and GetStatus until the status allows, at most
    // options_.standstillSeconds long; `axis` 0 means all axes.
    bool WaitForStandstill(int axis);
    bool AsynchronousCheck(int axis);
    int Axes4() const { return std::clamp(settings_.axes, 1, 4); }

    const Settings& settings_;
    MessageWindow& window_;
    const WalkthroughOptions& options_;
    int status_ = 0;
    int value_[4] = {0, 0, 0, 0};
    char buffer_[8][kBufferSize] = {};
};

bool Walk::Move(const MoveTable& table, MoveCall call) {
    const char* const* texts = table.texts[Axes4() - 1];
    std::string list;
    for (int i = 0; i < 4 && texts[i]; ++i) list += (i ? "," : "") + std::string(texts[i]);
    Line(Format("Processing %s(%s) ...", table.call, list.c_str()));
    return Ok(table.call, call(texts[0], texts[1], texts[2], texts[3]));
}

bool Walk::ReadPositions() {
    for (int i = 0; i < 4; ++i) buffer_[i][0] = '\0';
    if (!Ok("GetPos", GetPosEx(buffer_[0], buffer_[1], buffer_[2], buffer_[3], kBufferSize))) return false;
    Line(Format("Pos. %s %s %s %s", buffer_[0], buffer_[1], buffer_[2], buffer_[3]));
    return true;
}

bool Walk::ReadPosition(int axis) {
    if (!Ok("GetPosA", GetPosAEx(buffer_[0], axis, kBufferSize))) return false;
    Line(Format("Pos. %s", buffer_[0]));
    return true;
}

bool Walk::WaitForStandstill(int axis) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(options_.standstillSeconds);
    for (;;) {
        if (axis == 0) {
            if (!ReadPositions() || !Ok("GetStatus", GetStatus(&value_[0]))) return false;
        } else {
            if (!ReadPosition(axis) || !Ok("GetStatusA", GetStatusA(&value_[0], axis))) return false;
        }
        const int moving = value_[0] & 3;
        if (moving == 0 || moving == 2) break;
        if (Clock::now() >= deadline) {
            std::fprintf(stderr, "zelcmd: no standstill within %d s (status %d)\n",
                         options_.standstillSeconds, value_[0]);
            status_ = 1;
            return false;
        }
    }
    Line("Done");
    return true;
}

bool Walk::AsynchronousCheck(int axis) {
    const Settings& s = settings_;
    int result = InitController(s.type, s.axes, s.port, s.baud, window_.Handle(), ZEL_MSG_DEFAULT,
                                kWaitModeAsync);
    if (!Ok(InitCallText(s, kWaitModeAsync), result)) return false;

    const int repliesBefore = window_.Replies();
    int query;
    if (axis == 0) {
        Line("Processing GetError in asynchronous mode ...");
        query = GetError(&value_[0]);
    } else {
        Line("Processing GetErrorA() in asynchronous mode ...");
        query = GetErrorA(&value_[0], axis);
    }

    result = InitController(s.type, s.axes, s.port, s.baud, window_.Handle(), ZEL_MSG_DEFAULT, s.waitMode);
    if (!Ok(InitCallText(s, s.waitMode), result)) return false;

    // The reply comes as a posted message; the window prints it.
    if (!Ok(axis == 0 ? "GetError in asynchronous mode" : "GetErrorA in asynchronous mode", query))
        return false;
    if (!window_.WaitForReplies(repliesBefore + 1, options_.asyncReplyMs)) {
        std::fprintf(stderr, "zelcmd: no reply in asynchronous mode within %d ms\n", options_.asyncReplyMs);
        status_ = 1;
        return false;
    }
    if (window_.LastReplyError() != ZEL_OK) {
        status_ = ExitStatusFor(window_.LastReplyError());
        return false;
    }
    return true;
}

bool Walk::AllAxes() {
    const bool varne = settings_.type == ZEL_TYPE_VARNE_PC;
    const int n = Axes4();
    char(&b)[8][kBufferSize] = buffer_;
    int* v = value_;
    std::fill(v, v + 4, 0);

    if (!Step("ClearParameterStack()", "ClearParameterStack", [] { return ClearParameterStack(); }))
        return false;
    if (!varne) {
        Line("Processing GetParamsOnStack() ...");
        if (!Ok("GetParamsOnStack", GetParamsOnStack(&v[0]))) return false;
        Line(Format("%d", v[0]));
    }
    Line("Processing Identify() ...");
    if (!Ok("Identify", IdentifyEx(b[0], kBufferSize))) return false;
    Line(b[0]);
    Line("Processing GetStatus() ...");
    if (!Ok("GetStatus", GetStatus(&v[0]))) return false;
    Line(Format("%d", v[0]));
    Line("Processing GetError() ...");
    if (!Ok("GetError", GetError(&v[0]))) return false;
    Line(Format("%d", v[0]));

    // Every axis but the last in mode 1; the last in mode 0, unless it is the only one.
    for (int i = 1; i <= 4; ++i) v[i - 1] = i < n ? 1 : (i == n && n == 1 ? 1 : 0);
    if (!Step(Format("SetAxisMode(%d,%d,%d,%d)", v[0], v[1], v[2], v[3]), "SetAxisMode",
              [v] { return SetAxisMode(v[0], v[1], v[2], v[3]); }))
        return false;
    Line("Processing GetAxisMode() ...");
    if (!Ok("GetAxisMode", GetAxisMode(&v[0], n > 1 ? &v[1] : nullptr, n > 2 ? &v[2] : nullptr,
                                       n > 3 ? &v[3] : nullptr)))
        return false;
    std::string modes;
    for (int i = 0; i < n; ++i) modes += (i ? " " : "") + std::to_string(v[i]);
    Line(modes);

    if (!Step("SetVelocity(25,00)", "SetVelocity", [] { return SetVelocity("25,00"); })) return false;
    Line("Processing GetVelocity() ...");
    if (!Ok("GetVelocity", GetVelocityEx(b[0], kBufferSize))) return false;
    Line(b[0]);
    if (!Step("SetAcceleration(10,00)", "SetAcceleration", [] { return SetAcceleration("10,00"); }))
        return false;
    Line("Processing GetAcceleration() ...");
    if (!Ok("GetAcceleration", GetAccelerationEx(b[0], kBufferSize))) return false;
    Line(b[0]);
    if (!varne) {
        if (!Step("JoystickEnable()", "JoystickEnable", [] { return JoystickEnable(); })) return false;
        if (!Step("JoystickDisable()", "JoystickDisable", [] { return JoystickDisable(); })) return false;
        if (!Step("SetJoystickVelocity(5,00)", "SetJoystickVelocity",
                  [] { return SetJoystickVelocity("5,00"); }))
            return false;
        Line("Processing GetJoystickVelocity() ...");
        if (!Ok("GetJoystickVelocity", GetJoystickVelocityEx(b[0], kBufferSize))) return false;
        Line(b[0]);
    }
    if (!Step("SetOrigin()", "SetOrigin", [] { return SetOrigin(); })) return false;

    if (!Move(kMoveAbsolute, &MoveAbsolute) || !WaitForStandstill(0) || !ReadPositions()) return false;
    if (!Move(kMoveRelative, &MoveRelative) || !WaitForStandstill(0) || !ReadPositions()) return false;
    if (!Move(kMoveAbsoluteAutoReply, &MoveAbsoluteAutoReply) || !ReadPositions()) return false;
    if (!Move(kMoveRelativeAutoReply, &MoveRelativeAutoReply) || !ReadPositions()) return false;

    Line("Processing GetPosAxis() ...");
    if (!Ok("GetPosAxis", GetPosAxisEx(1, b[0], kBufferSize))) return false;
    Line(b[0]);
    Line("Processing GetPos() ...");
    if (!ReadPositions()) return false;

    if (options_.calibrate) {
        if (!Step("Calibrate", "Calibrate", [] { return Calibrate(); })) return false;
        if (!Step("RangeMeasure", "RangeMeasure", [] { return RangeMeasure(); })) return false;
    }

    Line("Processing GetLimits() ...");
    for (auto& limit : b) limit[0] = '\0';
    if (!Ok("GetLimits", GetLimitsEx(b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], kBufferSize)))
        return false;
    for (int i = 1; i <= n; ++i) Line(Format("Axis%d: Min=%s | Max=%s", i, b[2 * i - 2], b[2 * i - 1]));

    return AsynchronousCheck(0);
}

bool Walk::OneAxis(int a) {
    char* b = buffer_[0];
    int* v = value_;

    Line("");
    Line(Format("Prusk test axis %d", a));
    std::this_thread::sleep_for(std::chrono::seconds(1));

    if (!Step("ClearParameterStackA()", "ClearParameterStackA", [a] { return ClearParameterStackA(a); }))
        return false;
    Line("Processing IdentifyA() ...");
    if (!Ok("IdentifyA", IdentifyAEx(b, a, kBufferSize))) return false;
    Line(b);
    Line("Processing GetStatusA() ...");
    if (!Ok("GetStatusA", GetStatusA(&v[0], a))) return false;
    Line(Format("%d", v[0]));
    Line("Processing GetErrorA() ...");
    if (!Ok("GetErrorA", GetErrorA(&v[0], a))) return false;
    Line(Format("%d", v[0]));
    if (!Step("SetAxisModeA(1,Axis)", "SetAxisModeA", [a] { return SetAxisModeA(1, a); })) return false;
    Line("Processing GetAxisModeA() ...");
    if (!Ok("GetAxisModeA", GetAxisModeA(&v[0], a))) return false;
    Line(Format("%d", v[0]));
    if (!Step("SetVelocityA(25,00)", "SetVelocityA", [a] { return SetVelocityA("25,00", a); })) return false;
    Line("Processing GetVelocityA() ...");
    if (!Ok("GetVelocityA", GetVelocityAEx(b, a, kBufferSize))) return false;
    Line(b);
    if (!Step("SetAccelerationA(10,00)", "SetAccelerationA", [a] { return SetAccelerationA("10,00", a); }))
        return false;
    Line("Processing GetAccelerationA() ...");
    if (!Ok("GetAccelerationA", GetAccelerationAEx(b, a, kBufferSize))) return false;
    Line(b);
    if (!Step("JoystickEnableA()", "JoystickEnableA", [a] { return JoystickEnableA(a); })) return false;
    if (!Step("JoystickDisableA()", "JoystickDisableA", [a] { return JoystickDisableA(a); })) return false;
    if (!Step("SetJoystickVelocityA(5,00)", "SetJoystickVelocityA",
              [a] { return SetJoystickVelocityA("5,00", a); }))
        return false;
    Line("Processing GetJoystickVelocityA() ...");
    if (!Ok("GetJoystickVelocityA", GetJoystickVelocityAEx(b, a, kBufferSize))) return false;
    Line(b);
    if (!Step("SetOriginA()", "SetOriginA", [a] { return SetOriginA(a); })) return false;

    Line("Processing MoveAbsoluteA(20) ...");
    if (!Ok("MoveAbsoluteA", MoveAbsoluteA("20", a)) || !WaitForStandstill(a) || !ReadPosition(a))
        return false;
    Line("Processing MoveRelativeA(-10) ...");
    if (!Ok("MoveRelativeA", MoveRelativeA("-10", a)) || !WaitForStandstill(a) || !ReadPosition(a))
        return false;
    Line("Processing MoveAbsoluteAutoReplyA(15) ...");
    if (!Ok("MoveAbsoluteAutoReplyA", MoveAbsoluteAutoReplyA("15", a)) || !ReadPosition(a)) return false;
    Line("Processing MoveRelativeAutoReplyA(-10) ...");
    if (!Ok("MoveRelativeAutoReplyA", MoveRelativeAutoReplyA("-10", a)) || !ReadPosition(a)) return false;
    Line("Processing GetPosA() ...");
    if (!Ok("GetPosA", GetPosAEx(b, a, kBufferSize))) return false;
    Line(b);

    if (options_.calibrate) {
        if (!Step("CalibrateA()", "CalibrateA", [a] { return CalibrateA(a); })) return false;
        if (!Step("RangeMeasureA()", "RangeMeasureA", [a] { return RangeMeasureA(a); })) return false;
    }
    return AsynchronousCheck(a);
}

}  // namespace

int RunWalkthrough(const Settings& settings, MessageWindow& window, const WalkthroughOptions& options) {
    Walk walk(settings, window, options);
    bool ok = true;
    if (!IsSingleAxisType(settings.type)) {
        ok = walk.AllAxes();
    } else if (options.axis > 0) {
        ok = walk.OneAxis(options.axis);
    } else {
        for (int axis = 1; ok && axis <= settings.axes; ++axis) ok = walk.OneAxis(axis);
    }
    if (ok) return 0;
    ResetComm();
    std::fprintf(stderr, "zelcmd: walk-through stopped\n");
    return walk.Status() != 0 ? walk.Status() : 1;
}

}  // namespace zelcmd
