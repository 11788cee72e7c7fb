// What the web interface and IPP clients (through printer-strings-uri)
// call the printer's things: the vendor settings with a short word on what
// each does, the paper sources and sizes as the printer's PPDs name them,
// and draft quality as the toner save it is on these printers.
#pragma once

#include <string>

#include <pappl/pappl.h>

namespace tpa {

// The languages PAPPL has its own text for; each gets our labels, in
// English where there is no translation, so no page shows a raw name.
extern const char* const kWebLanguages[];
extern const size_t kWebLanguageCount;

// The strings file ("key" = "text";) for one of those languages.
std::string webStringsFor(const std::string& language);

// Adds a strings resource for every language to the system.
void addWebStrings(pappl_system_t* system);

}  // namespace tpa
