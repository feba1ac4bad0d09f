// Process attach and detach of the shared library.
#include "interface/library_frame.h"

namespace {

__attribute__((constructor)) void ZelCommProcessAttach() {
    // A failed attach leaves the library without a controller: every call
    // then reports "no controller" (6) instead of the process failing to load.
    zel::ZelLibraryAttach();
}

__attribute__((destructor)) void ZelCommProcessDetach() { zel::KvCleanupDll(); }

}  // namespace
