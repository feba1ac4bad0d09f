#include "support/library_state.h"

namespace zel {

LibraryState& State() {
    static LibraryState state;
    return state;
}

void ResetLibraryState() {
    LibraryState& s = State();
    s.testPoints = 0;
    s.terminating = false;
    s.decSepMode = 2;
    s.decSepChar = '.';
    s.rawReply = false;
    s.waitMode = 0;
    s.libraryVersion = 0.0;
    s.defaultPort = 2;
    s.defaultBaudRate = 9600;
    s.defaultAxes = 3;
}

}  // namespace zel
