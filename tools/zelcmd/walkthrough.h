// The walk-through of the library's calls against an open controller: every
// step and every result is printed as one line of standard output.
#ifndef ZELCMD_WALKTHROUGH_H
#define ZELCMD_WALKTHROUGH_H

#include "session.h"

namespace zelcmd {

struct WalkthroughOptions {
    bool calibrate = false;
    // Only this axis of a single-axis controller; 0: every axis in turn.
    int axis = 0;
    // Upper bound of one wait for standstill, in seconds.
    int standstillSeconds = 600;
    // How long the asynchronous check waits for its reply, in milliseconds.
    int asyncReplyMs = 10000;
};

// Runs the walk-through for the controller type of the settings: the
// all-axes routine for multi-axis controllers, the one-axis routine for each
// axis of a single-axis controller. The controller must be open. Returns 0,
// or the exit status of the first failure (reported on standard error).
int RunWalkthrough(const Settings& settings, MessageWindow& window, const WalkthroughOptions& options);

}  // namespace zelcmd

#endif  // ZELCMD_WALKTHROUGH_H
