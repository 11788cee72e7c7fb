#include "ppd_header.h"

#include <cstring>
#include <memory>

#include <cups/ppd.h>

namespace tpa {

namespace {

struct PpdCloser {
  void operator()(ppd_file_t* p) const { ppdClose(p); }
};
using PpdHandle = std::unique_ptr<ppd_file_t, PpdCloser>;

}  // namespace

bool ppdPageHeader(const std::string& ppdPath, const std::string& optionText, int copies,
                   cups_page_header2_t* header, std::string* prompt, std::string* why) {
  PpdHandle ppd(ppdOpenFile(ppdPath.c_str()));
  if (!ppd) {
    *why = "cannot read the printer's PPD file " + ppdPath;
    return false;
  }
  cups_option_t* options = nullptr;
  int n = cupsParseOptions(optionText.c_str(), 0, &options);
  ppdMarkDefaults(ppd.get());
  cupsMarkOptions(ppd.get(), n, options);
  std::memset(header, 0, sizeof *header);
  int rc = cupsRasterInterpretPPD(header, ppd.get(), n, options, nullptr);
  cupsFreeOptions(n, options);
  if (rc < 0) {
    *why = std::string("the PPD's option code failed: ") + cupsRasterErrorString();
    return false;
  }
  header->NumCopies = static_cast<unsigned>(copies > 0 ? copies : 1);
  char text[1024] = {};
  *prompt = ppdLocalizeIPPReason(ppd.get(), "MDuplex", nullptr, text, sizeof text) ? text : "";
  return true;
}

}  // namespace tpa
