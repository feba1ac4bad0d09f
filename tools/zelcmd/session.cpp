#include "session.h"

#include "support.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include <poll.h>
#include <unistd.h>

namespace zelcmd {

MessageWindow::MessageWindow() { ZelSetWindowProc(Handle(), &MessageWindow::Procedure, this); }

MessageWindow::~MessageWindow() { ZelSetWindowProc(Handle(), nullptr, nullptr); }

intptr_t MessageWindow::Procedure(void* context, ZelWindow, unsigned message, intptr_t wParam,
                                  intptr_t) {
    if (message == ZEL_MSG_DEFAULT) static_cast<MessageWindow*>(context)->OnNotification(wParam);
    return 0;
}

void MessageWindow::OnNotification(intptr_t wParam) {
    if (wParam == ZEL_NOTIFY_BREAK) {
        // No reply to fetch: clear the line and tell the user.
        ResetComm();
        std::fprintf(stderr, "zelcmd: BREAK detected!\n");
        return;
    }
    // A complete reply, or a line error, which ends the reply as well.
    char reply[4096];
    reply[0] = '\0';
    ++replies_;
    const int result = GetReplyEx(reply, sizeof reply);
    if (result != ZEL_OK) {
        lastReplyError_ = result;
        ReportFailure("GetReply", result);
        return;
    }
    std::printf("%s\n", ReplyForPrinting(reply).c_str());
    std::fflush(stdout);
}

bool MessageWindow::WaitForReplies(int count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int fd = ZelMessageFd();
    for (;;) {
        ZelDispatchMessages();
        if (replies_ >= count) return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        if (fd < 0) {
            // Without the descriptor, look again a little later.
            ::usleep(10000);
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno != EINTR) return false;
    }
}

std::string InitCallText(const Settings& s, unsigned waitMode) {
    char text[128];
    std::snprintf(text, sizeof text, "InitController(%d,%d,%d,%d,%u)", s.type, s.axes, s.port, s.baud,
                  waitMode);
    return text;
}

int OpenSession(const Settings& s, const MessageWindow& window) {
    int result = InitController(s.type, s.axes, s.port, s.baud, window.Handle(), ZEL_MSG_DEFAULT,
                                s.waitMode);
    if (result != ZEL_OK) return ReportFailure(InitCallText(s, s.waitMode), result);
    result = OpenController();
    if (result != ZEL_OK) {
        const int status = ReportFailure("OpenController", result);
        const char* path = ZelConfigPath();
        std::fprintf(stderr, "zelcmd: configuration file: %s%s\n", path,
                     ::access(path, F_OK) == 0 ? "" : " (not found)");
        return status;
    }
    return 0;
}

int CloseSession() {
    const int result = CloseController();
    return result == ZEL_OK ? 0 : ReportFailure("CloseController", result);
}

namespace {

int AnswerMessageBox(void*, ZelWindow, const char* text, const char* caption, unsigned type) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    switch (type & 0x0Fu) {
        case ZEL_MB_YESNO:
        case 0x03u:  // Yes/No/Cancel
            return ZEL_IDYES;
        default:
            return ZEL_IDOK;
    }
}

}  // namespace

void InstallMessageBoxHandler() { ZelSetMessageBoxHandler(&AnswerMessageBox, nullptr); }

}  // namespace zelcmd
