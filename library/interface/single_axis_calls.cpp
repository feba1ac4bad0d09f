// The single-axis calls (names ending in "A"): one axis, given by its number
// as the last argument, addressed with the "n" commands of the single-axis
// models. MoveAbsoluteA, GetPosA, GetAxisModeA, SetAxisModeA and GetLimitsA
// also serve the multi-axis models.
#include "interface/typed_call_support.h"

#include "support/protocol_log.h"

#include <zelcomm/zelcomm.h>

#include <string>

using namespace zel;

namespace {

constexpr int kSingleAxis = 0x3C;  // models 2 to 5
constexpr int kMaxArgumentAxes = 4;

// Call-site numbers: the pre-check of a call returns with its number, a
// failing command with the number + 1.
enum CallSite {
    kSiteIdentifyA = 400,
    kSiteGetStatusA = 403,
    kSiteGetErrorA = 406,
    kSiteSetAxisModeA = 409,
    kSiteGetAxisModeA = 412,
    kSiteSetVelocityA = 415,
    kSiteGetVelocityA = 418,
    kSiteSetAccelerationA = 421,
    kSiteGetAccelerationA = 424,
    kSiteJoystickEnableA = 427,
    kSiteJoystickDisableA = 430,
    kSiteSetJoystickVelocityA = 433,
    kSiteGetJoystickVelocityA = 436,
    kSiteSetOriginA = 439,
    kSiteMoveAbsoluteA = 442,
    kSiteMoveRelativeA = 445,
    kSiteMoveAbsoluteAutoReplyA = 448,
    kSiteMoveRelativeAutoReplyA = 451,
    kSiteGetPosA = 454,
    kSiteClearParameterStackA = 457,
    kSiteGetParamsOnStackA = 460,
    kSiteCalibrateA = 463,
    kSiteRangeMeasureA = 466,
    kSiteGetLimitsA = 469,
};

// The pre-check with the model check on: single-axis models only.
CallCheck Single(int site, int axis) { return CallCheck{kSingleAxis, axis, site, true}; }
// With the model check off: multi-axis models are accepted too.
CallCheck AnyModel(int site, int axis) { return CallCheck{kSingleAxis, axis, site, false}; }

std::string Number(int value) { return std::to_string(value); }

// On a multi-axis controller the pre-check ignores the axis; the calls that
// serve those models check it themselves.
bool AxisMissing(const TController& c, int axis) {
    return !c.SingleAxisCommands() && (axis < 1 || axis > c.AxesCount());
}

// A move of one axis: the number text, then `tail`.
int AxisMove(const CallCheck& call, const char* text, const std::string& tail, int lines) {
    if (!PreCheck(call)) return PreCheckFailure(call);
    if (!NumberTextValid(text)) return ZEL_ERR_PARAMETER;
    return SendTypedCommand(text + tail, lines, lines != 0 ? ReplyScratch() : nullptr, kWorkBufferSize,
                            call.site + 1);
}

int SetAxisModeAImpl(int mode, int axis) {
    const CallCheck call = AnyModel(kSiteSetAxisModeA, axis);
    if (!PreCheck(call)) return PreCheckFailure(call);
    if (mode < 0 || mode > 2) return ZEL_ERR_PARAMETER;
    return SendTypedCommand(Number(mode) + " " + Number(axis) + " setaxis", 0, nullptr, 0, call.site + 1);
}

int GetAxisModeAImpl(int* mode, int axis) {
    const CallCheck call = AnyModel(kSiteGetAxisModeA, axis);
    if (!PreCheck(call)) return PreCheckFailure(call);
    if (!mode && !AsyncSignalMode()) return ZEL_ERR_NULL_POINTER;
    TController& c = *Controller();
    if (AxisMissing(c, axis)) return ZEL_ERR_AXIS;
    const int code = SendTypedCommand(Number(axis) + " getaxis", 1, ReplyScratch(), kWorkBufferSize, call.site + 1);
    if (code != 0) return code;
    if (AsyncSignalMode()) return 0;
    if (!c.KvCScanReply(12, axis - 1)) return ZEL_ERR_REPLY_NUMBER;
    if (mode) *mode = c.pCAxes[static_cast<size_t>(axis) - 1]->ucAMode;
    return 0;
}

int SetOriginAImpl(int axis) {
    const CallCheck call = Single(kSiteSetOriginA, axis);
    if (!PreCheck(call)) return PreCheckFailure(call);
    TController& c = *Controller();
    if (c.KvCSetOrigin(axis - 1)) return 0;
    // A failure without a code of its own must not read as success.
    return c.nCLastError != 0 ? c.nCLastError.load() : ZEL_ERR_COMMAND_FAILED;
}

// On a multi-axis controller the targets are collected axis by axis; the
// call for the last axis sends one move of all axes.
int MoveAbsoluteAImpl(const char* text, int axis) {
    const CallCheck call = AnyModel(kSiteMoveAbsoluteA, axis);
    if (!PreCheck(call)) return PreCheckFailure(call);
    TController& c = *Controller();
    if (c.SingleAxisCommands()) {
        if (!NumberTextValid(text)) return ZEL_ERR_PARAMETER;
        return SendTypedCommand(text + (" " + Number(axis) + " nm"), 0, nullptr, 0, call.site + 1);
    }
    const int n = c.AxesCount();
    if (AxisMissing(c, axis) || n > kMaxArgumentAxes) return ZEL_ERR_AXIS;
    double target = 0;
    if (!NumberTextValid(text, &target)) return ZEL_ERR_PARAMETER;
    c.pCAxes[static_cast<size_t>(axis) - 1]->dATarget = target;
    if (axis != n) return 0;
    std::string command;
    for (const auto& a : c.pCAxes) command += GeneralText(a->dATarget) + " ";
    command += "m";
    return SendTypedCommand(command, 0, nullptr, 0, call.site + 1);
}

// On a multi-axis controller axis 1 reads the positions of all axes; the
// other axes hand out what that read stored.
int GetPosAImpl(char* pos, size_t size, int axis) {
    KvGProtLog("[GetPosA()]\r\n", kLogTrace);
    const CallCheck call = AnyModel(kSiteGetPosA, axis);
    if (!PreCheck(call)) return PreCheckFailure(call);
    if (!pos && !AsyncSignalMode()) return ZEL_ERR_NULL_POINTER;
    TController& c = *Controller();
    if (c.SingleAxisCommands()) return SendTypedCommand(Number(axis) + " np", 1, pos, size, call.site + 1);
    if (AxisMissing(c, axis)) return ZEL_ERR_AXIS;
    if (axis == 1 && !c.KvCGetPos()) return ZEL_ERR_POSITION;
    const TAxis& a = *c.pCAxes[static_cast<size_t>(axis) - 1];
    HandOut(pos, size, NumberOut(a.dAPos, a.sAPos, c.nCPosDecimals));
    return 0;
}

int GetLimitsAImpl(char* low, char* high, size_t size, int axis) {
    const CallCheck call = AnyModel(kSiteGetLimitsA, axis);
    if (!PreCheck(call)) return PreCheckFailure(call);
    if ((!low || !high) && !AsyncSignalMode()) return ZEL_ERR_NULL_POINTER;
    HandOut(low, size, std::string());
    HandOut(high, size, std::string());
    TController& c = *Controller();
    if (AxisMissing(c, axis)) return ZEL_ERR_AXIS;
    const std::string command = Number(axis) + (c.SingleAxisCommands() ? " getnlimit" : " getlimit");
    const int code = SendTypedCommand(command, 1, ReplyScratch(), kWorkBufferSize, call.site + 1);
    if (code != 0) return code;
    if (AsyncSignalMode()) return 0;
    if (!c.KvCScanReply(65, axis - 1)) return ZEL_ERR_REPLY_NUMBER;
    const TAxis& a = *c.pCAxes[static_cast<size_t>(axis) - 1];
    HandOut(low, size, NumberOut(a.dALowLimit, a.sALowLimit, c.nCLimitDecimals));
    HandOut(high, size, NumberOut(a.dAHighLimit, a.sAHighLimit, c.nCLimitDecimals));
    return 0;
}

}  // namespace

extern "C" {

ZELCOMM_API int IdentifyA(char* reply, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Single(kSiteIdentifyA, axis), Number(axis) + " nidentify", reply, kTextOutSize);
    });
}

ZELCOMM_API int IdentifyAEx(char* reply, int axis, size_t replySize) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Single(kSiteIdentifyA, axis), Number(axis) + " nidentify", OutBuffer(reply, replySize),
                         replySize);
    });
}

ZELCOMM_API int GetStatusA(int* status, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return IntegerQuery(Single(kSiteGetStatusA, axis), Number(axis) + " nst", status); });
}

ZELCOMM_API int GetErrorA(int* error, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return IntegerQuery(Single(kSiteGetErrorA, axis), Number(axis) + " gne", error); });
}

ZELCOMM_API int SetAxisModeA(int mode, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] { return SetAxisModeAImpl(mode, axis); });
}

ZELCOMM_API int GetAxisModeA(int* mode, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] { return GetAxisModeAImpl(mode, axis); });
}

ZELCOMM_API int SetVelocityA(const char* velocity, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return NumberCommand(Single(kSiteSetVelocityA, axis), velocity, " " + Number(axis) + " snv");
    });
}

ZELCOMM_API int GetVelocityA(char* reply, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Single(kSiteGetVelocityA, axis), Number(axis) + " getnvel", reply, kTextOutSize);
    });
}

ZELCOMM_API int GetVelocityAEx(char* reply, int axis, size_t replySize) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Single(kSiteGetVelocityA, axis), Number(axis) + " getnvel", OutBuffer(reply, replySize),
                         replySize);
    });
}

ZELCOMM_API int SetAccelerationA(const char* acceleration, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return NumberCommand(Single(kSiteSetAccelerationA, axis), acceleration, " " + Number(axis) + " setnaccel");
    });
}

ZELCOMM_API int GetAccelerationA(char* reply, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Single(kSiteGetAccelerationA, axis), Number(axis) + " getnaccel", reply, kTextOutSize);
    });
}

ZELCOMM_API int GetAccelerationAEx(char* reply, int axis, size_t replySize) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Single(kSiteGetAccelerationA, axis), Number(axis) + " getnaccel",
                         OutBuffer(reply, replySize), replySize);
    });
}

ZELCOMM_API int JoystickEnableA(int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return PlainCommand(Single(kSiteJoystickEnableA, axis), "1 " + Number(axis) + " nj", 0);
    });
}

ZELCOMM_API int JoystickDisableA(int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return PlainCommand(Single(kSiteJoystickDisableA, axis), "0 " + Number(axis) + " nj", 0);
    });
}

ZELCOMM_API int SetJoystickVelocityA(const char* velocity, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return NumberCommand(Single(kSiteSetJoystickVelocityA, axis), velocity, " " + Number(axis) + " njs");
    });
}

ZELCOMM_API int GetJoystickVelocityA(char* reply, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Single(kSiteGetJoystickVelocityA, axis), Number(axis) + " getnjoyspeed", reply,
                         kTextOutSize);
    });
}

ZELCOMM_API int GetJoystickVelocityAEx(char* reply, int axis, size_t replySize) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return TextQuery(Single(kSiteGetJoystickVelocityA, axis), Number(axis) + " getnjoyspeed",
                         OutBuffer(reply, replySize), replySize);
    });
}

ZELCOMM_API int SetOriginA(int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] { return SetOriginAImpl(axis); });
}

ZELCOMM_API int MoveAbsoluteA(const char* pos, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] { return MoveAbsoluteAImpl(pos, axis); });
}

ZELCOMM_API int MoveRelativeA(const char* dist, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return AxisMove(Single(kSiteMoveRelativeA, axis), dist, " " + Number(axis) + " nr", 0);
    });
}

ZELCOMM_API int MoveAbsoluteAutoReplyA(const char* pos, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        const std::string n = Number(axis);
        return AxisMove(Single(kSiteMoveAbsoluteAutoReplyA, axis), pos, " " + n + " nm 0 " + n + " nr " + n + " nst",
                        1);
    });
}

ZELCOMM_API int MoveRelativeAutoReplyA(const char* dist, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        const std::string n = Number(axis);
        return AxisMove(Single(kSiteMoveRelativeAutoReplyA, axis), dist, " " + n + " nr 0 " + n + " nr " + n + " nst",
                        1);
    });
}

ZELCOMM_API int GetPosA(char* pos, int axis) {
    return GuardedCall(ZEL_ERR_POSITION, [&] { return GetPosAImpl(pos, kTextOutSize, axis); });
}

ZELCOMM_API int GetPosAEx(char* pos, int axis, size_t posSize) {
    return GuardedCall(ZEL_ERR_POSITION, [&] { return GetPosAImpl(OutBuffer(pos, posSize), posSize, axis); });
}

ZELCOMM_API int ClearParameterStackA(int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return PlainCommand(Single(kSiteClearParameterStackA, axis), Number(axis) + " nclear", 0);
    });
}

ZELCOMM_API int GetParamsOnStackA(int* count, int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED, [&] {
        return IntegerQuery(Single(kSiteGetParamsOnStackA, axis), Number(axis) + " gnsp", count);
    });
}

// Sent as "N ncal N nst": the status that ends the calibration is awaited
// without time-out and not handed out.
ZELCOMM_API int CalibrateA(int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return PlainCommand(Single(kSiteCalibrateA, axis), Number(axis) + " ncal", 0); });
}

ZELCOMM_API int RangeMeasureA(int axis) {
    return GuardedCall(ZEL_ERR_COMMAND_FAILED,
                       [&] { return PlainCommand(Single(kSiteRangeMeasureA, axis), Number(axis) + " nrm", 0); });
}

ZELCOMM_API int GetLimitsA(char* low, char* high, int axis) {
    return GuardedCall(ZEL_ERR_REPLY_NUMBER, [&] { return GetLimitsAImpl(low, high, kTextOutSize, axis); });
}

ZELCOMM_API int GetLimitsAEx(char* low, char* high, int axis, size_t limitSize) {
    return GuardedCall(ZEL_ERR_REPLY_NUMBER, [&] {
        return GetLimitsAImpl(OutBuffer(low, limitSize), OutBuffer(high, limitSize), limitSize, axis);
    });
}

}  // extern "C"
