// The command and reply calls of the exported interface.
#include "interface/library_frame.h"

#include "platform/zel_system.h"
#include "support/library_state.h"
#include "support/number_text.h"
#include "support/protocol_log.h"
#include "validation/kv_val.h"

#include <zelcomm/zelcomm.h>

#include <cstring>
#include <exception>

using namespace zel;

namespace {

// Text outputs without a length argument receive at most this many bytes.
constexpr size_t kDefaultReplySize = 256;

// Call-site numbers of the return-logging routine.
enum CallSite {
    kSiteExecuteEmpty = 101,
    kSiteExecuteNoBuffer = 102,
    kSiteExecuteNoTable = 103,
    kSiteExecuteFailed = 104,
    kSiteExecuteLines = 105,
    kSiteExecuteInvalid = 106,
};

}  // namespace

// Declared in library_frame.h: the typed calls are built on it.
int zel::ExecuteCommandInternal(const char* command, int lines, char* reply, size_t replySize) {
    InterfaceState& g = Interface();
    LibraryState& s = State();
    KvGProtLog("[ZelComm.dll-ExecuteCommand()]\r\n", kLogError);
    if (!command || !*command) {
        g.lastApiError = ZEL_ERR_EMPTY_COMMAND;
        return ZelReturn(g.lastApiError, kSiteExecuteEmpty);
    }
    KvGProtLog("[ZelComm.dll-ExecuteCommand(), Processing %s, %d]\r\n", command, lines, kLogError);
    TController* c = Controller();
    if (!c) {
        g.lastApiError = ZEL_ERR_NO_CONTROLLER;
        return ZelReturn(g.lastApiError, kSiteExecuteFailed);
    }
    // Reply lines are counted in one byte of the control word.
    if (lines < -1 || lines > 255) {
        g.lastApiError = ZEL_ERR_PARAMETER;
        return ZelReturn(g.lastApiError, kSiteExecuteLines);
    }
    if (lines != 0 && c->ucCSignalMode != 4 && !reply) {
        g.lastApiError = ZEL_ERR_NULL_POINTER;
        return ZelReturn(g.lastApiError, kSiteExecuteNoBuffer);
    }
    if (lines == -1) {
        // Validation against the command table, which also tells the reply lines.
        if (!c->pCValidator || !c->bCTableLoaded) {
            g.lastApiError = ZEL_ERR_NO_COMMAND_TABLE;
            return ZelReturn(g.lastApiError, kSiteExecuteNoTable);
        }
        char copy[kDefaultReplySize];
        const size_t length = ::strnlen(command, sizeof copy);
        KvGProtLog("[ZelComm.dll-ExecuteCommand(), Validating(%s,%d)]\r\n", command, c->AxesCount(), kLogError);
        int replyLines = 0;
        int errorIndex = -1;
        char errorText[kDefaultReplySize] = "";
        int result = kValTooManyArguments;  // a command the copy cannot hold is refused
        if (length < sizeof copy) {
            std::memcpy(copy, command, length + 1);
            result = QCValidate(copy, static_cast<int>(sizeof copy), c->AxesCount(), &replyLines, errorText,
                                &errorIndex);
        }
        if (result != kValOk) {
            KvGProtLog("[ZelComm.dll-ExecuteCommand(), Validate command error %d]\r\n", result, kLogError);
            g.lastApiError = result | ZEL_ERR_VALIDATION;
            return ZelReturn(g.lastApiError, kSiteExecuteInvalid);
        }
        // The table's count must fit the control word as well.
        if (replyLines < 0 || replyLines > 255) {
            g.lastApiError = ZEL_ERR_PARAMETER;
            return ZelReturn(g.lastApiError, kSiteExecuteLines);
        }
        lines = replyLines;
    }
    if (c->unCWaitMode != s.waitMode) c->KvCSetWaitMode(s.waitMode);
    const unsigned controlWord = (static_cast<unsigned>(lines) << 24) | 0x20006u;
    if (c->KvCExecuteCommand(command, controlWord)) {
        if (c->ucCSignalMode != 4 && reply) {
            if (lines != 0)
                CopyToBuffer(reply, replySize, s.rawReply ? c->RawReply() : c->Reply());
            else
                CopyToBuffer(reply, replySize, std::string());
        }
        KvGProtLog("[ZelComm.dll-ExecuteCommand() done]\r\n", kLogError);
        return 0;
    }
    if (s.terminating) {
        g.lastApiError = ZEL_ERR_TERMINATING;
        return ZEL_ERR_TERMINATING;
    }
    const int error = c->nCLastError != 0 ? c->nCLastError.load() : ZEL_ERR_COMMAND_FAILED;
    KvGProtLog("[ZelComm.dll-ExecuteCommand() returns error %d]\r\n", error, kLogError);
    g.lastApiError = error;
    return ZelReturn(error, kSiteExecuteFailed);
}

namespace {

int GetReplyImpl(char* reply, size_t replySize) {
    KvGProtLog("[GetReply()]\r\n", kLogTrace);
    if (!reply) return ZEL_ERR_NULL_POINTER;
    TController* c = Controller();
    if (!c) return ZEL_ERR_NO_CONTROLLER;
    if (!c->bCConnected) return ZEL_ERR_NOT_CONNECTED;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(c->mCReplyLock);
        text = State().rawReply ? c->sCRawReply : c->sCReply;
        // In streaming mode each call hands out the next piece.
        if (c->ucCSignalMode == 6) c->sCReply.clear();
    }
    CopyToBuffer(reply, replySize, text);
    KvGProtLog("[GetReply(%s) done]\r\n", text.c_str(), kLogTrace);
    c->bCWaitingForReply = false;
    return 0;
}

template <typename F>
int Guarded(F&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ZEL_ERR_NO_MEMORY;
    } catch (const std::exception&) {
        return ZEL_ERR_COMMAND_FAILED;
    }
}

}  // namespace

extern "C" {

ZELCOMM_API int ExecuteCommand(const char* command, int lines, char* reply) {
    return Guarded([&] { return ExecuteCommandInternal(command, lines, reply, kDefaultReplySize); });
}

ZELCOMM_API int ExecuteCommandEx(const char* command, int lines, char* reply, size_t replySize) {
    return Guarded([&] {
        if (lines != 0 && reply && replySize == 0) return ZEL_ERR_NULL_POINTER;
        return ExecuteCommandInternal(command, lines, reply, replySize);
    });
}

ZELCOMM_API int GetReply(char* reply) {
    return Guarded([&] { return GetReplyImpl(reply, kDefaultReplySize); });
}

ZELCOMM_API int GetReplyEx(char* reply, size_t replySize) {
    return Guarded([&] { return GetReplyImpl(replySize ? reply : nullptr, replySize); });
}

ZELCOMM_API int PreprocessReply(int flag) {
    State().rawReply = (flag & 0xFF) == 0;
    return 0;
}

ZELCOMM_API int SetDecimalSeparator(int separator) {
    LibraryState& s = State();
    const int low = separator & 0xFF;
    if (low == 0) {
        s.decSepMode = 2;
        s.decSepChar = SystemDecimalSeparator();
    } else if (low == 0xFF) {
        s.decSepMode = 0;
    } else {
        s.decSepMode = 3;
        s.decSepChar = static_cast<char>(low);
    }
    return 0;
}

ZELCOMM_API int AbortCommand(void) {
    return Guarded([] {
        TController* c = Controller();
        if (!c) return ZEL_ERR_NO_CONTROLLER;
        if (!c->bCConnected) return ZEL_ERR_NOT_CONNECTED;
        c->nCLastError = 0;
        c->KvCBreak();
        return c->nCLastError.load();
    });
}

ZELCOMM_API int ResetComm(void) {
    return Guarded([] {
        InterfaceState& g = Interface();
        TController* c = Controller();
        if (!c) {
            g.lastApiError = ZEL_ERR_NO_CONTROLLER;
            return ZEL_ERR_NO_CONTROLLER;
        }
        if (!c->bCConnected) g.lastApiError = ZEL_ERR_NOT_CONNECTED;
        c->KvCResetPort(1);
        return 0;
    });
}

}  // extern "C"
