// The information box and the built-in self-tests.
#include "interface/library_frame.h"

#include "platform/zel_clock.h"
#include "platform/zel_messages.h"
#include "platform/zel_system.h"
#include "serial/kv_serial.h"
#include "serial/wait_for_reply_thread.h"
#include "support/error_report.h"
#include "support/protocol_log.h"

#include <zelcomm/zelcomm.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>

using namespace zel;

namespace {

// Place numbers of the self-test boxes.
constexpr int kPlaceInfo = 7001;
constexpr int kPlaceTestOne = 7101;
constexpr int kPlaceTestException = 7103;
constexpr int kPlaceThreadException = 7104;

// Replies of test 1 go into buffers of 128 characters.
constexpr size_t kTestReplySize = 128;
// Time limit of the wait-for-reply thread exercises.
constexpr int kThreadTestLimitMs = 15000;

int KernelNumber(const std::string& release, size_t& pos) {
    long value = 0;
    while (pos < release.size() && release[pos] >= '0' && release[pos] <= '9') {
        if (value < 100000000) value = value * 10 + (release[pos] - '0');
        ++pos;
    }
    if (pos < release.size()) ++pos;
    return static_cast<int>(value);
}

int InfoImpl() {
    TController* c = Controller();
    if (!c) return ZEL_ERR_NO_CONTROLLER;
    std::unique_ptr<char[]> text(new (std::nothrow) char[1024]);
    std::unique_ptr<char[]> status(new (std::nothrow) char[512]);
    if (!text || !status) return ZEL_ERR_NO_MEMORY;

    PlatformInfo info;
    const bool known = ReadPlatformInfo(info);
    size_t pos = 0;
    const int major = known ? KernelNumber(info.release, pos) : 0;
    const int minor = known ? KernelNumber(info.release, pos) : 0;
    const int build = known ? KernelNumber(info.release, pos) : 0;
    const std::string csd = known ? info.sysname + " " + info.release + " " + info.version + " " + info.machine
                                  : std::string();
    if (c->bCConnected)
        std::snprintf(status.get(), 512, "Connected to %.200s at COM%d, Baudrate %d, Mode=%u/%d", c->sCName.c_str(),
                      c->nCPort + 1, BaudRateOfCode(c->ucCBaudCode), c->pCSerial->unLineMode.load(),
                      static_cast<int>(c->ucCSignalMode));
    else
        std::snprintf(status.get(), 512, "Not connected to Controller");
    std::snprintf(text.get(), 1024,
                  "ZelComm.dll Version 1.012\n\nStatus:\n\nRunning on %s\nWin32Platform=%d\nWin32MajorVersion=%d\n"
                  "Win32MinorVersion=%d\nWin32BuildNumber=%d\nWin32CSDVersion=%.300s\n\n%s",
                  "WIN32_NT", 2, major, minor, build, csd.c_str(), status.get());
    ErrorMessageBox(ActiveWindow(), text.get(), KvLoadText(101).c_str(), kModuleInterface, kPlaceInfo,
                    ZEL_MB_ICONINFORMATION | ZEL_MB_OK);
    return 0;
}

void ShowException(const char* format, const char* what, int place) {
    char text[400];
    std::snprintf(text, sizeof text, format, what ? what : "", 0u);
    ErrorMessageBox(ActiveWindow(), text, KvLoadText(100).c_str(), kModuleInterface, place,
                    ZEL_MB_ICONWARNING | ZEL_MB_OK);
}

int TestConversation(TController& c) {
    if (!c.bCConnected) return 0;
    char dim[kTestReplySize], limits[kTestReplySize], identify[kTestReplySize];
    int code = ExecuteCommandInternal("getdim", 1, dim, sizeof dim);
    if (code == 0) code = ExecuteCommandInternal("getlimit", 3, limits, sizeof limits);
    if (code == 0) code = ExecuteCommandInternal("identify", 1, identify, sizeof identify);
    if (code != 0) return code;
    char text[600];
    std::snprintf(text, sizeof text, "ZelCommTest:\n\ngetdim replied %s\ngetlimit replied %s\nidentify replied %s",
                  dim, limits, identify);
    ErrorMessageBox(ActiveWindow(), text, KvLoadText(100).c_str(), kModuleInterface, kPlaceTestOne,
                    ZEL_MB_ICONINFORMATION | ZEL_MB_OK);
    return 0;
}

int TestUnknownCommand() {
    KvGProtLog("[ZelCommTest, Executing unknown command (xyz)]\r\n", kLogTrace);
    char reply[256];
    const int code = ExecuteCommandInternal("xyz", 1, reply, sizeof reply);
    KvGProtLog("[ZelCommTest, xyz returned %d]\r\n", code, kLogTrace);
    return code;
}

int TestLongTimeout() {
    KvGProtLog("[ZelCommTest, Testing break condition with command (xyz) and 20sec timeout]\r\n", kLogTrace);
    TController* c = Controller();
    if (!c) return -1;
    c->nCTimeout = 20000;
    int code = 0;
    try {
        char reply[256];
        code = ExecuteCommandInternal("xyz", 1, reply, sizeof reply);
    } catch (const std::exception& e) {
        ShowException("Exception raised in ExecuteCommand(): %s at %X", e.what(), kPlaceTestException);
    }
    KvGProtLog("[ZelCommTest, xyz (no timeout) returned %d]\r\n", code, kLogTrace);
    c = Controller();
    if (!c) return -1;
    c->nCTimeout = 200;
    return code;
}

int TestWaitThread(TController& c, int test) {
    TKvSerial& serial = *c.pCSerial;
    // The new thread object replaces (and releases) the one before it.
    serial.ReplaceWaitForReplyThread(std::make_unique<TWaitForReplyThread>(&serial));
    TWaitForReplyThread* thread = serial.WaitForReplyThread();
    KvGProtLog("[ZelCommTest(), WaitForReplyThread::RunWaitForReply(%d ms)]\r\n", kThreadTestLimitMs, kLogTrace);
    try {
        int limit = kThreadTestLimitMs;
        const TWaitForReplyThread::ThreadFunction function = test == 4   ? TWaitForReplyThread::MyBeep
                                                             : test == 5 ? TWaitForReplyThread::MySleep
                                                                         : TWaitForReplyThread::WaitForReply;
        thread->Run(function, thread, &limit, true);
    } catch (const std::exception& e) {
        ShowException("Exception raised in Thread Handler: %s at %X", e.what(), kPlaceThreadException);
        KvGProtLog("[ZelCommTest(), WaitForReplyThread::RunWaitForReply, %s]\r\n", e.what(), kLogTrace);
    }
    KvGProtLog("[ZelCommTest(), WaitForReplyThread::RunWaitForReply returned]\r\n", kLogTrace);
    return 0;
}

int TestAbortThread(TController& c) {
    TWaitForReplyThread* thread = c.pCSerial->WaitForReplyThread();
    if (!thread || !thread->Running()) return 0;
    try {
        KvGProtLog("[ZelCommTest(), WaitForReplyThread->AbortThread()...]\r\n", kLogTrace);
        thread->AbortThread();
        // The abort releases the run; the parked worker itself is only
        // joined when its object is released.
        const uint32_t result = thread->EventRunDone.Wait(200);
        if (result == kWaitObject0)
            KvGProtLog("[WaitForSingleObject returned WAIT_OBJECT_0]\r\n", kLogTrace);
        else if (result == kWaitTimeout)
            KvGProtLog("[WaitForSingleObject returned TIMEOUT]\r\n", kLogTrace);
        else if (result == kWaitAbandoned)
            KvGProtLog("[WaitForSingleObject returned WAIT_ABANDONED]\r\n", kLogTrace);
        else
            KvGProtLog("[WaitForSingleObject returned %d, %d]\r\n", static_cast<int>(result),
                       static_cast<int>(TickCount()), kLogTrace);
        PostedMessage msg;
        while (PeekMessage(msg)) {
            KvGProtLog("[ZelCommTest(), PeekMessage() returned\nHWND=0x%x, Message=0x%x, LParam=0x%x, WParam=0x%x]\r\n",
                       static_cast<intptr_t>(msg.window), static_cast<int>(msg.message), static_cast<int>(msg.lParam),
                       static_cast<int>(msg.wParam), kLogTrace);
            DispatchMessage(msg);
        }
        KvGProtLog("[ZelCommTest(), WaitForReplyThread->AbortThread() done]\r\n", kLogTrace);
    } catch (const std::exception& e) {
        ShowException("Exception raised in Thread Handler: %s at %X", e.what(), kPlaceThreadException);
    }
    return 0;
}

int TestImpl(int test) {
    TController* c = Controller();
    switch (test) {
    case 1: return c ? TestConversation(*c) : 0;
    case 2: return TestUnknownCommand();
    case 3: return TestLongTimeout();
    case 4:
    case 5:
    case 6: return c ? TestWaitThread(*c, test) : 0;
    case 7: return c ? TestAbortThread(*c) : 0;
    default: return 0;
    }
}

}  // namespace

extern "C" {

ZELCOMM_API int ZelCommInfo(void) {
    try {
        return InfoImpl();
    } catch (const std::bad_alloc&) {
        return ZEL_ERR_NO_MEMORY;
    } catch (const std::exception&) {
        return ZEL_ERR_NO_MEMORY;
    }
}

ZELCOMM_API int ZelCommTest(int reserved, int test, int confirm) {
    (void)reserved;
    if (test != confirm) return 0;
    try {
        return TestImpl(test);
    } catch (const std::bad_alloc&) {
        return ZEL_ERR_NO_MEMORY;
    } catch (const std::exception& e) {
        ShowException("Exception raised in Thread Handler: %s at %X", e.what(), kPlaceThreadException);
        return 0;
    }
}

}  // extern "C"
