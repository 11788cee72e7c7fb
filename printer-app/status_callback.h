// The printer's own status and supplies, the test page and identify, as
// PAPPL driver callbacks.  The status itself comes from the status watch
// (status_watch.h), which asks the printer in the background.
#pragma once

#include <pappl/pappl.h>

namespace tpa {

// Sets the status and test-page callbacks, says that no model can identify
// itself (no light, no sound), and that only a network printer has
// supplies to show.
void setStatusCallbacks(pappl_pr_driver_data_t* data, const char* deviceUri);

// PAPPL's status callback: nothing to do, the watch keeps the state.
bool statusCallback(pappl_printer_t* printer);

}  // namespace tpa

namespace tpa {

// At a first start (no state yet): a printer for each USB printer plugged
// in whose IEEE 1284 device ID names one of our models, so it appears
// without any command.  Returns how many were added.
int addUsbPrinters(pappl_system_t* system);

}  // namespace tpa
