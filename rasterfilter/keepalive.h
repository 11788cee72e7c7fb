// SIGTERM handler, the 10-second keep-alive timer and the zero filler.
//
// PLATFORM_C and PLATFORM_Z printers give up on a host that stays silent
// while a page is converted; two zero bytes every 10 seconds keep them
// waiting.  ModelListA models take no filler and get a note instead.
#pragma once

namespace rf {

// SIGTERM: asks the job loop to stop (cancelRequested = 1), nothing else.
void onTerminate(int signal);

// SIGALRM: two zero bytes straight to the printer stream with one write(2),
// only while outputBusy is 0; a note on the CUPS log for ModelListA models.
void onKeepAliveTimer(int signal);

// Start-up: SIGTERM to onTerminate, SIGPIPE ignored so that a vanished
// back end shows up as a failed write instead of killing the filter.
void installSignalHandlers();

// First page of a PLATFORM_C or PLATFORM_Z job: installs onKeepAliveTimer
// and lets it expire every 10 seconds until the process ends.  Caches the
// ModelListA test of modelName for the handler.  Returns false when the
// timer could not be set.
bool startKeepAliveTimer();

// The filler the writers put between records: 1 on success (also when a
// ModelListA model gets nothing), 0 on failure with the reason in errorText.
int Insert00();

}  // namespace rf
