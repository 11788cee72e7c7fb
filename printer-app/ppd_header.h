// The raster page header CUPS would make for a job: the model's PPD with
// the job's options marked, interpreted by libcups as CUPS's own raster
// filters do.
#pragma once

#include <string>

#include <cups/raster.h>

namespace tpa {

// Fills `header` from the PPD at `ppdPath` with `optionText` marked and
// `copies` copies, and `prompt` with the PPD's manual-duplex prompt (its
// "MDuplex" text, empty when it has none).  False (with the reason in
// *why) when the PPD cannot be read or interpreted.
bool ppdPageHeader(const std::string& ppdPath, const std::string& optionText, int copies,
                   cups_page_header2_t* header, std::string* prompt, std::string* why);

}  // namespace tpa
