// Helpers shared by the two command sets of the demo-mode simulator
// (demo_simulator.cpp, demo_single_axis.cpp). Not part of the public
// interface; tests include it to reset the library-wide error flag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

class TController;

namespace demo {

// Longest word the simulator reads; a longer run of characters is cut to
// this length (the rest of the run is dropped, it does not start a new word).
constexpr size_t kMaxWordLength = 255;
// Longest reply the simulator hands over, its final CR LF included.
constexpr size_t kMaxReplyLength = 255;
// Fixed wait of calibration and range measuring, in milliseconds.
constexpr uint32_t kFixedWaitMs = 4000;
// Longest simulated motion: half the range of the 32-bit tick count, so
// that the elapsed time of a move can always be measured. A move that would
// take longer (or has no finite duration at all) completes at once.
constexpr double kMaxMotionMs = 2147483647.0;

// The words of a command: maximal runs of characters other than blank, tab,
// CR and LF, each cut to kMaxWordLength. The views point into `command`.
std::vector<std::string_view> SplitWords(std::string_view command);

// Word k (counted from 1) or an empty view when the command has fewer words.
inline std::string_view Word(const std::vector<std::string_view>& words, size_t k) {
    return (k >= 1 && k <= words.size()) ? words[k - 1] : std::string_view();
}

// Leading decimal number of a word, "." as decimal point, independent of
// the process locale: optional sign, digits with an optional fraction, an
// optional exponent. 0 when the word does not begin with a number, and for
// a value beyond the range of a double.
double NumberValue(std::string_view word);
// Leading signed decimal integer of a word; 0 when there is none. Values
// beyond the range of an int are clamped to it.
int IntegerValue(std::string_view word);

// A number with a fixed count of decimals and "." as decimal point, as
// "%.*f" gives it in the C locale, whatever the process locale is.
std::string Fixed(double value, int decimals);

// Absolute value of a distance truncated toward zero to a whole number
// (kept as a double: distances may exceed every integer type).
double WholeDistance(double distance);

// Travel time in milliseconds of a move over the whole distance d with
// acceleration a and velocity v, accelerating and braking: |T| truncated
// toward zero. A time that is not finite (velocity 0) or longer than
// kMaxMotionMs gives 0: such a move completes without waiting.
uint32_t TravelTimeMs(double d, double a, double v);

// True when `command` ends with `pattern` and holds at least one character
// more, which separates the pattern from the word before it.
bool EndsWithPattern(std::string_view command, std::string_view pattern);

// What the word handling of a command hands to the finish.
struct Outcome {
    std::string reply;           // reply text, without its final CR LF
    bool fixedWait = false;      // calibration or range measuring ran
    bool recognised = true;      // the command word was one of the set's words
};

// Library-wide flag: an unrecognised multi-axis word was received and the
// next error query answers 2000. Shared by all controller objects.
bool DemoErrorPending();
void SetDemoErrorPending(bool pending);
// Reads and clears the flag in one step.
bool TakeDemoErrorPending();

// Word handling of the single-axis command set (demo_single_axis.cpp).
Outcome ProcessSingleAxisCommand(TController& c, std::string_view command,
                                 const std::vector<std::string_view>& words, uint32_t now);

// Log lines shared by both command sets.
void LogCalibrating();
void LogRangeMeasuring();

}  // namespace demo
}  // namespace zel
