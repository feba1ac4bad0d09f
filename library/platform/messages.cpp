// The process-wide message queue, the window-procedure registry, the host
// event pump and message boxes, with their exported C calls.
#include "platform/zel_messages.h"

#include "platform/zel_event.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <mutex>
#include <unordered_map>

#include <sys/eventfd.h>
#include <unistd.h>

namespace zel {

namespace {

struct WindowEntry {
    ZelWindowProc proc = nullptr;
    void* context = nullptr;
};

// Queue, registry and the eventfd share one lock. The eventfd's counter is
// non-zero exactly while the queue holds messages: it is set when the queue
// becomes non-empty and drained when it becomes empty, both under the lock.
struct MessageState {
    std::mutex mutex;
    std::deque<PostedMessage> queue;
    std::unordered_map<ZelWindow, WindowEntry> windows;
    int fd = -1;

    MessageState() { fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

    void MarkReadable() {
        if (fd < 0) return;
        const uint64_t one = 1;
        ssize_t n;
        do n = ::write(fd, &one, sizeof one); while (n < 0 && errno == EINTR);
    }
    void MarkEmpty() {
        if (fd < 0) return;
        uint64_t value;
        ssize_t n;
        do n = ::read(fd, &value, sizeof value); while (n < 0 && errno == EINTR);
    }
};

// Never destroyed: the library's unload and static destructors of the
// application may still post or dispatch.
MessageState& State() {
    static MessageState* const state = new MessageState;
    return *state;
}

struct Hooks {
    std::mutex mutex;
    ZelEventPump pump = nullptr;
    void* pumpContext = nullptr;
    ZelMessageBoxHandler boxHandler = nullptr;
    void* boxContext = nullptr;
};

Hooks& HookState() {
    static Hooks* const hooks = new Hooks;
    return *hooks;
}

}  // namespace

bool PostMessage(ZelWindow window, unsigned message, intptr_t wParam, intptr_t lParam) {
    MessageState& s = State();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.windows.find(window) == s.windows.end()) return false;
        if (s.queue.size() >= kMaxQueuedMessages) return false;
        s.queue.push_back(PostedMessage{window, message, wParam, lParam});
        if (s.queue.size() == 1) s.MarkReadable();
    }
    Event::NotifyMessagePosted();
    return true;
}

bool PeekMessage(PostedMessage& out) {
    MessageState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.queue.empty()) return false;
    out = s.queue.front();
    s.queue.pop_front();
    if (s.queue.empty()) s.MarkEmpty();
    return true;
}

namespace {

bool LookUpWindow(ZelWindow window, WindowEntry& entry) {
    MessageState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.windows.find(window);
    if (it == s.windows.end()) return false;
    entry = it->second;
    return true;
}

}  // namespace

intptr_t DispatchMessage(const PostedMessage& msg) {
    WindowEntry entry;
    if (!LookUpWindow(msg.window, entry)) return 0;
    return entry.proc(entry.context, msg.window, msg.message, msg.wParam, msg.lParam);
}

int DispatchQueuedMessages() {
    const size_t limit = QueuedMessageCount() + kMaxExtraDispatched;
    int delivered = 0;
    PostedMessage msg;
    for (size_t taken = 0; taken < limit && PeekMessage(msg); ++taken) {
        WindowEntry entry;
        if (!LookUpWindow(msg.window, entry)) continue;
        entry.proc(entry.context, msg.window, msg.message, msg.wParam, msg.lParam);
        ++delivered;
    }
    MessageState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.queue.empty()) {
        // Stopped at the limit: make sure the descriptor still reports the
        // rest, even if the application has read it.
        s.MarkEmpty();
        s.MarkReadable();
    }
    return delivered;
}

size_t QueuedMessageCount() {
    MessageState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.queue.size();
}

int MessageFd() { return State().fd; }

void ResetMessageState() {
    MessageState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.queue.empty()) s.MarkEmpty();
    s.queue.clear();
    s.windows.clear();
}

int SetWindowProc(ZelWindow window, ZelWindowProc proc, void* context) {
    if (window == 0) return ZEL_ERR_PARAMETER;
    MessageState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (proc) {
        s.windows[window] = WindowEntry{proc, context};
        return ZEL_OK;
    }
    s.windows.erase(window);
    // A removed window receives nothing more.
    const bool hadMessages = !s.queue.empty();
    s.queue.erase(std::remove_if(s.queue.begin(), s.queue.end(),
                                 [window](const PostedMessage& m) { return m.window == window; }),
                  s.queue.end());
    if (hadMessages && s.queue.empty()) s.MarkEmpty();
    return ZEL_OK;
}

bool HasWindowProc(ZelWindow window) {
    MessageState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.windows.find(window) != s.windows.end();
}

bool CallHostPump(ZelWindow& closeWindow) {
    ZelEventPump pump;
    void* context;
    {
        Hooks& h = HookState();
        std::lock_guard<std::mutex> lock(h.mutex);
        pump = h.pump;
        context = h.pumpContext;
    }
    if (!pump) return false;
    ZelWindow window = 0;
    if (pump(context, &window) == 0) return false;
    closeWindow = window;
    return true;
}

void SetEventPump(ZelEventPump pump, void* context) {
    Hooks& h = HookState();
    std::lock_guard<std::mutex> lock(h.mutex);
    h.pump = pump;
    h.pumpContext = pump ? context : nullptr;
}

bool HasEventPump() {
    Hooks& h = HookState();
    std::lock_guard<std::mutex> lock(h.mutex);
    return h.pump != nullptr;
}

int ShowMessageBox(ZelWindow owner, const char* text, const char* caption, unsigned type) {
    if (!text) text = "";
    if (!caption) caption = "";
    ZelMessageBoxHandler handler;
    void* context;
    {
        Hooks& h = HookState();
        std::lock_guard<std::mutex> lock(h.mutex);
        handler = h.boxHandler;
        context = h.boxContext;
    }
    if (handler) return handler(context, owner, text, caption, type);
    std::fprintf(stderr, "%s: %s\n", caption, text);
    return 0;
}

void SetMessageBoxHandler(ZelMessageBoxHandler handler, void* context) {
    Hooks& h = HookState();
    std::lock_guard<std::mutex> lock(h.mutex);
    h.boxHandler = handler;
    h.boxContext = handler ? context : nullptr;
}

}  // namespace zel

// ---- Exported calls -------------------------------------------------------

int ZelSetWindowProc(ZelWindow window, ZelWindowProc proc, void* context) {
    try {
        return zel::SetWindowProc(window, proc, context);
    } catch (...) {
        return ZEL_ERR_NO_MEMORY;
    }
}

int ZelDispatchMessages(void) {
    try {
        return zel::DispatchQueuedMessages();
    } catch (...) {
        return 0;
    }
}

int ZelMessageFd(void) {
    try {
        return zel::MessageFd();
    } catch (...) {
        return -1;
    }
}

void ZelSetEventPump(ZelEventPump pump, void* context) {
    try {
        zel::SetEventPump(pump, context);
    } catch (...) {
    }
}

void ZelSetMessageBoxHandler(ZelMessageBoxHandler handler, void* context) {
    try {
        zel::SetMessageBoxHandler(handler, context);
    } catch (...) {
    }
}
