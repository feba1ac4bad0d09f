// What the typed axis and motion calls share: number texts taken from the
// caller, the bounded command line, sending through ExecuteCommand, integer
// replies, and the formatting of the positions and limits handed out.
#pragma once

#include "interface/library_frame.h"

#include <zelcomm/zelcomm.h>

#include <cstddef>
#include <exception>
#include <new>
#include <string>

namespace zel {

// Text outputs without a length argument receive at most this many bytes.
constexpr size_t kTextOutSize = 256;

// Runs the body of an exported call; no exception leaves it. Out of memory
// gives 2, any other exception `fallback`.
template <typename F>
int GuardedCall(int fallback, F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ZEL_ERR_NO_MEMORY;
    } catch (...) {
        return fallback;
    }
}

// A caller's buffer of `size` bytes: null when it cannot hold anything.
inline char* OutBuffer(char* buffer, size_t size) { return size == 0 ? nullptr : buffer; }

// True when the controller reports replies by message (signal mode 4): the
// typed calls then return right after sending.
bool AsyncSignalMode();

// A number text from a caller: present and, with '.', ',' and the user
// separator taken as decimal separator, one floating-point number. The
// value is stored in `value` when given.
bool NumberTextValid(const char* text, double* value = nullptr);

// Sends `command` with ExecuteCommand. The command is first formatted into
// the library's command buffer; a command that does not fit is refused with
// 12 before anything is sent. A failing ExecuteCommand returns its code
// through the return-logging routine with `callSite`.
int SendTypedCommand(const std::string& command, int lines, char* reply, size_t replySize, int callSite);

// The converted reply of the last command as a whole decimal integer
// (optional sign, digits, int range). 13 when it is anything else; `out` is
// then left unchanged.
int IntegerReply(int* out);

// A number handed out by the typed calls (positions, limits): the token as
// received in separator mode 0 or with raw replies, the token with the user
// separator in mode 3, otherwise the value in fixed notation (12 significant
// digits at most) with `decimals` decimals and the system separator.
std::string NumberOut(double value, const std::string& token, int decimals);

// `value` in fixed notation with `decimals` decimals (clamped to 0..18),
// rounded half away from zero to at most 12 significant digits; values of
// 1e12 and more in scientific notation with 12 significant digits.
// Independent of the process locale.
std::string FixedText(double value, int decimals, char separator);

// `value` in the general ("%g"-style) notation used for composed move
// targets, with up to 15 significant digits, '.' as separator.
std::string GeneralText(double value);

// Copies text into a caller's buffer when one is given.
void HandOut(char* buffer, size_t size, const std::string& text);

// The library's buffer for replies a call parses itself (256 bytes).
char* ReplyScratch();

// How a typed call runs its pre-check: the allowed models, the axis, the
// call-site number of the pre-check's return (the call's command failure
// returns with callSite + 1), and whether the model is checked.
struct CallCheck {
    int mask;
    int axis;
    int site;
    bool checkModel = true;
};

// Runs the pre-check; PreCheckFailure returns its code through the
// return-logging routine.
bool PreCheck(const CallCheck& call);
int PreCheckFailure(const CallCheck& call);

// The shapes most typed calls share, each starting with the pre-check:
// a command whose one reply line is handed out into `reply` (null only in
// signal mode 4, else 14);
int TextQuery(const CallCheck& call, const std::string& command, char* reply, size_t replySize);
// a command whose one reply line is an integer stored through `out` (null
// only in signal mode 4; in that mode nothing is parsed);
int IntegerQuery(const CallCheck& call, const std::string& command, int* out);
// a command sent as it is, with `lines` reply lines not handed out;
int PlainCommand(const CallCheck& call, const std::string& command, int lines);
// a number text followed by `tail` ("25,00" + " setvel"): null 14, not a
// number 12; no reply.
int NumberCommand(const CallCheck& call, const char* text, const std::string& tail);

}  // namespace zel
