// The axis and motion calls of the multi-axis controller models: status,
// axis modes, velocity, acceleration, joystick, origin, moves, positions,
// parameter stack, calibration, range measuring and travel limits.
#include "interface/typed_call_support.h"

#include "support/library_state.h"
#include "support/protocol_log.h"

#include <zelcomm/zelcomm.h>

#include <string>

using namespace zel;

namespace {

constexpr int kMultiAxis = 0x43;  // models 0, 1 and 6
constexpr int kJoystick = 0x41;   // models 0 and 6
constexpr int kMaxArgumentAxes = 4;

// Call-site numbers: the pre-check of a call returns with its number, a
// failing command with the number + 1 (+ 2.. for further commands).
enum CallSite {
    kSiteIdentify = 300,
    kSiteGetStatus = 303,
    kSiteGetError = 306,
    kSiteSetAxisMode = 309,  // 309 pre-check, 310..313 the four commands
    kSiteGetAxisMode = 315,
    kSiteSetVelocity = 318,
    kSiteGetVelocity = 321,
    kSiteSetAcceleration = 324,
    kSiteGetAcceleration = 327,
    kSiteJoystickEnable = 330,
    kSiteJoystickDisable = 333,
    kSiteSetJoystickVelocity = 336,
    kSiteGetJoystickVelocity = 339,
    kSiteSetOrigin = 342,
    kSiteMoveAbsolute = 345,
    kSiteMoveRelative = 348,
    kSiteMoveAbsoluteAutoReply = 351,
    kSiteMoveRelativeAutoReply = 354,
    kSiteGetPosAxis = 357,
    kSiteGetPos = 360,
    kSiteClearParameterStack = 363,
    kSiteGetParamsOnStack = 366,
    kSiteCalibrate = 369,
    kSiteRangeMeasure = 372,
    kSiteGetLimits = 375,
};

CallCheck Multi(int site) { return CallCheck{kMultiAxis, 0, site}; }
CallCheck Joystick(int site) { return CallCheck{kJoystick, 0, site}; }

// Axes whose outputs a call fills: the existing ones up to the fourth.
int OutputAxes(const TController& c) { return c.AxesCount() < kMaxArgumentAxes ? c.AxesCount() : kMaxArgumentAxes; }

// The moves: one number text per axis, then the command word and, for the
// moves with automatic reply, one "0" per axis and " r st" (a relative move
// by nothing that answers with the status once the move has ended).
enum class Move { Absolute, Relative };

int MoveImpl(const CallCheck& call, const char* const texts[4], Move kind, bool autoReply) {
    if (!PreCheck(call)) return PreCheckFailure(call);
    const int n = Controller()->AxesCount();
    if (n < 1 || n > kMaxArgumentAxes) return ZEL_ERR_AXIS;
    for (int k = 0; k < n; ++k)
        if (!NumberTextValid(texts[k])) return ZEL_ERR_PARAMETER;
    std::string command;
    for (int k = 0; k < n; ++k) {
        command += texts[k];
        command += ' ';
    }
    command += kind == Move::Absolute ? "m" : "r";
    if (!autoReply) return SendTypedCommand(command, 0, nullptr, 0, call.site + 1);
    for (int k = 0; k < n; ++k) command += " 0";
    command += " r st";
    return SendTypedCommand(command, 1, ReplyScratch(), kWorkBufferSize, call.site + 1);
}

int SetAxisModeImpl(const int modes[4]) {
    const CallCheck call = Multi(kSiteSetAxisMode);
    if (!PreCheck(call)) return PreCheckFailure(call);
    TController& c = *Controller();
    const int axes = OutputAxes(c);
    for (int k = 0; k < axes; ++k)
        if (modes[k] < 0 || modes[k] > 2) return ZEL_ERR_PARAMETER;
    // The default model with machine type 0 takes modes for axes 1 and 2 only.
    const int sent = (c.ucCType == kModelDefault && c.nCMachineType == 0 && axes > 2) ? 2 : axes;
    for (int k = 0; k < sent; ++k) {
        const std::string command = std::to_string(modes[k]) + " " + std::to_string(k + 1) + " setaxis";
        const int code = SendTypedCommand(command, 0, nullptr, 0, call.site + 1 + k);
        if (code != 0) return code;
    }
    return 0;
}

int GetAxisModeImpl(int* const modes[4]) {
    const CallCheck call = Multi(kSiteGetAxisMode);
    if (!PreCheck(call)) return PreCheckFailure(call);
    TController& c = *Controller();
    const int axes = OutputAxes(c);
    if (!AsyncSignalMode())
        for (int k = 0; k < axes; ++k)
            if (!modes[k]) return ZEL_ERR_NULL_POINTER;
    const int code = SendTypedCommand("-1 getaxis", 1, ReplyScratch(), kWorkBufferSize, call.site + 1);
    if (code != 0) return code;
    if (AsyncSignalMode()) return 0;
    if (!c.KvCScanReply(8, -1)) return ZEL_ERR_REPLY_NUMBER;
    for (int k = 0; k < axes; ++k)
        if (modes[k]) *modes[k] = c.pCAxes[static_cast<size_t>(k)]->ucAMode;
    return 0;
}

int SetOriginImpl() {
    const CallCheck call = Multi(kSiteSetOrigin);
    if (!PreCheck(call)) return PreCheckFailure(call);
    TController& c = *Controller();
    if (c.KvCSetOrigin(-1)) return 0;
    // A failure without a code of its own must not read as success.
    return c.nCLastError != 0 ? c.nCLastError.load() : ZEL_ERR_COMMAND_FAILED;
}

int GetPosAxisImpl(int axis, char* pos, size_t size) {
    KvGProtLog("[GetPosAxis(%d)]\r\n", axis, kLogTrace);
    const CallCheck call = Multi(kSiteGetPosAxis);
    if (!PreCheck(call)) return PreCheckFailure(call);
    if (!pos && !AsyncSignalMode()) return ZEL_ERR_NULL_POINTER;
    HandOut(pos, size, std::string());
    TController& c = *Controller();
    if (axis < 1 || axis > c.AxesCount()) return ZEL_ERR_AXIS;
    if (!c.KvCGetPos()) return ZEL_ERR_POSITION;
    if (AsyncSignalMode()) return 0;
    const TAxis& a = *c.pCAxes[static_cast<size_t>(axis) - 1];
    HandOut(pos, size, NumberOut(a.dAPos, a.sAPos, c.nCPosDecimals));
    return 0;
}

int GetPosImpl(char* const pos[4], size_t size) {
    KvGProtLog("[GetPos()]\r\n", kLogTrace);
    const CallCheck call = Multi(kSiteGetPos);
    if (!PreCheck(call)) return PreCheckFailure(call);
    TController& c = *Controller();
    const int axes = OutputAxes(c);
    if (!AsyncSignalMode())
        for (int k = 0; k < axes; ++k)
            if (!pos[k]) return ZEL_ERR_NULL_POINTER;
    if (!c.KvCGetPos()) {
        KvGProtLog("[GetPos() done, Error INVALIDPOSDATA, CGetPos=false]\r\n", kLogTrace);
        return ZEL_ERR_POSITION;
    }
    if (!AsyncSignalMode()) {
        try {
            for (int k = 0; k < axes; ++k) {
                const TAxis& a = *c.pCAxes[static_cast<size_t>(k)];
                HandOut(pos[k], size, NumberOut(a.dAPos, a.sAPos, c.nCPosDecimals));
            }
        } catch (const std::exception&) {
            KvGProtLog("[GetPos() done, Error INVALIDPOSDATA]\r\n", kLogTrace);
            return ZEL_ERR_POSITION;
        }
    }
    KvGProtLog("[GetPos() done]\r\n", kLogTrace);
    return 0;
}

int GetLimitsImpl(char* const low[4], char* const high[4], size_t size) {
    const CallCheck call = Multi(kSiteGetLimits);
    if (!PreCheck(call)) return PreCheckFailure(call);
    TController& c = *Controller();
    const int axes = OutputAxes(c);
    if (!AsyncSignalMode())
        for (int k = 0; k < axes; ++k)
            if (!low[k] || !high[k]) return ZEL_ERR_NULL_POINTER;
    // One reply line per axis: without axes there is nothing to ask for.
    if (c.AxesCount() < 1) return ZEL_ERR_AXIS;
    const int code = SendTypedCommand("getlimit", c.AxesCount(), ReplyScratch(), kWorkBufferSize, call.site + 1);
    if (code != 0) return code;
    if (AsyncSignalMode()) return 0;
    if (!c.KvCScanReply(3, -1)) return ZEL_ERR_REPLY_NUMBER;
    for (int k = 0; k < axes; ++k) {
        const TAxis& a = *c.pCAxes[static_cast<size_t>(k)];
        HandOut(low[k], size, NumberOut(a.dALowLimit, a.sALowLimit, c.nCLimitDecimals));
        HandOut(high[k], size, NumberOut(a.dAHighLimit, a.sAHighLimit, c.nCLimitDecimals));
    }
    return 0;
}

}  // namespace

extern "C" {

ZELCOMM_API int Identify(char* reply) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return TextQuery(Multi(kSiteIdentify), "identify", reply, kTextOutSize); });
}

ZELCOMM_API int IdentifyEx(char* reply, size_t replySize) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Multi(kSiteIdentify), "identify", OutBuffer(reply, replySize), replySize);
    });
}

ZELCOMM_API int GetStatus(int* status) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] { return IntegerQuery(Multi(kSiteGetStatus), "st", status); });
}

ZELCOMM_API int GetError(int* error) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] { return IntegerQuery(Multi(kSiteGetError), "ge", error); });
}

ZELCOMM_API int SetAxisMode(int mode1, int mode2, int mode3, int mode4) {
    const int modes[4] = {mode1, mode2, mode3, mode4};
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] { return SetAxisModeImpl(modes); });
}

ZELCOMM_API int GetAxisMode(int* mode1, int* mode2, int* mode3, int* mode4) {
    int* const modes[4] = {mode1, mode2, mode3, mode4};
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] { return GetAxisModeImpl(modes); });
}

ZELCOMM_API int SetVelocity(const char* velocity) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return NumberCommand(Multi(kSiteSetVelocity), velocity, " setvel"); });
}

ZELCOMM_API int GetVelocity(char* reply) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return TextQuery(Multi(kSiteGetVelocity), "getvel", reply, kTextOutSize); });
}

ZELCOMM_API int GetVelocityEx(char* reply, size_t replySize) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Multi(kSiteGetVelocity), "getvel", OutBuffer(reply, replySize), replySize);
    });
}

ZELCOMM_API int SetAcceleration(const char* acceleration) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return NumberCommand(Multi(kSiteSetAcceleration), acceleration, " setaccel"); });
}

ZELCOMM_API int GetAcceleration(char* reply) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return TextQuery(Multi(kSiteGetAcceleration), "getaccel", reply, kTextOutSize); });
}

ZELCOMM_API int GetAccelerationEx(char* reply, size_t replySize) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Multi(kSiteGetAcceleration), "getaccel", OutBuffer(reply, replySize), replySize);
    });
}

ZELCOMM_API int JoystickEnable(void) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return PlainCommand(Joystick(kSiteJoystickEnable), "1 j", 0); });
}

ZELCOMM_API int JoystickDisable(void) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return PlainCommand(Joystick(kSiteJoystickDisable), "0 j", 0); });
}

ZELCOMM_API int SetJoystickVelocity(const char* velocity) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return NumberCommand(Joystick(kSiteSetJoystickVelocity), velocity, " js"); });
}

ZELCOMM_API int GetJoystickVelocity(char* reply) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Joystick(kSiteGetJoystickVelocity), "getjoyspeed", reply, kTextOutSize);
    });
}

ZELCOMM_API int GetJoystickVelocityEx(char* reply, size_t replySize) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Joystick(kSiteGetJoystickVelocity), "getjoyspeed", OutBuffer(reply, replySize),
                         replySize);
    });
}

ZELCOMM_API int SetOrigin(void) { return GuardedCall(ZEL_ERR_COMMAND_FAILED, [] { return SetOriginImpl(); }); }

ZELCOMM_API int MoveAbsolute(const char* pos1, const char* pos2, const char* pos3, const char* pos4) {
    const char* const texts[4] = {pos1, pos2, pos3, pos4};
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return MoveImpl(Multi(kSiteMoveAbsolute), texts, Move::Absolute, false); });
}

ZELCOMM_API int MoveRelative(const char* dist1, const char* dist2, const char* dist3, const char* dist4) {
    const char* const texts[4] = {dist1, dist2, dist3, dist4};
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return MoveImpl(Multi(kSiteMoveRelative), texts, Move::Relative, false); });
}

ZELCOMM_API int MoveAbsoluteAutoReply(const char* pos1, const char* pos2, const char* pos3, const char* pos4) {
    const char* const texts[4] = {pos1, pos2, pos3, pos4};
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return MoveImpl(Multi(kSiteMoveAbsoluteAutoReply), texts, Move::Absolute, true);
    });
}

ZELCOMM_API int MoveRelativeAutoReply(const char* dist1, const char* dist2, const char* dist3, const char* dist4) {
    const char* const texts[4] = {dist1, dist2, dist3, dist4};
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return MoveImpl(Multi(kSiteMoveRelativeAutoReply), texts, Move::Relative, true);
    });
}

ZELCOMM_API int GetPosAxis(int axis, char* pos) {
    return GuardedCall(ZEL_ERR_POSITION, [&] { return GetPosAxisImpl(axis, pos, kTextOutSize); });
}

ZELCOMM_API int GetPosAxisEx(int axis, char* pos, size_t posSize) {
    return GuardedCall(ZEL_ERR_POSITION, [&] { return GetPosAxisImpl(axis, OutBuffer(pos, posSize), posSize); });
}

ZELCOMM_API int GetPos(char* pos1, char* pos2, char* pos3, char* pos4) {
    char* const pos[4] = {pos1, pos2, pos3, pos4};
    return GuardedCall(ZEL_ERR_POSITION, [&] { return GetPosImpl(pos, kTextOutSize); });
}

ZELCOMM_API int GetPosEx(char* pos1, char* pos2, char* pos3, char* pos4, size_t posSize) {
    char* const pos[4] = {OutBuffer(pos1, posSize), OutBuffer(pos2, posSize), OutBuffer(pos3, posSize),
                          OutBuffer(pos4, posSize)};
    return GuardedCall(ZEL_ERR_POSITION, [&] { return GetPosImpl(pos, posSize); });
}

ZELCOMM_API int ClearParameterStack(void) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return PlainCommand(Multi(kSiteClearParameterStack), "clear", 0); });
}

ZELCOMM_API int GetParamsOnStack(int* count) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return IntegerQuery(Joystick(kSiteGetParamsOnStack), "gsp", count); });
}

ZELCOMM_API int Calibrate(void) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] { return PlainCommand(Multi(kSiteCalibrate), "cal st", 1); });
}

ZELCOMM_API int RangeMeasure(void) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] { return PlainCommand(Multi(kSiteRangeMeasure), "rm st", 1); });
}

ZELCOMM_API int GetLimits(char* low1, char* high1, char* low2, char* high2, char* low3, char* high3, char* low4,
                          char* high4) {
    char* const low[4] = {low1, low2, low3, low4};
    char* const high[4] = {high1, high2, high3, high4};
    return GuardedCall(ZEL_ERR_REPLY_NUMBER, [&] { return GetLimitsImpl(low, high, kTextOutSize); });
}

ZELCOMM_API int GetLimitsEx(char* low1, char* high1, char* low2, char* high2, char* low3, char* high3, char* low4,
                            char* high4, size_t limitSize) {
    char* const low[4] = {OutBuffer(low1, limitSize), OutBuffer(low2, limitSize), OutBuffer(low3, limitSize),
                          OutBuffer(low4, limitSize)};
    char* const high[4] = {OutBuffer(high1, limitSize), OutBuffer(high2, limitSize), OutBuffer(high3, limitSize),
                           OutBuffer(high4, limitSize)};
    return GuardedCall(ZEL_ERR_REPLY_NUMBER, [&] { return GetLimitsImpl(low, high, limitSize); });
}

}  // extern "C"
