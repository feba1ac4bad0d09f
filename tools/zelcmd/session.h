// The controller zelcmd talks to: its InitController arguments, the window
// that receives the library's posted messages, and opening and closing.
#ifndef ZELCMD_SESSION_H
#define ZELCMD_SESSION_H

#include <zelcomm/zelcomm.h>

#include <string>

namespace zelcmd {

// The synchronous wait mode, and the asynchronous one whose replies come
// back as posted messages.
constexpr unsigned kWaitModeSync = 0x00100904u;
constexpr unsigned kWaitModeAsync = 0x00100A04u;

struct Settings {
    int type = ZEL_TYPE_DEFAULT;
    int axes = 3;
    int port = 0;  // 0: [Startup] Port of the configuration
    int baud = 0;  // 0: [Startup] Baudrate of the configuration
    unsigned waitMode = kWaitModeSync;
};

// A window registered with the library. Its procedure fetches the reply of
// every ZEL_MSG_DEFAULT notification with GetReply and prints it as a line
// of standard output.
class MessageWindow {
public:
    MessageWindow();
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    ZelWindow Handle() const { return reinterpret_cast<ZelWindow>(this); }
    // Notifications of a reply so far, and the code of the last GetReply
    // that failed (0: none did).
    int Replies() const { return replies_; }
    int LastReplyError() const { return lastReplyError_; }
    // Dispatches posted messages until `count` replies have been fetched in
    // all, or timeoutMs have passed; true when they were.
    bool WaitForReplies(int count, int timeoutMs);

private:
    static intptr_t Procedure(void* context, ZelWindow window, unsigned message, intptr_t wParam,
                              intptr_t lParam);
    void OnNotification(intptr_t wParam);

    int replies_ = 0;
    int lastReplyError_ = 0;
};

// "InitController(1,3,2,9600,1050884)": the call with its arguments.
std::string InitCallText(const Settings& settings, unsigned waitMode);

// InitController with the settings and the window, then OpenController.
// Reports a failure on standard error and returns its exit status; 0 when
// the controller is open.
int OpenSession(const Settings& settings, const MessageWindow& window);
// CloseController; reports a failure and returns its exit status.
int CloseSession();

// Answers the library's message boxes on standard error: "caption: text",
// then Yes for a question and OK for anything else, so nothing blocks.
void InstallMessageBoxHandler();

}  // namespace zelcmd

#endif  // ZELCMD_SESSION_H
