// Demo mode, single-axis command set: "n" words that act on the axis whose
// number stands just before the word ("10 1 nm", "1 nst"). Each axis moves
// with its own velocity and acceleration along a triangular or trapezoidal
// profile. The frame around this (entry, finish, transfer time) is in
// demo_simulator.cpp.
#include "engine/controller.h"
#include "engine/demo_simulator_internal.h"
#include "platform/zel_clock.h"

#include <cmath>

namespace zel {
namespace demo {

namespace {

// Accelerated motion over the whole distance d: accelerate with a up to v,
// cruise, brake with a; a move too short to reach v accelerates to the
// middle and brakes at once (triangular profile).
class Profile {
public:
    Profile(double d, double a, double v) : a_(a), v_(v) {
        ta_ = (a != 0) ? v / a : 0;
        sa_ = a * ta_ * ta_ * 0.5;
        triangular_ = 2 * sa_ > d;
        if (triangular_) {
            saPeak_ = d * 0.5;
            taPeak_ = std::sqrt(2 * saPeak_ / a);
            vPeak_ = a * taPeak_;
            duration_ = 2 * std::sqrt(d / a);
        } else {
            duration_ = (d - 2 * sa_) / v + 2 * ta_;
            tc_ = duration_ - 2 * ta_;
        }
    }

    // Seconds the move takes.
    double Duration() const { return duration_; }

    // A profile that would not end (velocity 0), would end before it starts
    // or would outlast the tick count: the move completes at once.
    bool CompletesAtOnce() const { return !(duration_ > 0) || !(duration_ * 1000.0 <= kMaxMotionMs); }

    // Distance covered t seconds after the start, for t below Duration().
    double Displacement(double t) const {
        if (triangular_) {
            if (t <= taPeak_) return a_ * t * t * 0.5;
            const double u = t - taPeak_;
            return u * vPeak_ + saPeak_ - a_ * u * u * 0.5;
        }
        if (t <= ta_) return a_ * t * t * 0.5;
        if (t < duration_ - ta_) return (t - ta_) * v_ + sa_;
        const double u = t - ta_ - tc_;
        return sa_ + v_ * tc_ + v_ * u - a_ * u * u * 0.5;
    }

private:
    double a_, v_;
    double ta_ = 0, sa_ = 0;
    bool triangular_ = false;
    double saPeak_ = 0, taPeak_ = 0, vPeak_ = 0;
    double duration_ = 0, tc_ = 0;
};

// Advances the axis's move to `now`; true while it still moves. The timing
// follows the whole distance; at the end the axis stands exactly at its
// target, so a move with a fractional distance arrives too.
bool MotionUpdate(TAxis& axis, uint32_t now) {
    if (!axis.bAMoving) return false;
    const double t = static_cast<uint32_t>(now - axis.dwAStartTick) / 1000.0;
    const Profile profile(WholeDistance(axis.dATargetPos - axis.dAStartPos), axis.dAAcceleration,
                          axis.dAVelocity);
    if (profile.CompletesAtOnce() || t >= profile.Duration()) {
        axis.dAPos = axis.dATargetPos;
        axis.bAMoving = false;
        return false;
    }
    double s = profile.Displacement(t);
    if (axis.dASignedVelocity < 0) s = -s;
    axis.dAPos = axis.dAStartPos + s;
    const double v = axis.dASignedVelocity;
    if ((v > 0 && axis.dAPos >= axis.dATargetPos) || (v <= 0 && axis.dAPos <= axis.dATargetPos)) {
        axis.dAPos = axis.dATargetPos;
        axis.bAMoving = false;
    }
    return axis.bAMoving;
}

// "nm", "nr": starts a move of the axis to `target`.
void StartMove(TAxis& axis, double target, uint32_t now) {
    if (!std::isfinite(target)) return;  // overflowing relative move: refused
    axis.dAStartPos = axis.dAPos;
    axis.dwAStartTick = now;
    axis.dATargetPos = target;
    if (axis.dATargetPos == axis.dAStartPos) return;
    axis.dASignedVelocity = (axis.dATargetPos > axis.dAStartPos) ? axis.dAVelocity : -axis.dAVelocity;
    const Profile profile(WholeDistance(axis.dATargetPos - axis.dAStartPos), axis.dAAcceleration,
                          axis.dAVelocity);
    if (profile.CompletesAtOnce()) {
        axis.dAPos = axis.dATargetPos;
        axis.bAMoving = false;
        return;
    }
    axis.bAMoving = true;
}

// A move with automatic reply: waits the travel time, then the axis stands
// at its target. Any non-zero distance arrives, even one shorter than the
// travel-time resolution. The moving flag and start tick stay as they are.
void CompleteMove(TAxis& axis, double target, bool& moving) {
    const double distance = target - axis.dAPos;
    if (!std::isfinite(target) || !std::isfinite(distance) || distance == 0) return;
    const uint32_t ms = TravelTimeMs(WholeDistance(distance), axis.dAAcceleration, axis.dAVelocity);
    if (ms != 0) SleepMs(ms);
    axis.dAPos = target;
    axis.nAStatus = 0;
    moving = false;
}

void TryAutoReply(TAxis& axis, int number, std::string_view command,
                  const std::vector<std::string_view>& words, bool& moving) {
    const std::string k = std::to_string(number);
    const std::string absolute = k + " nm 0 " + k + " nr " + k + " nst\r\n";
    const std::string relative = k + " nr 0 " + k + " nr " + k + " nst\r\n";
    if (command.size() <= absolute.size()) return;
    const double value = NumberValue(Word(words, 1));
    if (EndsWithPattern(command, absolute)) CompleteMove(axis, value, moving);
    if (EndsWithPattern(command, relative)) CompleteMove(axis, axis.dAPos + value, moving);
}

void Calibrate(TAxis& axis, Outcome& out) {
    axis.dAPos = 0;
    out.fixedWait = true;
    LogCalibrating();
}

void RangeMeasure(TAxis& axis, int number, Outcome& out) {
    axis.dAPos = 100.0 * number;
    out.fixedWait = true;
    LogRangeMeasuring();
}

// Copy of text without its trailing CR, LF and blanks.
std::string TrimRight(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

Outcome ProcessSingleAxisCommand(TController& c, std::string_view command,
                                 const std::vector<std::string_view>& words, uint32_t now) {
    Outcome out;
    const size_t n = words.size();
    const std::string_view cmd = words.back();

    // The axis number stands just before the command word; missing or below
    // 1 it is axis 1. No axis of a higher number exists: nothing answers and
    // nothing changes, as on a line without that controller.
    int number = (n >= 2) ? IntegerValue(words[n - 2]) : 1;
    if (number < 1) number = 1;
    if (number > c.AxesCount()) {
        out.recognised = false;
        return out;
    }
    TAxis& axis = *c.pCAxes[static_cast<size_t>(number) - 1];
    bool moving = MotionUpdate(axis, now);

    if (command == TController::KvCExpandAxisNumber(c.sCConnectString, number - 1)) {
        out.reply = TrimRight(c.sCConnectReply);
        return out;
    }

    const std::string_view word1 = Word(words, 1);
    const std::string_view word2 = Word(words, 2);
    if (cmd == "gna" || cmd == "getnaccel") {
        out.reply = Fixed(axis.dAAcceleration, 6);
    } else if (cmd == "getaxis") {
        out.reply = std::to_string(axis.ucAMode);
    } else if (cmd == "gne" || cmd == "getnerror") {
        out.reply = TakeDemoErrorPending() ? std::string("2000") : std::to_string(c.nCLastError.load());
    } else if (cmd == "getnjoyspeed") {
        out.reply = Fixed(axis.dAJoystickSpeed, 6);
    } else if (cmd == "getnlimit") {
        out.reply = Fixed(axis.dALowLimit, 6) + " " + Fixed(axis.dAHighLimit, 6);
    } else if (cmd == "gnv" || cmd == "getnvel") {
        out.reply = Fixed(axis.dAVelocity, 6);
    } else if (cmd == "gnsp") {
        out.reply = std::to_string(axis.nAStackCount);
    } else if (cmd == "ncal" || cmd == "ncalibrate") {
        Calibrate(axis, out);
    } else if (cmd == "nclear") {
        axis.nAStackCount = 0;
    } else if (cmd == "nidentify") {
        out.reply = "Demo mode Prusk 0 0 0 0";
    } else if (cmd == "nj") {
        if (IntegerValue(word1) != 0)
            axis.nAStatus |= 2;
        else
            axis.nAStatus &= ~2;
    } else if (cmd == "nm" || cmd == "nmove") {
        StartMove(axis, NumberValue(word1), now);
    } else if (cmd == "np" || cmd == "npos") {
        if (n == 4 && word2 == "nst") out.reply = moving ? "1\r\n" : "0\r\n";
        out.reply += " " + Fixed(axis.dAPos, 6);
    } else if (cmd == "nrm" || cmd == "nrangemeasure") {
        RangeMeasure(axis, number, out);
    } else if ((cmd == "nr" || cmd == "nrmove") && n >= 3) {
        StartMove(axis, axis.dAPos + NumberValue(words[n - 3]), now);
    } else if (cmd == "nst" || cmd == "nstatus") {
        if (n == 4 && (word2 == "ncal" || word2 == "ncalibrate"))
            Calibrate(axis, out);
        else if (n == 4 && (word2 == "nrm" || word2 == "nrangemeasure"))
            RangeMeasure(axis, number, out);
        else if (n > 4)
            TryAutoReply(axis, number, command, words, moving);
        out.reply = std::to_string(axis.nAStatus | (moving ? 1 : 0));
    } else if (cmd == "nversion") {
        out.reply = Fixed(c.dCVersion, 2);
    } else if (cmd == "sna" || cmd == "setnaccel") {
        axis.dAAcceleration = NumberValue(word1);
    } else if (cmd == "setaxis") {
        axis.ucAMode = static_cast<int8_t>(IntegerValue(word1));
    } else if (cmd == "njs" || cmd == "setnjoyspeed") {
        axis.dAJoystickSpeed = NumberValue(word1);
    } else if (cmd == "setnpos") {
        axis.dAPos = 0;
    } else if (cmd == "snv" || cmd == "setnvel") {
        axis.dAVelocity = NumberValue(word1);
    } else {
        out.recognised = false;  // no reply, and no demo error in this set
    }
    return out;
}

}  // namespace demo
}  // namespace zel
