// Process and thread facts for the diagnostics of the test-point word.
#pragma once

namespace zel {

// Nice value of the process (getpriority), 0 when it cannot be read.
int ProcessPriority();
// Nice value of the calling thread, 0 when it cannot be read.
int ThreadPriority();

}  // namespace zel
