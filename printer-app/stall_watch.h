// Ends a server whose main loop has stopped, so that the service manager
// starts it again.  The main loop accepts every connection and saves the
// state; when it stops, no client is answered again.  PAPPL 1.3 can
// deadlock there: a job it refuses holds the printer's lock while it waits
// for the system's, and its state save and job clean-up take the two the
// other way round.  A state file that cannot be written (a hung network
// file system) stops it as well.
#pragma once

#include <pappl/pappl.h>

namespace tpa {

// The main loop calls this at least every few seconds (the state timer).
// The first call starts the watch: from then on, `seconds` without a call
// log the stall and end the process with exit status 1.  0 turns it off.
void stallWatchTick(pappl_system_t* system, int seconds);

}  // namespace tpa
