// Demo mode: a simulated controller answers every transmission. This file
// holds the common frame (entry, connect string, word splitting, finishing a
// command with reply delivery, transfer-time sleep and the event-character
// handler), the helpers both command sets share, and the multi-axis command
// set with its straight-line motion model. The single-axis command set is in
// demo_single_axis.cpp.
//
// All simulated time goes through the library clock (TickCount, SleepMs), so
// a virtual clock runs moves and calibrations without waiting.
#include "engine/controller.h"
#include "engine/demo_simulator_internal.h"
#include "platform/zel_clock.h"
#include "support/protocol_log.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>

namespace zel {
namespace demo {

namespace {

std::atomic<bool> bDemoErrorPending{false};

bool IsSeparator(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

bool EndsWithCrLf(const std::string& text) {
    return text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n';
}

}  // namespace

bool DemoErrorPending() { return bDemoErrorPending.load(); }
void SetDemoErrorPending(bool pending) { bDemoErrorPending.store(pending); }
bool TakeDemoErrorPending() { return bDemoErrorPending.exchange(false); }

std::vector<std::string_view> SplitWords(std::string_view command) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < command.size()) {
        while (i < command.size() && IsSeparator(command[i])) ++i;
        const size_t start = i;
        while (i < command.size() && !IsSeparator(command[i])) ++i;
        if (i > start) words.push_back(command.substr(start, std::min(i - start, kMaxWordLength)));
    }
    return words;
}

double NumberValue(std::string_view word) {
    size_t i = 0;
    bool negative = false;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) negative = word[i++] == '-';
    const size_t start = i;
    size_t digits = 0;
    while (i < word.size() && IsDigit(word[i])) ++i, ++digits;
    if (i < word.size() && word[i] == '.') {
        ++i;
        while (i < word.size() && IsDigit(word[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (i < word.size() && (word[i] == 'e' || word[i] == 'E')) {
        size_t j = i + 1;
        if (j < word.size() && (word[j] == '+' || word[j] == '-')) ++j;
        size_t k = j;
        while (k < word.size() && IsDigit(word[k])) ++k;
        if (k > j) i = k;  // an exponent needs digits; "5e" reads as 5
    }
    // from_chars reads "." as the decimal point whatever the locale.
    double value = 0;
    const auto result = std::from_chars(word.data() + start, word.data() + i, value,
                                        std::chars_format::general);
    if (result.ec != std::errc() || !std::isfinite(value)) return 0;
    value = negative ? -value : value;
    return value == 0 ? 0.0 : value;  // no negative zero in replies
}

int IntegerValue(std::string_view word) {
    size_t i = 0;
    bool negative = false;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) negative = word[i++] == '-';
    long long value = 0;
    const long long limit = static_cast<long long>(INT_MAX) + 1;
    while (i < word.size() && IsDigit(word[i])) {
        value = std::min(limit, value * 10 + (word[i] - '0'));
        ++i;
    }
    if (negative) value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::string Fixed(double value, int decimals) {
    // Large enough for every finite double in fixed notation.
    char buffer[std::numeric_limits<double>::max_exponent10 + 40];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return std::string();
    return std::string(buffer, result.ptr);
}

double WholeDistance(double distance) { return std::trunc(std::fabs(distance)); }

uint32_t TravelTimeMs(double d, double a, double v) {
    const double ta = (a != 0) ? v / a : 0;
    const double sa = a * ta * ta * 0.5;  // distance needed to reach v
    double seconds;
    if (2 * sa >= d)
        seconds = 2 * std::sqrt(d / a);  // never reaches v
    else
        seconds = (d - 2 * sa) / v + 2 * ta;
    const double ms = std::fabs(seconds * 1000.0);
    // Velocity 0 leaves no finite time; such a move (and one beyond the
    // range of the tick count) completes without waiting.
    if (!(ms <= kMaxMotionMs)) return 0;
    return static_cast<uint32_t>(ms);
}

bool EndsWithPattern(std::string_view command, std::string_view pattern) {
    if (pattern.empty() || command.size() <= pattern.size()) return false;
    const size_t at = command.size() - pattern.size();
    if (command.substr(at) != pattern) return false;
    // A pattern that does not begin with a separator must begin a word:
    // "5 11 nm 0 1 nr 1 nst" does not end with the pattern of axis 1.
    return IsSeparator(pattern.front()) || IsSeparator(command[at - 1]);
}

void LogCalibrating() {
    KvGProtLog("[TController::KvCProcessDemoCommand(), calibrating]\r\n", kLogTrace);
}

void LogRangeMeasuring() {
    KvGProtLog("[TController::KvCProcessDemoCommand(), range measuring]\r\n", kLogTrace);
}

namespace {

// Appends one item of a list reply (one axis) when the whole reply, with the
// CR LF the finish adds, still fits the reply limit. Lists are cut after the
// last whole item rather than inside a number.
bool AppendItem(std::string& reply, const std::string& item) {
    const size_t length = reply.size() + item.size();
    const size_t finalLength = length + (EndsWithCrLf(item) ? 0 : 2);
    if (finalLength > kMaxReplyLength) return false;
    reply += item;
    return true;
}

// Bytes per second of the controller's baud rate; a code outside the table
// counts as 9600 baud, the default, so the transfer time stays finite.
uint32_t BytesPerSecond(uint8_t baudCode) {
    int baud = BaudRateOfCode(baudCode);
    if (baud <= 0) baud = 9600;
    return static_cast<uint32_t>(baud) / 8u;
}

// Milliseconds to transfer `characters` at `bytesPerSecond`, saturated
// instead of wrapping for absurdly long texts.
uint32_t TransferMs(size_t characters, uint32_t bytesPerSecond) {
    const unsigned long long ms =
        static_cast<unsigned long long>(characters) * 1000ull / bytesPerSecond;
    return static_cast<uint32_t>(std::min<unsigned long long>(ms, UINT32_MAX - 20u));
}

// Entry line. No log form takes (int, text, int), so the line is formatted
// here, with the command cut like the text of the int-int-text form.
void LogEntry(int number, const std::string& command, int expectedReplyLines) {
    if (!ProtocolOn() || (ProtocolMask() & kLogTrace) == 0) return;
    constexpr size_t kCut = 460;
    std::string shown = command.size() > kCut ? command.substr(0, kCut - 1) + "#" : command;
    const std::string line = "[TController" + std::to_string(number) + "::KvCProcessDemoCommand(" + shown +
                             "," + std::to_string(expectedReplyLines) + ")]\r\n";
    KvGProtLog(line.c_str(), kLogTrace);
}

// ---- Multi-axis motion ---------------------------------------------------

// Advances the move in progress to `now`; true while any axis still moves.
// All axes of a move share one start tick; every axis is recomputed.
bool MultiAxisMotionUpdate(TController& c, uint32_t now) {
    const TAxis* first = nullptr;
    for (const auto& axis : c.pCAxes) {
        if (axis->bAMoving) {
            first = axis.get();
            break;
        }
    }
    if (!first) return false;
    const double t = static_cast<uint32_t>(now - first->dwAStartTick) / 1000.0;
    bool anyMoving = false;
    for (auto& axis : c.pCAxes) {
        axis->dAPos = axis->dAStartPos + axis->dASignedVelocity * t;
        const double v = axis->dASignedVelocity;
        if ((v > 0 && axis->dAPos >= axis->dATargetPos) || (v <= 0 && axis->dAPos <= axis->dATargetPos)) {
            axis->dAPos = axis->dATargetPos;
            axis->bAMoving = false;
        }
        anyMoving = anyMoving || axis->bAMoving;
    }
    return anyMoving;
}

// Targets of "m"/"r" and of the moves with automatic reply: word k for axis
// k; a word the command does not have counts as 0. False when a target
// overflows the range of a double (the move is refused).
bool MoveTargets(const TController& c, const std::vector<std::string_view>& words, bool relative,
                 std::vector<double>& targets) {
    targets.resize(c.pCAxes.size());
    for (size_t k = 0; k < c.pCAxes.size(); ++k) {
        const double value = NumberValue(Word(words, k + 1));
        targets[k] = relative ? c.pCAxes[k]->dAPos + value : value;
        if (!std::isfinite(targets[k])) return false;
    }
    return true;
}

// "m"/"move", "r"/"rmove": a straight-line move of all axes that start and
// arrive together, at the controller velocity along the longest whole
// distance D.
void StartMultiAxisMove(TController& c, const std::vector<std::string_view>& words, bool relative,
                        uint32_t now) {
    std::vector<double> targets;
    if (!MoveTargets(c, words, relative, targets)) return;
    double longest = 0;
    for (size_t k = 0; k < c.pCAxes.size(); ++k) {
        TAxis& axis = *c.pCAxes[k];
        axis.dAStartPos = axis.dAPos;
        axis.dwAStartTick = now;
        axis.dATargetPos = targets[k];
        longest = std::max(longest, WholeDistance(axis.dATargetPos - axis.dAStartPos));
    }
    if (longest == 0) return;
    const double v = c.dCDemoVelocity;
    const double durationMs = longest / v * 1000.0;
    if (!(v > 0) || !(durationMs <= kMaxMotionMs)) {
        // Without a positive velocity (or beyond the tick range) the move
        // would never end: the axes arrive at once.
        for (auto& axis : c.pCAxes) {
            axis->dASignedVelocity = 0;
            axis->dAPos = axis->dATargetPos;
            axis->bAMoving = false;
        }
        return;
    }
    for (auto& axis : c.pCAxes) {
        axis->dASignedVelocity = (axis->dATargetPos - axis->dAStartPos) * v / longest;
        axis->bAMoving = true;
    }
}

// A move with automatic reply ("10 20 m 0 0 r st"): completed before the
// status is given. The travel time uses the controller acceleration and
// velocity; velocity 0 completes at once.
void CompleteMultiAxisMove(TController& c, const std::vector<std::string_view>& words, bool relative,
                           bool& moving) {
    std::vector<double> targets;
    if (!MoveTargets(c, words, relative, targets)) return;
    double longest = 0;
    for (size_t k = 0; k < c.pCAxes.size(); ++k) {
        TAxis& axis = *c.pCAxes[k];
        axis.dAStartPos = axis.dAPos;
        axis.dATargetPos = targets[k];
        longest = std::max(longest, WholeDistance(axis.dATargetPos - axis.dAStartPos));
    }
    if (longest == 0) return;
    const uint32_t ms = TravelTimeMs(longest, c.dCDemoAcceleration, c.dCDemoVelocity);
    if (ms != 0) SleepMs(ms);
    for (auto& axis : c.pCAxes) {
        axis->dAPos = axis->dATargetPos;
        axis->bAMoving = false;
    }
    c.nCDemoStatus = 0;
    moving = false;
}

void TryMultiAxisAutoReply(TController& c, std::string_view command,
                           const std::vector<std::string_view>& words, bool& moving) {
    std::string pattern = " m";
    for (size_t k = 0; k < c.pCAxes.size(); ++k) pattern += " 0";
    pattern += " r st\r\n";
    if (command.size() <= pattern.size()) return;
    if (EndsWithPattern(command, pattern)) CompleteMultiAxisMove(c, words, false, moving);
    pattern[1] = 'r';
    if (EndsWithPattern(command, pattern)) CompleteMultiAxisMove(c, words, true, moving);
}

void Calibrate(TController& c, Outcome& out) {
    for (auto& axis : c.pCAxes) axis->dAPos = 0;
    out.fixedWait = true;
    LogCalibrating();
}

void RangeMeasure(TController& c, Outcome& out) {
    for (size_t k = 0; k < c.pCAxes.size(); ++k) c.pCAxes[k]->dAPos = 100.0 * static_cast<double>(k);
    out.fixedWait = true;
    LogRangeMeasuring();
}

// Axis record for an axis number given in a command; null outside 1..N.
TAxis* AxisByNumber(TController& c, int number) {
    if (number < 1 || number > c.AxesCount()) return nullptr;
    return c.pCAxes[static_cast<size_t>(number) - 1].get();
}

Outcome ProcessMultiAxisCommand(TController& c, std::string_view command,
                                const std::vector<std::string_view>& words, uint32_t now) {
    Outcome out;
    bool moving = MultiAxisMotionUpdate(c, now);
    const size_t n = words.size();
    const std::string_view cmd = words.back();
    const std::string_view word1 = Word(words, 1);

    if (cmd == "cal" || cmd == "calibrate") {
        Calibrate(c, out);
    } else if (cmd == "clear") {
        c.nCDemoStackCount = 0;
    } else if (cmd == "ga" || cmd == "getaccel") {
        out.reply = Fixed(c.dCDemoAcceleration, 5);
    } else if (cmd == "getaxis") {
        const int number = IntegerValue(word1);
        if (number == -1) {
            for (const auto& axis : c.pCAxes)
                if (!AppendItem(out.reply, " " + std::to_string(axis->ucAMode))) break;
        } else if (const TAxis* axis = AxisByNumber(c, number)) {
            out.reply = std::to_string(axis->ucAMode);
        }
    } else if (cmd == "ge" || cmd == "geterror") {
        out.reply = TakeDemoErrorPending() ? std::string("2000") : std::to_string(c.nCLastError.load());
    } else if (cmd == "getlimit") {
        for (const auto& axis : c.pCAxes)
            if (!AppendItem(out.reply, " " + Fixed(axis->dALowLimit, 5) + " " + Fixed(axis->dAHighLimit, 5) + "\r\n")) break;
    } else if (cmd == "getjoyspeed") {
        out.reply = Fixed(c.dCDemoJoystickSpeed, 5);
    } else if (cmd == "gv" || cmd == "getvel") {
        out.reply = Fixed(c.dCDemoVelocity, 5);
    } else if (cmd == "gsp") {
        out.reply = std::to_string(c.nCDemoStackCount);
    } else if (cmd == "identify") {
        out.reply = "Controller in demo mode";
    } else if (cmd == "j") {
        if (IntegerValue(word1) != 0)
            c.nCDemoStatus |= 2;
        else
            c.nCDemoStatus &= ~2;
    } else if (cmd == "m" || cmd == "move") {
        StartMultiAxisMove(c, words, false, now);
    } else if (cmd == "p" || cmd == "pos") {
        if (n == 2 && word1 == "st") out.reply = moving ? "1\r\n" : "0\r\n";
        for (const auto& axis : c.pCAxes)
            if (!AppendItem(out.reply, " " + Fixed(axis->dAPos, 5))) break;
    } else if (cmd == "rm" || cmd == "rangemeasure") {
        RangeMeasure(c, out);
    } else if (cmd == "r" || cmd == "rmove") {
        StartMultiAxisMove(c, words, true, now);
    } else if (cmd == "sa" || cmd == "setaccel") {
        c.dCDemoAcceleration = NumberValue(word1);
    } else if (cmd == "setaxis") {
        if (n == 3) {
            if (TAxis* axis = AxisByNumber(c, IntegerValue(Word(words, 2))))
                axis->ucAMode = static_cast<int8_t>(IntegerValue(word1));
        }
    } else if (cmd == "js" || cmd == "joyspeed") {
        c.dCDemoJoystickSpeed = NumberValue(word1);
    } else if (cmd == "setpos") {
        for (size_t k = 0; k < c.pCAxes.size(); ++k) c.pCAxes[k]->dAPos = NumberValue(Word(words, k + 1));
    } else if (cmd == "sv" || cmd == "setvel") {
        c.dCDemoVelocity = NumberValue(word1);
    } else if (cmd == "st" || cmd == "status") {
        if (n == 2 && (word1 == "cal" || word1 == "calibrate"))
            Calibrate(c, out);
        else if (n == 2 && (word1 == "rm" || word1 == "rangemeasure"))
            RangeMeasure(c, out);
        else if (n > 2)
            TryMultiAxisAutoReply(c, command, words, moving);
        out.reply = std::to_string(c.nCDemoStatus | (moving ? 1 : 0));
    } else if (cmd == "version") {
        out.reply = Fixed(c.dCVersion, 2);
    } else {
        out.recognised = false;
    }
    return out;
}

}  // namespace
}  // namespace demo

bool TController::KvCProcessDemoCommand(const std::string& command, int expectedReplyLines, uint8_t) {
    demo::LogEntry(nCNumber, command, expectedReplyLines);
    if (nCInterface != kInterfaceDemo) return false;
    const uint32_t bytesPerSecond = demo::BytesPerSecond(ucCBaudCode);

    // The connect string of the multi-axis command set is answered as a
    // whole, before the command is split into words.
    if (!SingleAxisCommands() && command == sCConnectString) {
        size_t replyLength;
        {
            std::lock_guard<std::mutex> lock(mCReplyLock);
            sCReply = sCConnectReply.substr(0, demo::kMaxReplyLength);
            replyLength = sCReply.size();
        }
        bCReplyComplete = true;
        SleepMs(demo::TransferMs(command.size() + replyLength, bytesPerSecond));
        KvCOnEventChar();
        return true;
    }

    const std::vector<std::string_view> words = demo::SplitWords(command);
    if (words.empty()) return false;
    const uint32_t now = TickCount();

    demo::Outcome out = SingleAxisCommands()
                            ? demo::ProcessSingleAxisCommand(*this, command, words, now)
                            : demo::ProcessMultiAxisCommand(*this, command, words, now);

    // Finish: deliver the reply, wait for the transfer (or the fixed wait),
    // then let reply scanning complete it as the serial event thread would.
    if (!SingleAxisCommands() && !out.recognised) demo::SetDemoErrorPending(true);
    KvGProtLog("[TController::KvCProcessDemoCommand(), Reply: %s]\r\n", out.reply.c_str(), kLogTrace);
    size_t replyLength;
    {
        std::lock_guard<std::mutex> lock(mCReplyLock);
        if (!out.reply.empty()) {
            if (!demo::EndsWithCrLf(out.reply)) out.reply += "\r\n";
            if (out.reply.size() > demo::kMaxReplyLength) {
                // Only a single value of absurd size gets here; lists are cut
                // after their last whole item while they are built.
                out.reply.resize(demo::kMaxReplyLength - 2);
                out.reply += "\r\n";
            }
            sCReply = out.reply;
        }
        replyLength = sCReply.size();
    }
    const uint32_t wait = out.fixedWait ? demo::kFixedWaitMs
                                        : demo::TransferMs(command.size() + replyLength, bytesPerSecond) + 20u;
    SleepMs(wait);
    KvCOnEventChar();
    KvGProtLog("[TController%d::KvCProcessDemoCommand() done]\r\n", nCNumber, kLogTrace);
    return true;
}

}  // namespace zel
