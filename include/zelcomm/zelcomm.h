/*
 * ZelComm for Linux: drive motorised positioning stage controllers over
 * RS-232 serial lines, or a simulated controller in demo mode.
 *
 * Every call returns an int error code (ZEL_OK on success). Text outputs
 * without a length argument receive at most 256 bytes (255 characters and
 * the terminating zero); the calls ending in "Ex" take the buffer size.
 * No call keeps a pointer to a caller's buffer after it returns.
 */
#ifndef ZELCOMM_ZELCOMM_H
#define ZELCOMM_ZELCOMM_H

#include <stddef.h>
#include <stdint.h>

#if defined(ZELCOMM_BUILDING_LIBRARY)
#define ZELCOMM_API __attribute__((visibility("default")))
#else
#define ZELCOMM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Error codes ------------------------------------------------------- */
#define ZEL_OK                    0
#define ZEL_ERR_TERMINATING      (-1) /* failed while the library was terminating */
#define ZEL_ERR_NO_MEMORY         2
#define ZEL_ERR_NOT_CONNECTED     3
#define ZEL_ERR_PORT              4  /* port number above 8 */
#define ZEL_ERR_EMPTY_COMMAND     5
#define ZEL_ERR_NO_CONTROLLER     6  /* no controller, or unknown controller type */
#define ZEL_ERR_AXES_FOR_TYPE     7  /* type 8 needs exactly one axis */
#define ZEL_ERR_AXIS              8  /* axis number or axes count out of range */
#define ZEL_ERR_BAUDRATE          9
#define ZEL_ERR_BUSY             10  /* still waiting for a reply */
#define ZEL_ERR_POSITION         11  /* position data invalid */
#define ZEL_ERR_PARAMETER        12
#define ZEL_ERR_REPLY_NUMBER     13  /* a reply that should hold a number does not */
#define ZEL_ERR_NULL_POINTER     14
#define ZEL_ERR_COMMAND_FAILED   15
#define ZEL_ERR_IDENTIFY         16
#define ZEL_ERR_OLD_VERSION      17
#define ZEL_ERR_ABORT_FAILED     18
#define ZEL_ERR_TIMEOUT          19
#define ZEL_ERR_WAIT_FAILED      20
#define ZEL_ERR_BREAK            21
#define ZEL_ERR_NO_COMMAND_TABLE 22
#define ZEL_ERR_NOT_SUPPORTED    23
#define ZEL_ERR_LINE_ERROR       24
#define ZEL_ERR_VALIDATION    0x10000 /* + validation result */

/* ---- Controller types for InitController (1 << model id) -------------- */
#define ZEL_TYPE_KEEP      0
#define ZEL_TYPE_DEFAULT   1
#define ZEL_TYPE_VARNE_PC  2
#define ZEL_TYPE_PRUSK     4
#define ZEL_TYPE_FISTRA    8
#define ZEL_TYPE_WENDALO  16
#define ZEL_TYPE_JOVEK    32
#define ZEL_TYPE_ULMETA   64

/* ---- Wait-mode word bits (InitController's last argument) -------------- */
#define ZEL_WAIT_FROM_CONFIG        0xFFFFFFFFu /* -1: [Startup] SerialMode */
#define ZEL_WAIT_LINE_MASK          0x0010001Eu /* serial-line mode bits */
#define ZEL_WAIT_SIGNAL_FLAG_ONLY   0x00000020u /* signal mode 0 */
#define ZEL_WAIT_SIGNAL_POLL        0x00000040u /* signal mode 1 */
#define ZEL_WAIT_SIGNAL_SET_EVENT   0x00000080u /* signal mode 2 */
#define ZEL_WAIT_SIGNAL_ASYNC       0x00000200u /* signal mode 4 */
#define ZEL_WAIT_SIGNAL_FLAG_ONLY_5 0x00000400u /* signal mode 5 */
#define ZEL_WAIT_SIGNAL_STREAM      0x00004000u /* signal mode 6 */
#define ZEL_WAIT_SIGNAL_TEVENT      0x00080000u /* signal mode 7 */
#define ZEL_WAIT_EVENT_PLAIN        0x00000800u
#define ZEL_WAIT_EVENT_PLAIN_2      0x00001000u
#define ZEL_WAIT_EVENT_MESSAGES     0x00002000u /* message-aware wait */
#define ZEL_WAIT_KEEP_THREAD        0x00008000u
#define ZEL_WAIT_PUMP_ON_CLOSE      0x00010000u
#define ZEL_WAIT_MASK_IN_THREAD     0x00020000u
#define ZEL_WAIT_REPLY_THREAD       0x00040000u

/* ---- Messages ----------------------------------------------------------- */
#define ZEL_WM_CLOSE          16    /* posted after a close request during a wait */
#define ZEL_MSG_DEFAULT     1034    /* the message number clients usually choose */
#define ZEL_MSG_BREAK_SENT  2029    /* an incomplete transmission ended in a break */
/* first message parameter of a notification: the controller number (0),
   or one of these */
#define ZEL_NOTIFY_BREAK      21
#define ZEL_NOTIFY_LINE_ERROR 24

/* ---- Message boxes ------------------------------------------------------ */
#define ZEL_MB_OK              0x00u
#define ZEL_MB_OKCANCEL        0x01u
#define ZEL_MB_YESNO           0x04u
#define ZEL_MB_ICONERROR       0x10u
#define ZEL_MB_ICONWARNING     0x30u
#define ZEL_MB_ICONINFORMATION 0x40u
#define ZEL_IDOK     1
#define ZEL_IDCANCEL 2
#define ZEL_IDYES    6
#define ZEL_IDNO     7

/* A window is any non-zero value the application chooses (a widget
   pointer serves). */
typedef intptr_t ZelWindow;

/* ---- Windows and posted messages --------------------------------------- */
typedef intptr_t (*ZelWindowProc)(void* context, ZelWindow window, unsigned message,
                                  intptr_t wParam, intptr_t lParam);
/* Registers (or replaces; a null proc removes) the procedure of a window.
   Returns 0, or ZEL_ERR_PARAMETER for window 0. */
ZELCOMM_API int ZelSetWindowProc(ZelWindow window, ZelWindowProc proc, void* context);
/* Delivers every queued message on the calling thread, in order; returns
   the number delivered. */
ZELCOMM_API int ZelDispatchMessages(void);
/* A descriptor that is readable while messages are queued (for poll,
   QSocketNotifier, GLib, asyncio). Owned by the library; do not close it. */
ZELCOMM_API int ZelMessageFd(void);

/* The host toolkit's own event processing, called by every library wait
   that pumps messages. Returns non-zero when the user asked to close a
   window meanwhile and names it in *closeWindow. */
typedef int (*ZelEventPump)(void* context, ZelWindow* closeWindow);
ZELCOMM_API void ZelSetEventPump(ZelEventPump pump, void* context);

/* Shows a message box and returns the answer (ZEL_IDOK, ...). Without a
   handler the library writes "caption: text" to standard error and the
   answer is 0. */
typedef int (*ZelMessageBoxHandler)(void* context, ZelWindow owner, const char* text,
                                    const char* caption, unsigned type);
ZELCOMM_API void ZelSetMessageBoxHandler(ZelMessageBoxHandler handler, void* context);

/* The path of the configuration file the library used (ZELCOMM.INI);
   the path it would have used when none was found. Never null. */
ZELCOMM_API const char* ZelConfigPath(void);

/* ---- Set-up ------------------------------------------------------------- */
ZELCOMM_API int InitController(int type, int axes, int port, int baudRate,
                               ZelWindow window, unsigned message, unsigned waitMode);

/* Runs the connect sequence: opens the port, sends the connect string,
   identifies the controller, reads its version, announces the axes. */
ZELCOMM_API int OpenController(void);
/* Sends the disconnect string and closes the port. */
ZELCOMM_API int CloseController(void);
/* Shows the library version, the system and the connection state in a
   message box. */
ZELCOMM_API int ZelCommInfo(void);
/* Runs built-in test `test` (1..7) when `confirm` equals it: 1 a short
   conversation, 2 an unknown command, 3 a 20 s time-out (leaves the time-out
   at 200 ms), 4..6 the wait-for-reply thread, 7 its abort. */
ZELCOMM_API int ZelCommTest(int reserved, int test, int confirm);
/* Resets the port: ends a pending wait, drains and discards the input,
   clears line errors and the reply. */
ZELCOMM_API int ResetComm(void);

/* ---- Commands and replies ---------------------------------------------- */
/* Sends one command line; with lines > 0 waits for that many reply lines
   and copies the reply into `reply` (at most 256 bytes). lines -1 validates
   the command against the command table and takes the reply count from it.
   In the asynchronous signal mode the call returns after sending and the
   reply is collected with GetReply. */
ZELCOMM_API int ExecuteCommand(const char* command, int lines, char* reply);
ZELCOMM_API int ExecuteCommandEx(const char* command, int lines, char* reply, size_t replySize);
/* Hands out the reply held now (at most 256 bytes); does not wait. */
ZELCOMM_API int GetReply(char* reply);
ZELCOMM_API int GetReplyEx(char* reply, size_t replySize);
/* 0: replies exactly as received; any other value: trimmed and converted. */
ZELCOMM_API int PreprocessReply(int flag);
/* 0: the system's decimal separator; 0xFF: no conversion; any other
   character: that character. */
ZELCOMM_API int SetDecimalSeparator(int separator);
/* Interrupts the controller with CTRL+C and resets the port. */
ZELCOMM_API int AbortCommand(void);

/* Checks a command line against the command table QUBRACOM.DAT (read from
   the current directory at model selection) for a controller with `axes`
   axes. Returns 1 when valid, with the command's reply lines in
   *replyLines; otherwise 2 unknown command or firmware version, 3 too few,
   4 too many arguments (or the command is longer than 260 characters or
   does not fit `size` once rebuilt), 5 argument not of its type, 6 below,
   7 above its range, 8 not in its list or arguments that do not fit
   together, 24 character not allowed in a number, 26 not for this axis
   count. *errorToken (at most 64 bytes) receives the token at fault for
   2, 5, 6, 7, 8, 24 and 26, *errorIndex its index (-1 for the others).
   The command is rebuilt in place, never beyond `size` bytes: decimal
   commas become points, "[13]"-style codes are decoded, tokens are joined
   by single blanks and numbers are rewritten. Without a loaded table
   returns 1 and changes nothing. Output pointers may be null.
   QCValidateEx takes the size of the error token's buffer. */
ZELCOMM_API int QCValidate(char* command, int size, int axes, int* replyLines, char* errorToken,
                           int* errorIndex);
ZELCOMM_API int QCValidateEx(char* command, int size, int axes, int* replyLines, char* errorToken,
                             int* errorIndex, size_t errorTokenSize);

/* ---- Axis and motion calls (multi-axis models: Default, Varne-PC, Ulmeta) -
   Numbers pass in as texts ("25,00", "-5"; '.', ',' or the separator set
   with SetDecimalSeparator) and go to the controller as written. Commands
   that take one argument per axis use the first n arguments (n = axes count,
   1..4); the others may be null. Positions and limits are handed out by the
   rules of SetDecimalSeparator and PreprocessReply. In the asynchronous
   signal mode the calls return after sending; nothing is parsed or copied
   and output pointers may be null. Text outputs receive at most 256 bytes;
   the Ex forms take the size of every buffer they are given. */
ZELCOMM_API int Identify(char* reply);
ZELCOMM_API int IdentifyEx(char* reply, size_t replySize);
ZELCOMM_API int GetStatus(int* status);
ZELCOMM_API int GetError(int* error);
/* Modes 0..2 for each existing axis (ZEL_ERR_PARAMETER otherwise, before
   anything is sent). */
ZELCOMM_API int SetAxisMode(int mode1, int mode2, int mode3, int mode4);
ZELCOMM_API int GetAxisMode(int* mode1, int* mode2, int* mode3, int* mode4);
ZELCOMM_API int SetVelocity(const char* velocity);
ZELCOMM_API int GetVelocity(char* reply);
ZELCOMM_API int GetVelocityEx(char* reply, size_t replySize);
ZELCOMM_API int SetAcceleration(const char* acceleration);
ZELCOMM_API int GetAcceleration(char* reply);
ZELCOMM_API int GetAccelerationEx(char* reply, size_t replySize);
/* Joystick calls: Default and Ulmeta only. */
ZELCOMM_API int JoystickEnable(void);
ZELCOMM_API int JoystickDisable(void);
ZELCOMM_API int SetJoystickVelocity(const char* velocity);
ZELCOMM_API int GetJoystickVelocity(char* reply);
ZELCOMM_API int GetJoystickVelocityEx(char* reply, size_t replySize);
/* The current position of every axis becomes its zero. */
ZELCOMM_API int SetOrigin(void);
ZELCOMM_API int MoveAbsolute(const char* pos1, const char* pos2, const char* pos3, const char* pos4);
ZELCOMM_API int MoveRelative(const char* dist1, const char* dist2, const char* dist3, const char* dist4);
/* Wait without time-out until the move has ended. */
ZELCOMM_API int MoveAbsoluteAutoReply(const char* pos1, const char* pos2, const char* pos3,
                                      const char* pos4);
ZELCOMM_API int MoveRelativeAutoReply(const char* dist1, const char* dist2, const char* dist3,
                                      const char* dist4);
/* Reads all positions and hands out that of axis 1..n. */
ZELCOMM_API int GetPosAxis(int axis, char* pos);
ZELCOMM_API int GetPosAxisEx(int axis, char* pos, size_t posSize);
ZELCOMM_API int GetPos(char* pos1, char* pos2, char* pos3, char* pos4);
ZELCOMM_API int GetPosEx(char* pos1, char* pos2, char* pos3, char* pos4, size_t posSize);
ZELCOMM_API int ClearParameterStack(void);
/* Default and Ulmeta only. */
ZELCOMM_API int GetParamsOnStack(int* count);
/* Wait without time-out for the status that ends the run. */
ZELCOMM_API int Calibrate(void);
ZELCOMM_API int RangeMeasure(void);
ZELCOMM_API int GetLimits(char* low1, char* high1, char* low2, char* high2, char* low3, char* high3,
                          char* low4, char* high4);
ZELCOMM_API int GetLimitsEx(char* low1, char* high1, char* low2, char* high2, char* low3, char* high3,
                            char* low4, char* high4, size_t limitSize);

/* ---- Single-axis calls (single-axis models: Prusk, Fistra, Wendalo, Jovek)
   The axis number (1..axes count) is the last argument before the size of
   an Ex form. SetAxisModeA, GetAxisModeA, MoveAbsoluteA, GetPosA and
   GetLimitsA also serve the multi-axis models: there MoveAbsoluteA collects
   the target of axes 1..n-1 and the call for axis n moves all axes, and
   GetPosA reads all positions for axis 1 and hands out the stored position
   for the other axes. */
ZELCOMM_API int IdentifyA(char* reply, int axis);
ZELCOMM_API int IdentifyAEx(char* reply, int axis, size_t replySize);
ZELCOMM_API int GetStatusA(int* status, int axis);
ZELCOMM_API int GetErrorA(int* error, int axis);
ZELCOMM_API int SetAxisModeA(int mode, int axis);
ZELCOMM_API int GetAxisModeA(int* mode, int axis);
ZELCOMM_API int SetVelocityA(const char* velocity, int axis);
ZELCOMM_API int GetVelocityA(char* reply, int axis);
ZELCOMM_API int GetVelocityAEx(char* reply, int axis, size_t replySize);
ZELCOMM_API int SetAccelerationA(const char* acceleration, int axis);
ZELCOMM_API int GetAccelerationA(char* reply, int axis);
ZELCOMM_API int GetAccelerationAEx(char* reply, int axis, size_t replySize);
ZELCOMM_API int JoystickEnableA(int axis);
ZELCOMM_API int JoystickDisableA(int axis);
ZELCOMM_API int SetJoystickVelocityA(const char* velocity, int axis);
ZELCOMM_API int GetJoystickVelocityA(char* reply, int axis);
ZELCOMM_API int GetJoystickVelocityAEx(char* reply, int axis, size_t replySize);
ZELCOMM_API int SetOriginA(int axis);
ZELCOMM_API int MoveAbsoluteA(const char* pos, int axis);
ZELCOMM_API int MoveRelativeA(const char* dist, int axis);
ZELCOMM_API int MoveAbsoluteAutoReplyA(const char* pos, int axis);
ZELCOMM_API int MoveRelativeAutoReplyA(const char* dist, int axis);
ZELCOMM_API int GetPosA(char* pos, int axis);
ZELCOMM_API int GetPosAEx(char* pos, int axis, size_t posSize);
ZELCOMM_API int ClearParameterStackA(int axis);
ZELCOMM_API int GetParamsOnStackA(int* count, int axis);
ZELCOMM_API int CalibrateA(int axis);
ZELCOMM_API int RangeMeasureA(int axis);
ZELCOMM_API int GetLimitsA(char* low, char* high, int axis);
ZELCOMM_API int GetLimitsAEx(char* low, char* high, int axis, size_t limitSize);

#ifdef __cplusplus
}
#endif

#endif /* ZELCOMM_ZELCOMM_H */
