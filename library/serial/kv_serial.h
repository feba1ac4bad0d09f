// The serial line object: owns the one port of a controller, its line
// settings and (while open) its threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel {

class TController;

class TKvSerial {
public:
    explicit TKvSerial(TController* owner);
    virtual ~TKvSerial();
    TKvSerial(const TKvSerial&) = delete;
    TKvSerial& operator=(const TKvSerial&) = delete;

    // Operations a transport implements; tests replace them with a scripted line.
    virtual bool OpenIt();
    virtual void CloseIt();

    void SetActive(bool active);
    void SetPort(int n);

    bool bActive = false;
    std::vector<std::string> pPortNames;  // "COM1".."COM8" of the ports found present
    int nPort = 0;
    int hPort = -1;                      // descriptor of the open port
    bool bDemoOpen = false;              // "open" in demo mode: no device behind it
    uint8_t ucDataBitsCode = 4;          // data bits = code + 4
    uint8_t ucParity = 0;
    uint8_t ucStopBits = 0;
    int nOutQueue = 2048;
    int nInQueue = 2048;
    bool bCtsRtsHandshake = false;
    bool bDsrDtrHandshake = false;
    bool bXonXoff = true;
    uint8_t ucXonChar = 0x11;
    uint8_t ucXoffChar = 0x13;
    int nXonLimit = 400;
    int nXoffLimit = 1600;
    uint8_t ucErrorChar = 0x3F;
    uint8_t ucEofChar = 0x1A;
    uint8_t ucEventChar = 0x0A;
    bool bParityCheck = false;
    bool bErrorCharReplace = false;
    bool bNullStrip = false;
    bool bAbortOnError = false;
    uint8_t ucThreadPriority = 3;
    int nControllerNumber = 0;
    std::string sExpectedReply;
    TController* pOwner = nullptr;
    unsigned unLineMode = 0;
    unsigned unWaitMode = 0;
    unsigned unEventMask = 0;
    std::vector<char> receiveBuffer;  // 1024 bytes: the text of one read
};

// XON/XOFF default for new serial objects ("UseXOnXOff" of the configuration).
void SetDefaultXonXoff(bool on);
bool DefaultXonXoff();

}  // namespace zel
