// The controller object: connection settings, axes, the reply being
// received, the synchronisation used to wait for it, connect texts, the
// simulated machine of demo mode and the last error.
//
// Members are public: the engine, the serial threads and the exported calls
// read and write them directly. Flags that the serial threads hand over to
// the caller's thread are atomic; the reply texts are guarded by
// mCReplyLock. Completion is always flagged (bCReplyComplete) before any
// signal is given.
#pragma once

#include "platform/zel_event.h"

#include <zelcomm/zelcomm.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zel {

class TKvSerial;
class KvVal;

// Interface kinds.
constexpr int kInterfaceSerial = 1;
constexpr int kInterfaceDemo = 4;

// Command-set bits.
constexpr uint8_t kCmdSetMulti = 1;
constexpr uint8_t kCmdSetSingle = 4;

// Model ids.
enum ModelId : uint8_t {
    kModelDefault = 0,
    kModelVarne = 1,
    kModelPrusk = 2,
    kModelFistra = 3,
    kModelWendalo = 4,
    kModelJovek = 5,
    kModelUlmeta = 6,
};

// Baud-rate code table: code -> baud rate. Codes 0..9.
int BaudRateOfCode(int code);
// Baud rate -> code, or -1 when the rate is not in the table.
int CodeOfBaudRate(int baudRate);

class TAxis {
public:
    TAxis() = default;

    std::string sAName = "Unknown";
    int8_t ucAMode = 2;
    uint8_t ucAMode2 = 2;  // second mode byte
    double dAPos = 0;
    std::string sAPos;
    double dATarget = 0;
    // The simulated move of demo mode.
    uint32_t dwAStartTick = 0;
    double dAStartPos = 0;
    double dATargetPos = 0;
    double dASignedVelocity = 0;
    bool bAMoving = false;
    int nAStackCount = 0;
    double dALowLimit = 0;
    double dAHighLimit = 0;
    std::string sALowLimit;
    std::string sAHighLimit;
    // Simulated settings of the single-axis command set.
    int nAStatus = 0;
    double dAVelocity = 0;
    double dAAcceleration = 0;
    double dAJoystickSpeed = 0;
    double dAVersion = 1.0;
    std::string sAIdentify;
};

class TCommand {
public:
    TCommand() = default;
    std::string sText;
    unsigned unFlags = 0x60080;
};

class TController {
public:
    explicit TController(int number);
    ~TController();
    TController(const TController&) = delete;
    TController& operator=(const TController&) = delete;

    int nCInterface = kInterfaceSerial;
    int nCDemoStackCount = 0;
    std::atomic<int> nCLastError{0};
    int nCNumber = 0;
    std::vector<std::unique_ptr<TAxis>> pCAxes;
    int nCPort = -1;
    std::string sCName;
    int nCDecimals = 5;
    int nCPosDecimals = 5;
    int nCLimitDecimals = 5;
    std::unique_ptr<TKvSerial> pCSerial;
    unsigned unCEventKind = 0x800;
    std::atomic<bool> bCWaitingForReply{false};
    std::atomic<bool> bCReplyComplete{false};
    uint8_t ucCCmdSet = kCmdSetMulti;
    std::atomic<uint8_t> ucCSignalMode{1};
    std::unique_ptr<Event> hCEvent;   // manual reset, non-signalled
    std::unique_ptr<Event> pCTEvent;  // manual reset, non-signalled (signal mode 7)
    std::string sCReply;
    std::string sCRawReply;
    ZelWindow hCWnd = 0;
    std::atomic<bool> bCTimeoutArmed{false};
    std::atomic<bool> bCConnected{false};
    std::atomic<bool> bCConnecting{false};
    // The first three words of the identify reply.
    std::string sCIdentifyWord1, sCIdentifyWord2, sCIdentifyWord3;
    // The two hexadecimal switch words of the identify reply.
    uint16_t usCSwitchWord1 = 0, usCSwitchWord2 = 0;
    int nCMachineType = 1;
    uint8_t ucCBaudCode = 4;
    int nCSwitchBits = 0;  // switch word 2 AND 0xC0
    bool bCUseDefaultConnect = true;
    std::string sCConnectString = "0 mode\r\nclear\r\n0 setioport\r\nm ge ge ge\r\n";
    std::string sCConnectReply = "0\r\n0\r\n";
    std::string sCDisconnectString;
    double dCVersion = 0;
    std::string sCIdentify;
    std::string sCVersionText;
    uint8_t ucCType = kModelDefault;
    std::string sCTypeName;
    int nCLongTimeout = 5000;
    int nCTimeout = 1000;
    std::atomic<bool> bCBreak{false};
    // Simulated state of demo mode, multi-axis command set.
    int nCDemoStatus = 0;
    double dCDemoVelocity = 10;
    double dCDemoAcceleration = 100;
    double dCDemoJoystickSpeed = 10;
    std::atomic<uint32_t> dwCDeadline{0};
    std::unique_ptr<TCommand> pCLastCommand;
    unsigned unCTimerId = 0;
    unsigned unCMessage = 0;
    unsigned unCWaitMode = 0;
    // Model mask for the command table (bit per model family).
    int nCModelMask = 1;

    // Guards sCReply and sCRawReply between the serial threads and the caller.
    std::mutex mCReplyLock;
    // Serialises reply scanning: the serial event thread and the caller's
    // second look after a time-out never scan at the same time.
    std::mutex mCScanLock;
    // Woken whenever a reply completes, a wait is terminated or CTRL+C is
    // sent, so that flag-polling waits sleep instead of spinning.
    std::unique_ptr<Event> pCWakeup;

    // Copies of the reply texts taken under the lock.
    std::string Reply();
    std::string RawReply();

    int AxesCount() const { return static_cast<int>(pCAxes.size()); }
    bool SingleAxisCommands() const { return (ucCCmdSet & kCmdSetSingle) != 0; }

    void ZelClearData();
    bool IsVReplyComplete();

    // ---- Command execution ----------------------------------------------
    // Frames, transmits and waits for the reply of one command line. True
    // when sent and, where a reply is awaited synchronously, complete.
    bool KvCExecuteCommand(const std::string& text, unsigned controlWord,
                           const std::string& expectedReply = std::string());
    // Reads and clears the line's error state after an incomplete
    // transmission; false when the line reports an error.
    bool KvCheckCommError(unsigned& errorWord);
    // Dispatches queued messages and the host pump; false after a close request.
    bool KvCProcessMessages();

    // ---- Reply scanning (serial event thread, or the caller in demo mode) -
    void KvCOnEventChar();
    int KvCCheckEvChars(const std::string& text);
    void KvCSetSignalState();
    void KvCOnBreak();
    void KvCOnError();
    bool KvCVerifyTimeout(uint32_t& waitResult);
    void KvCTerminateWaiting();
    std::string KvCReadReceived();
    bool KvCSetInterfaceKind(int kind);

    // ---- Reply parsing ----------------------------------------------------
    bool KvCScanReply(int scanCode, int axisIndex);
    bool KvSaveReply(int replyKind, int axisIndex);

    // ---- Port reset and abort --------------------------------------------
    bool KvCResetPort(int count);
    void KvCBreak();

    // ---- Connection ---------------------------------------------------------
    // The connect sequence; the result is bCConnected.
    bool KvCConnect(int argument);
    // Prepares and opens the port for interface kind `kind` (0: nCInterface).
    bool KvCSetupInterface(int kind);
    bool KvCDisconnect(int keep);
    bool KvCCOMDisConnect();
    void KvCSendDisconnectString();
    // 1 accepted, 0 refused, -1 unknown model with an old version word.
    // Trailing blanks and line ends are removed from `text` in place.
    int KvCCheckIdentifyString(std::string& text, int axisIndex);
    bool ProcessDIPSettings(const std::string& text);

    // ---- Positions and origin ---------------------------------------------
    bool KvCGetPos();
    bool KvCSetOrigin(int axisIndex);

    // ---- Demo-mode simulator ----------------------------------------------
    // Answers a transmission as a controller of the selected command set
    // would, sleeps for the transfer or motion time on the library clock and
    // runs the event-character handler.
    bool KvCProcessDemoCommand(const std::string& command, int expectedReplyLines, uint8_t unused = 0);

    // Applies a wait-mode word (0xFFFFFFFF: [Startup] "SerialMode" of the
    // configuration): signal mode, event kind, serial-line mode.
    void KvCSetWaitMode(unsigned word);

    // Model selection.
    void KvCSetControllerType(int modelId);
    void KvCSelectModelByName(const std::string& name);
    void KvCSelectModelByType(int typeBit);
    bool KvCBuildGetStatusString();
    // Copy of templ with every "%d" replaced by axisIndex + 1.
    static std::string KvCExpandAxisNumber(const std::string& templ, int axisIndex);

    // The command validator: created by the first model selection that finds
    // QUBRACOM.DAT in the current directory, its table reloaded at every
    // model selection after that.
    std::unique_ptr<KvVal> pCValidator;
    // Set once a command table has been read: ExecuteCommand validates only then.
    bool bCTableLoaded = false;
};

}  // namespace zel
