// The connect sequence, identification and disconnecting.
#include "engine/controller.h"

#include "platform/zel_messages.h"
#include "serial/kv_serial.h"
#include "support/error_report.h"
#include "support/library_state.h"
#include "support/protocol_log.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace zel {

namespace {

const char* const kSkip = "Skip";
// Place numbers of the connect sequence's reports.
constexpr int kPlaceVersion = 6168;
constexpr int kPlaceSetdim = 6235;
constexpr int kPlaceIdentifyItems = 5089;

// Identify replies are copied into a 256-character work buffer.
constexpr size_t kIdentifyCopy = 255;
constexpr size_t kIdentifyMaxLength = 64;

bool IdentifyCharacter(unsigned char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == ' ' ||
           ch == '_' || ch == '-';
}

bool WhiteSpace(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f'; }

// Up to `most` words separated by white space.
std::vector<std::string> Words(const std::string& text, size_t most) {
    std::vector<std::string> words;
    size_t i = 0;
    while (words.size() < most) {
        while (i < text.size() && WhiteSpace(text[i])) ++i;
        if (i >= text.size()) break;
        const size_t start = i;
        while (i < text.size() && !WhiteSpace(text[i])) ++i;
        words.emplace_back(text, start, i - start);
    }
    return words;
}

// Reads a hexadecimal switch word as a formatted-input conversion would:
// an optional 0x, then at least one hexadecimal digit; the rest is ignored.
bool HexWord(const std::string& word, unsigned& value) {
    size_t i = 0;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) i = 2;
    unsigned long v = 0;
    bool any = false;
    for (; i < word.size(); ++i) {
        const char ch = word[i];
        int digit;
        if (ch >= '0' && ch <= '9') digit = ch - '0';
        else if (ch >= 'a' && ch <= 'f') digit = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F') digit = ch - 'A' + 10;
        else break;
        v = ((v << 4) | static_cast<unsigned long>(digit)) & 0xFFFFFFFFul;
        any = true;
    }
    value = static_cast<unsigned>(v);
    return any;
}

// Baud-rate setting of switch word 2 -> baud code; 7 keeps the code.
const int kSwitchBaudCodes[] = {9, 8, 7, 6, 5, 4, 3, -1};

const char* const kModelNames[] = {"Varne", "Prusk", "Jovek", "Wendalo", "Fistra", "Ulmeta"};

}  // namespace

bool TController::KvCSetupInterface(int kind) {
    KvGProtLog("[TController%d::KvCSetupInterface(%d)]\r\n", nCNumber, kind, kLogTrace);
    if (TestPointSet(kTpSetupFails)) return false;
    if (kind == 0) kind = nCInterface;
    (void)kind;  // serial and demo kinds prepare the port alike
    if (TestPointSet(kTpSerialSetupBeforePort)) return false;
    pCSerial->SetPort(nCPort + 1);
    if (TestPointSet(kTpSerialSetupAfterPort)) return false;
    if (!pCSerial->bActive) pCSerial->SetActive(true);
    const bool result = pCSerial->bActive;
    pCSerial->nControllerNumber = nCNumber;
    KvGProtLog("[TController%d::KvCSetupInterface() done, returning %d]\r\n", nCNumber, result ? 1 : 0,
               kLogTrace);
    return result;
}

void TController::KvCSendDisconnectString() {
    KvGProtLog("[TController%d::KvCSendDisconnectString()]\r\n", nCNumber, kLogTrace);
    if (bCConnected && !sCDisconnectString.empty()) {
        const int rounds = SingleAxisCommands() ? AxesCount() : 1;
        for (int i = 0; i < rounds; ++i) {
            const std::string text =
                SingleAxisCommands() ? KvCExpandAxisNumber(sCDisconnectString, i) : sCDisconnectString;
            if (!KvCExecuteCommand(text, 0x00020006u)) {
                KvGProtLog("[TController::KvCSendDisconnectString(), KvCExecuteCommand() failed]\r\n", kLogError);
                break;
            }
        }
    }
    KvGProtLog("[TController%d::KvCSendDisconnectString() done]\r\n", nCNumber, kLogTrace);
}

bool TController::KvCCOMDisConnect() {
    KvGProtLog("[TController%d::KvCCOMDisConnect()]\r\n", nCNumber, kLogTrace);
    KvCSendDisconnectString();
    KvCResetPort(1);
    pCSerial->SetActive(false);
    bCConnected = false;
    bCConnecting = false;
    pCSerial->SetExpectedReply(std::string());
    KvGProtLog("[TController%d::KvCCOMDisConnect() done]\r\n", nCNumber, kLogTrace);
    return true;
}

bool TController::KvCDisconnect(int keep) {
    (void)keep;
    return KvCCOMDisConnect();
}

int TController::KvCCheckIdentifyString(std::string& text, int axisIndex) {
    KvGProtLog("[KvCCheckIdentifyString(%s,%d)]\r\n", text.c_str(), axisIndex, kLogTrace);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
    const std::string copy = text.substr(0, kIdentifyCopy);
    KvGProtLog("[KvCCheckIdentifyString(), Identify=%s,Len=%d]\r\n", copy.c_str(), static_cast<int>(text.size()),
               kLogTrace);
    bool valid = !text.empty() && text.size() <= kIdentifyMaxLength;
    for (size_t i = 0; valid && i < text.size(); ++i) valid = IdentifyCharacter(static_cast<unsigned char>(text[i]));

    int result = 0;
    std::vector<std::string> words;
    if (valid) {
        words = Words(copy, 5);
        KvGProtLog("[KvCCheckIdentifyString(), %d items]\r\n", static_cast<int>(words.size()), kLogTrace);
        if (SingleAxisCommands()) {
            if (axisIndex < 0 || axisIndex >= AxesCount()) return 0;
            pCAxes[static_cast<size_t>(axisIndex)]->sAIdentify = text;
            result = 1;
        } else {
            result = words.size() == 5 ? 1 : 0;
            if (result == 1) {
                bool known = false;
                for (const char* name : kModelNames) known = known || words[0].find(name) != std::string::npos;
                if (!known && std::strcmp(words[2].c_str(), "223") < 0) result = -1;
            }
        }
        if (result == 1) {
            sCIdentify = text;
            sCIdentifyWord1 = words.size() > 0 ? words[0] : std::string();
            sCIdentifyWord2 = words.size() > 1 ? words[1] : std::string();
            sCIdentifyWord3 = words.size() > 2 ? words[2] : std::string();
        }
    }
    if (result == 1) {
        const std::string word1 = words.empty() ? std::string() : words[0];
        bool ask;
        if (sCTypeName == "Default") {
            ask = word1.empty() || word1 == "Varne-PC" || word1 == "Prusk" || word1 == "Fistra" ||
                  word1 == "Wendalo" || word1 == "Jovek" || word1 == "Ulmeta";
        } else {
            ask = word1.find(sCTypeName) == std::string::npos;
        }
        if (ask) {
            char question[512];
            std::snprintf(question, sizeof question,
                          "Controller identifies as %.200s,\nyou have selected %.200s.\nTry to connect anyway?",
                          word1.c_str(), sCTypeName.c_str());
            if (ShowMessageBox(ActiveWindow(), question, "Warning", ZEL_MB_YESNO | ZEL_MB_ICONWARNING) == ZEL_IDNO)
                result = 0;
        }
    }
    KvGProtLog("[KvCCheckIdentifyString() done]\r\n", kLogTrace);
    return result;
}

bool TController::ProcessDIPSettings(const std::string& text) {
    if (SingleAxisCommands()) return true;
    const std::vector<std::string> words = Words(text, 5);
    unsigned switch1 = 0, switch2 = 0;
    size_t items = words.size() < 3 ? words.size() : 3;
    if (items == 3 && words.size() > 3 && HexWord(words[3], switch1)) {
        ++items;
        if (words.size() > 4 && HexWord(words[4], switch2)) ++items;
    }
    if (items != 5) {
        ErrorMessageBox(ActiveWindow(), KvLoadText(109).c_str(), KvLoadText(100).c_str(), kModuleEngine,
                        kPlaceIdentifyItems, ZEL_MB_ICONWARNING | ZEL_MB_OK);
        KvGProtLog("[identify: %s --- ProcessDIPSettings-Error: invalid number of arguments]\r\n", text.c_str(),
                   kLogError);
        return true;
    }
    usCSwitchWord1 = static_cast<uint16_t>(switch1);
    usCSwitchWord2 = static_cast<uint16_t>(switch2);
    nCSwitchBits = static_cast<int>(switch2 & 0xC0u);
    if (ucCType == kModelDefault) {
        const int code = kSwitchBaudCodes[switch2 & 7u];
        if (code >= 0) ucCBaudCode = static_cast<uint8_t>(code);
        nCMachineType = static_cast<int>(switch1 & 1u);
        if (nCMachineType == 0) {
            KvGProtLog("[MachineType=TWOAXES]\r\n", kLogTrace);
            for (size_t a = 2; a < pCAxes.size(); ++a) {
                pCAxes[a]->ucAMode = 0;
                pCAxes[a]->ucAMode2 = 0;
            }
        }
    }
    return true;
}

bool TController::KvCConnect(int argument) {
    KvGProtLog("[TController%d::KvCConnect(%d)]\r\n", nCNumber, argument, kLogTrace);
    if (TestPointSet(kTpConnectFails)) return false;
    KvCDisconnect(1);
    bCConnecting = true;
    bCWaitingForReply = false;
    if (TestPointSet(kTpConnectFailsAfterReset)) return false;
    bool ok = KvCSetupInterface(0);

    // The whole sequence runs synchronously.
    const bool switched = ucCSignalMode == 4;
    if (switched) {
        ucCSignalMode = 3;
        KvGProtLog("[TController::KvCConnect(), switching from asyncronous to synchronous mode]\r\n", kLogTrace);
    }
    if (TestPointSet(kTpSetupResult)) return ok;

    const bool single = SingleAxisCommands();
    const bool skip = sCConnectString == kSkip;
    auto fail = [this, &ok](int code) {
        KvCDisconnect(0);
        if (code) nCLastError = code;
        ok = false;
    };

    // Connect string, per axis on the single-axis command set.
    for (int i = 0; ok && (single ? i < AxesCount() : i < 1); ++i) {
        const std::string text = single ? KvCExpandAxisNumber(sCConnectString, i) : sCConnectString;
        if (!text.empty() && text != kSkip) {
            const bool withReply = !sCConnectReply.empty();
            if (!KvCExecuteCommand(text, withReply ? 0x0402000Eu : 0x0002000Eu,
                                   withReply ? sCConnectReply : std::string()))
                fail(ZEL_ERR_COMMAND_FAILED);
        }
        pCSerial->SetExpectedReply(std::string());
    }

    // Identify (real controllers only).
    if (ok && nCInterface != kInterfaceDemo && !skip) {
        for (int i = 0; ok && (single ? i < AxesCount() : i < 1); ++i) {
            const std::string command = single ? std::to_string(i + 1) + " nidentify" : "identify";
            if (!KvCExecuteCommand(command, 0x01020006u)) {
                fail(ZEL_ERR_COMMAND_FAILED);
                break;
            }
            std::string reply = Reply();
            const int verdict = KvCCheckIdentifyString(reply, i);
            {
                std::lock_guard<std::mutex> lock(mCReplyLock);
                sCReply = reply;
            }
            if (verdict == 0)
                fail(ZEL_ERR_IDENTIFY);
            else if (verdict == -1)
                fail(ZEL_ERR_OLD_VERSION);
            else
                ProcessDIPSettings(reply);
        }
    }

    // Firmware version, also in demo mode.
    if (ok && !skip) {
        for (int i = 0; ok && (single ? i < AxesCount() : i < 1); ++i) {
            const std::string command = single ? std::to_string(i + 1) + " nversion" : "version";
            if (KvCExecuteCommand(command, 0x01020006u)) {
                KvSaveReply(1, i);
            } else {
                fail(0);
                const std::string message = sCName + ": Error connecting";
                ErrorMessageBox(ActiveWindow(), message.c_str(), KvLoadText(100).c_str(), kModuleEngine,
                                kPlaceVersion, ZEL_MB_ICONWARNING | ZEL_MB_OK);
            }
        }
    }

    // Announce the axis count.
    if (ok && !skip) {
        const int axes = AxesCount();
        if (ucCType == kModelVarne || ucCType == kModelUlmeta || (ucCType == kModelDefault && axes >= 1 && axes <= 3)) {
            if (!KvCExecuteCommand(std::to_string(axes) + " setdim", 0x0002000Eu)) {
                fail(0);
                const std::string message = sCName + ": Error processing setdim while connecting";
                ErrorMessageBox(ActiveWindow(), message.c_str(), KvLoadText(100).c_str(), kModuleEngine,
                                kPlaceSetdim, ZEL_MB_ICONWARNING | ZEL_MB_OK);
            }
        }
    }

    if (!ok && pCSerial->bActive) KvCDisconnect(0);
    bCConnecting = false;
    bCConnected = ok;
    if (switched) {
        ucCSignalMode = 4;
        KvGProtLog("[TController::KvCConnect(), switching back from synchronous to asynchronous mode]\r\n",
                   kLogTrace);
    }
    KvGProtLog("[TController%d::KvCConnect() done, returning %d]\r\n", nCNumber, ok ? 1 : 0, kLogTrace);
    return bCConnected;
}

}  // namespace zel
