// Library load and unload: configuration, protocol, ports, the controller.
#include "interface/library_frame.h"

#include "platform/zel_messages.h"
#include "platform/zel_paths.h"
#include "platform/zel_process.h"
#include "platform/zel_profile.h"
#include "platform/zel_system.h"
#include "serial/kv_serial.h"
#include "serial/port_enumeration.h"
#include "serial/wait_for_reply_thread.h"
#include "support/error_report.h"
#include "support/library_state.h"
#include "support/protocol_log.h"

#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

namespace zel {

namespace {

const char* const kSection = "Startup";
// Place number of the warning about a connect reply without connect string.
constexpr int kPlaceConnectTextWarning = 10107;

// The diagnostic thread started by the process diagnostics.
std::mutex gDiagnosticMutex;
std::thread gDiagnosticThread;

void ShowDiagnosticBox(const char* text) {
    ShowMessageBox(0, text, "ZelComm.dll", ZEL_MB_OK);
}

void MyNewThreadFunc() { ShowDiagnosticBox("MyNewThreadFunc()"); }

void ReadConnectTexts(const Profile& profile, TController& c) {
    if (profile.ReadInteger(kSection, "UseDefaultConnectString", 1) != 0) return;
    const std::string connectString = profile.ReadString(kSection, "ConnectString", "");
    const std::string connectReply = profile.ReadString(kSection, "ConnectReply", "");
    if (connectString.empty() && !connectReply.empty()) {
        ErrorMessageBox(ActiveWindow(), KvLoadText(10107).c_str(), KvLoadText(100).c_str(),
                        kModuleInterface, kPlaceConnectTextWarning, ZEL_MB_ICONWARNING | ZEL_MB_OK);
        return;
    }
    c.bCUseDefaultConnect = false;
    c.sCConnectString = DecodeConnectText(connectString);
    c.sCConnectReply = DecodeConnectText(connectReply);
}

// Applies the configuration to the new controller, in the order the keys
// depend on each other.
void ApplyConfiguration(const Profile& profile, TController& c) {
    LibraryState& s = State();
    if (profile.ReadInteger(kSection, "PruskMode", 0) != 0) {
        c.sCConnectString.clear();
        c.sCConnectReply.clear();
    }
    c.KvCSelectModelByName(profile.ReadString(kSection, "CMode", "Default"));
    ReadConnectTexts(profile, c);
    int timeout = profile.ReadInteger(kSection, "TimeOut", 1000);
    if (timeout < 1) timeout = 1000;
    c.nCTimeout = timeout;
    KvGProtLog("[TimeOut=%d)]\r\n", timeout, kLogTrace);
    const int icon = profile.ReadInteger(kSection, "IcoAtConnect", 1) >= 1 ? 1 : 0;
    KvGProtLog("[IcoAtConnect=%d)]\r\n", icon, kLogTrace);
    s.defaultPort = profile.ReadInteger(kSection, "Port", 2);
    s.defaultBaudRate = profile.ReadInteger(kSection, "Baudrate", 9600);
    const bool xonXoff = profile.ReadInteger(kSection, "UseXOnXOff", 1) != 0;
    SetDefaultXonXoff(xonXoff);
    if (c.pCSerial) c.pCSerial->bXonXoff = xonXoff;
    s.defaultAxes = profile.ReadInteger(kSection, "Axes", 3);
    c.nCInterface = profile.ReadString(kSection, "Mode", "COM") == "DEMO" ? kInterfaceDemo : kInterfaceSerial;
}

}  // namespace

bool ZelLibraryAttach() {
    ResetLibraryState();
    LibraryState& s = State();
    InterfaceState& g = Interface();
    g.lastApiError = 0;

    const std::string& configPath = ConfigPath();
    const Profile profile = Profile::Load(configPath);
    const int protocol = profile.ReadInteger(kSection, "Protocol", 0);
    if (protocol != 0) KvDiagProtSetupFile(true, protocol, 1);
    s.testPoints = static_cast<unsigned>(profile.ReadInteger(kSection, "TestPointMode", 0));
    KvGProtLog("[TestPointMode=%d]\r\n", static_cast<int>(s.testPoints.load()), kLogTrace);

    KvCheckSerPorts();

    g.commandBuffer = std::make_unique<char[]>(kWorkBufferSize);
    g.replyScratch = std::make_unique<char[]>(kWorkBufferSize);
    g.commandBuffer[0] = '\0';
    g.replyScratch[0] = '\0';

    try {
        // The serial object takes the XON/XOFF default at construction.
        SetDefaultXonXoff(profile.ReadInteger(kSection, "UseXOnXOff", 1) != 0);
        g.controller = std::make_unique<TController>(0);
    } catch (const std::exception&) {
        g.controller.reset();
        return false;
    }
    ApplyConfiguration(profile, *g.controller);
    g.controller->KvCBuildGetStatusString();

    s.decSepMode = 2;
    s.decSepChar = SystemDecimalSeparator();
    return true;
}

namespace {

void LogDispatchedMessages(const char* format) {
    PostedMessage msg;
    while (PeekMessage(msg)) {
        KvGProtLog(format, static_cast<intptr_t>(msg.window), static_cast<int>(msg.message),
                   static_cast<int>(msg.lParam), static_cast<int>(msg.wParam), kLogTrace);
        DispatchMessage(msg);
    }
}

void ReportUnloadException(const char* what) {
    char text[300];
    std::snprintf(text, sizeof text, "Exception %s raised at %X", what ? what : "", 0u);
    ErrorMessageBox(0, text, KvLoadText(100).c_str(), kModuleInterface, 0, ZEL_MB_ICONWARNING | ZEL_MB_OK);
}

}  // namespace

void KvCleanupDll() {
    try {
        State().terminating = true;
        {
            std::lock_guard<std::mutex> lock(gDiagnosticMutex);
            if (gDiagnosticThread.joinable()) gDiagnosticThread.join();
        }
        InterfaceState& g = Interface();
        g.commandBuffer.reset();
        g.replyScratch.reset();
        if (TController* c = g.controller.get()) {
            if (c->bCWaitingForReply && c->unCEventKind == 0x2000) {
                KvGProtLog("[KvCleanupDll(), MC->bWaitingForReply==true]\r\n", kLogTrace);
                LogDispatchedMessages(
                    "[KvCleanupDll(), PeekMessage() returned\nHWND=0x%x, Message=0x%x, LParam=0x%x, "
                    "WParam=0x%x]\r\n");
                KvGProtLog("[KvCleanupDll(), MC->bWaitingForReply==true, ProcessMessages() done]\r\n",
                           kLogTrace);
            }
            try {
                // Disconnecting: the port is closed with its threads.
                c->KvCDisconnect(0);
                KvGProtLog("[TKvSerial::CloseIt(), WaitForReplyThread->Waiting?]\r\n", kLogTrace);
                TWaitForReplyThread* thread = c->pCSerial ? c->pCSerial->WaitForReplyThread() : nullptr;
                if (thread && thread->Running()) {
                    KvGProtLog("[TKvSerial::CloseIt(), WaitForReplyThread->AbortThread()...]\r\n", kLogTrace);
                    thread->AbortThread();
                    LogDispatchedMessages(
                        "[KvCleanupDll(), PeekMessage() returned\nHWND=0x%x, Message=0x%x, LParam=0x%x, "
                        "WParam=0x%x]\r\n");
                    KvGProtLog("[TKvSerial::CloseIt(), WaitForReplyThread->AbortThread() done]\r\n", kLogTrace);
                }
            } catch (const std::exception& e) {
                ReportUnloadException(e.what());
            }
            LogDispatchedMessages(
                "[KvCleanupDll(), PeekMessage() returned\nHWND=0x%x, Message=0x%x, LParam=0x%x, "
                "WParam=0x%x]\r\n");
            g.controller.reset();
        }
        if (ProtocolOn()) KvDiagProtSetupFile(false, -1, 1);
    } catch (const std::exception& e) {
        ReportUnloadException(e.what());
    } catch (...) {
        ReportUnloadException("unknown");
    }
}

void RunProcessDiagnostics() {
    char text[128];
    const int pid = ProcessId();
    const int tid = ThreadId();
    std::snprintf(text, sizeof text, "GetCurrentProcess=0x%08x (=%d)", static_cast<unsigned>(pid), pid);
    ShowDiagnosticBox(text);
    std::snprintf(text, sizeof text, "GetPriorityClass=%d", ProcessPriority());
    ShowDiagnosticBox(text);
    std::snprintf(text, sizeof text, "GetCurrentProcessId=%d", pid);
    ShowDiagnosticBox(text);
    std::snprintf(text, sizeof text, "GetCurrentThread=0x%08x (=%d)", static_cast<unsigned>(tid), tid);
    ShowDiagnosticBox(text);
    std::snprintf(text, sizeof text, "GetCurrentThreadId=%d", tid);
    ShowDiagnosticBox(text);
    std::snprintf(text, sizeof text, "GetThreadPriority=%d", ThreadPriority());
    ShowDiagnosticBox(text);
    std::lock_guard<std::mutex> lock(gDiagnosticMutex);
    // One diagnostic thread at a time: a repeated run waits for the last one.
    if (gDiagnosticThread.joinable()) gDiagnosticThread.join();
    long long handle = -1;
    try {
        gDiagnosticThread = std::thread(MyNewThreadFunc);
        handle = static_cast<long long>(gDiagnosticThread.native_handle() & 0x7FFFFFFF);
    } catch (const std::exception&) {
        handle = -1;
    }
    if (handle == -1)
        std::snprintf(text, sizeof text, "CreateThread=0x%08x (=INVALID_HANDLE_VALUE)", 0xFFFFFFFFu);
    else
        std::snprintf(text, sizeof text, "CreateThread=0x%08x (=%d)", static_cast<unsigned>(handle),
                      static_cast<int>(handle));
    ShowDiagnosticBox(text);
}

}  // namespace zel
