// The printer's own status and supplies, the test page and identify, as
// PAPPL driver callbacks.  PAPPL asks for the status itself while no job
// runs (each Get-Printer-Attributes, at most once a second, and at start).
#pragma once

#include <pappl/pappl.h>

namespace tpa {

// Sets the status and test-page callbacks, says that no model can identify
// itself (no light, no sound), and that only a network printer has
// supplies to show.
void setStatusCallbacks(pappl_pr_driver_data_t* data, const char* deviceUri);

// One poll of the printer: its reasons and, over the network, its
// supplies.  Takes the printer's device only when no job holds it.
bool statusCallback(pappl_printer_t* printer);

}  // namespace tpa

namespace tpa {

// At a first start (no state yet): a printer for each USB printer plugged
// in whose IEEE 1284 device ID names one of our models, so it appears
// without any command.  Returns how many were added.
int addUsbPrinters(pappl_system_t* system);

}  // namespace tpa
