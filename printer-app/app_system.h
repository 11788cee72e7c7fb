// The Printer Application's system object: listeners, state, drivers and
// the document filters, from the "server" sub-command's options.
#pragma once

#include <vector>

#include <cups/cups.h>
#include <pappl/pappl.h>

namespace tpa {

// `drivers` is the driver table the program hands papplMainloop: printers
// come back from the state file with it, so it is set before the state loads.
pappl_system_t* systemCallback(const char* baseName, int numOptions, cups_option_t* options,
                               std::vector<pappl_pr_driver_t>& drivers);

// A system that only lists drivers: no listeners, no state, no spool.
pappl_system_t* listingSystem(const char* baseName);

}  // namespace tpa
