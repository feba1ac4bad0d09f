// The global state of the exported interface and the frame every exported
// call shares: the one controller, the last API error, the return-logging
// routine, the pre-check of the command calls, load and unload.
#pragma once

#include "engine/controller.h"

#include <memory>
#include <string>

namespace zel {

struct InterfaceState {
    std::unique_ptr<TController> controller;
    int lastApiError = 0;
    // Work buffers of the typed calls: command lines and replies they parse.
    std::unique_ptr<char[]> commandBuffer;
    std::unique_ptr<char[]> replyScratch;
};

constexpr size_t kWorkBufferSize = 256;

InterfaceState& Interface();
inline TController* Controller() { return Interface().controller.get(); }

// Writes "[ZelComm returning %d (0.%d)]" and returns code.
int ZelReturn(int code, int callSite);

// ExecuteCommand without the exception guard, for the typed calls that are
// built on it: reply receives at most replySize bytes (always terminated).
int ExecuteCommandInternal(const char* command, int lines, char* reply, size_t replySize);

// The pre-check of the axis and motion calls. Leaves its verdict in the last
// API error; true when the call may proceed.
bool KvReadyToExecuteCommand(int allowedModels, int axis, int callSite, bool checkModel);

// Library load and unload. Attach returns false when the controller could
// not be created.
bool ZelLibraryAttach();
void KvCleanupDll();

// Decodes "[13][10]"-style character codes of a configured connect text.
std::string DecodeConnectText(const std::string& text);

// The process and thread diagnostics of test point 2.
void RunProcessDiagnostics();

}  // namespace zel
