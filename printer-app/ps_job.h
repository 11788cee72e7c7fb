// Printing a PAPPL job on a PostScript model the way a CUPS queue with the
// model's PPD prints it: CUPS's own filters make what the PPD asks for
// (PostScript with the PPD's job header, or PDF for the colour group),
// then jobwrapper runs as a child under the CUPS filter contract and its
// output is copied to the printer.
#pragma once

#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "ps_drivers.h"

namespace tpa {

// The PDF, PostScript, JPEG and PNG filters of the PostScript drivers.
void addPsDocumentFilters(pappl_system_t* system);

// The message of a job cancelled on the printer's panel.
extern const char kCancelledOnPrinter[];

// The print callbacks of the PostScript drivers.
void setPsPrintCallbacks(pappl_pr_driver_data_t* data);

// The CUPS filters a document of `format` passes before jobwrapper, in
// order, for the model's family (what CUPS picks for the PPD); empty when
// the format is not one the PostScript models take.
std::vector<std::string> psPrefilters(PsFamily family, const std::string& format);

// The option text for the filters: the PPD's choices for the job's media,
// sides, collation and feed edge.  False (with the reason) when the model
// cannot print the job's media.
struct PsJobSettings {
  int width = 0, length = 0;   // media size, hundredths of millimetres
  std::string sides;           // IPP "sides" keyword
  bool collate = false;        // separate-documents-collated-copies
  std::string feedEdge;        // "short-edge", "long-edge" or empty
  int firstPage = 0, lastPage = 0;  // page-ranges, 0 when none
};
bool psOptionText(const PsModel& model, const PsJobSettings& settings, std::string* text,
                  std::string* why);

}  // namespace tpa
