// The Printer Application's system object: listeners, state, drivers and
// the document filters, from the "server" sub-command's options.
#pragma once

#include <cups/cups.h>
#include <pappl/pappl.h>

namespace tpa {

pappl_system_t* systemCallback(const char* baseName, int numOptions, cups_option_t* options);

// A system that only lists drivers: no listeners, no state, no spool.
pappl_system_t* listingSystem(const char* baseName);

}  // namespace tpa
