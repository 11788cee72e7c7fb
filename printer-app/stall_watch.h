// Ends a server whose main loop has stopped, so that the service manager
// starts it again.  The main loop accepts every connection and saves the
// state; when it stops, no client is answered again.  A state file that
// cannot be written (a hung network file system) stops it, and so would a
// lock-order fault in PAPPL (our build mends the one known): the watch is
// the last resort that turns a server answering nobody into a restart.
#pragma once

#include <pappl/pappl.h>

namespace tpa {

// The main loop calls this at least every few seconds (the state timer).
// The first call starts the watch: from then on, `seconds` without a call
// log the stall and end the process with exit status 1.  0 turns it off.
void stallWatchTick(pappl_system_t* system, int seconds);

}  // namespace tpa
