// Windows and posted messages on Linux: applications register a window
// procedure for a window handle of their choice; the library posts
// notifications into one process-wide FIFO queue and they are delivered by
// ZelDispatchMessages (or by the library's own message pumps) on the thread
// that dispatches. Also the host pump hook and the message-box handler.
#pragma once

#include <zelcomm/zelcomm.h>

#include <cstdint>
#include <functional>

namespace zel {

struct PostedMessage {
    ZelWindow window = 0;
    unsigned message = 0;
    intptr_t wParam = 0;
    intptr_t lParam = 0;
};

// At most this many messages wait in the queue; a post beyond it fails.
constexpr size_t kMaxQueuedMessages = 100000;

// PostMessage: appends to the queue, never blocks, never calls the window
// procedure. Returns false (and posts nothing) when the window has no
// procedure, as posting to an invalid window fails, or when the queue is
// full. The caller logs the failure.
bool PostMessage(ZelWindow window, unsigned message, intptr_t wParam, intptr_t lParam);

// Removes the oldest queued message; false when the queue is empty.
bool PeekMessage(PostedMessage& out);
// Calls the window procedure of the message's window (if it still has one)
// without holding any lock of the queue: procedures may post and dispatch.
// Returns the procedure's result, 0 when the window has no procedure.
intptr_t DispatchMessage(const PostedMessage& msg);
// Delivers the queued messages on the calling thread, in order, including
// those posted while it runs, and returns how many reached a procedure. It
// stops when the queue is empty or after the messages queued at its start
// plus kMaxExtraDispatched more, so a procedure that posts to itself on every
// message cannot hold the caller forever; the rest stays queued (and the
// descriptor readable) for the next call. ZelDispatchMessages is this call.
constexpr size_t kMaxExtraDispatched = 1024;
int DispatchQueuedMessages();
// Number of queued messages.
size_t QueuedMessageCount();
// Eventfd readable while messages are queued (-1 if it could not be
// created; posting still works). Applications must not read it.
int MessageFd();
// Empties the queue and removes every registered window (tests, unload).
// The event pump and the message-box handler stay installed.
void ResetMessageState();

// Registry. SetWindowProc returns ZEL_OK, or ZEL_ERR_PARAMETER for window 0.
// Removing a procedure (null proc) also drops the messages still queued for
// that window.
int SetWindowProc(ZelWindow window, ZelWindowProc proc, void* context);
bool HasWindowProc(ZelWindow window);

// Host pump: calls the installed pump if any. Returns true when the host
// reports a close request and stores the window in closeWindow.
bool CallHostPump(ZelWindow& closeWindow);
void SetEventPump(ZelEventPump pump, void* context);
bool HasEventPump();

// Message boxes: goes to the installed handler, or writes "caption: text"
// to standard error and returns 0. Null texts count as empty.
int ShowMessageBox(ZelWindow owner, const char* text, const char* caption, unsigned type);
void SetMessageBoxHandler(ZelMessageBoxHandler handler, void* context);

// GetActiveWindow: there is no active window on Linux.
inline ZelWindow ActiveWindow() { return 0; }

}  // namespace zel
