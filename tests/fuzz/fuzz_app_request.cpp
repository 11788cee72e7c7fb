// A Printer Application job's IPP attributes through the job settings,
// the filter's option text, the page header the model's PPD gives and the
// Ghostscript command.  Whatever a client sends, the option text holds
// only the model's own choices, the PPD accepts it and the header is the
// page the settings name.
// Input: model, media width and length (2 bytes each, hundredths of mm),
// resolution, flags, darkness, print-darkness, copies, then zero-separated
// texts: media-source, sides, multiple-document-handling, the six vendor
// booleans, blank suppress.
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "drivers.h"
#include "fuzz_target.h"
#include "job_request.h"
#include "ppd_header.h"

using namespace tpa;

namespace {

std::string next_text(const uint8_t*& p, const uint8_t* end) {
  const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(p, 0, static_cast<size_t>(end - p)));
  const uint8_t* stop = nul ? nul : end;
  std::string s(reinterpret_cast<const char*>(p), static_cast<size_t>(stop - p));
  p = nul ? nul + 1 : end;
  return s;
}

// Every option is NAME=VALUE with both made of letters, digits and '.'.
bool only_choices(const std::string& text) {
  for (char c : text)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '=' && c != ' ' && c != '.') return false;
  return true;
}

// The page in points the PageSize choice names.
bool expected_page(const DriverModel& m, const std::string& pageSize, int* w, int* h) {
  if (pageSize.compare(0, 7, "Custom.") == 0)
    return std::sscanf(pageSize.c_str() + 7, "%dx%d", w, h) == 2;
  for (const MediaRow& r : m.media)
    if (r.ppdName == pageSize) {
      *w = r.widthPt;
      *h = r.heightPt;
      return true;
    }
  return false;
}

// The models' PPDs of the build tree the program is in (<build>/ppd).
std::string ppd_path(const rf::ModelInfo& model) {
  static const std::string dir = [] {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string d(self, n > 0 ? static_cast<size_t>(n) : 0);
    return d.substr(0, d.rfind('/')) + "/../ppd/";
  }();
  return dir + model.ppdName;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 10) return 0;
  const std::vector<DriverModel>& models = driverModels();
  const DriverModel& model = models[data[0] % models.size()];
  JobAttributes a;
  a.mediaWidth = data[1] << 8 | data[2];
  a.mediaLength = data[3] << 8 | data[4];
  static const int kResolutions[] = {0, 300, 600, 1200, 2400, -1, 601, 100000};
  a.resolution = kResolutions[data[5] % 8];
  a.defaultResolution = data[6] & 1 ? 1200 : 600;
  a.draft = data[6] & 2;
  a.darknessConfigured = data[7] - 20;
  a.printDarkness = static_cast<int8_t>(data[8]) * 2;
  a.copies = static_cast<int8_t>(data[9]);
  const uint8_t* p = data + 10;
  const uint8_t* end = data + size;
  a.source = next_text(p, end);
  a.sides = next_text(p, end);
  a.documentHandling = next_text(p, end);
  for (size_t i = 0; i < kVendorBooleanCount; ++i) a.vendor[i] = next_text(p, end);
  a.blankSuppress = next_text(p, end);

  JobRequest r;
  std::string why;
  if (!jobRequestFrom(a, model.media, *model.info, &r, &why)) {
    FUZZ_CHECK(!why.empty());
    return 0;
  }
  FUZZ_CHECK(r.copies >= 1 && r.density >= 0 && r.density <= 4);
  FUZZ_CHECK(r.resolution == 600 || (r.resolution == 1200 && model.info->resolution1200));
  const std::string text = optionText(*model.info, r);
  FUZZ_CHECK(only_choices(text));
  int w = 0, h = 0;
  FUZZ_CHECK(expected_page(model, r.pageSize, &w, &h));

  cups_page_header2_t header;
  std::string prompt;
  FUZZ_CHECK(ppdPageHeader(ppd_path(*model.info), text, r.copies, &header, &prompt, &why));
  FUZZ_CHECK(static_cast<int>(header.HWResolution[0]) == r.resolution);
  FUZZ_CHECK(std::abs(static_cast<int>(header.PageSize[0]) - w) <= 1);
  FUZZ_CHECK(std::abs(static_cast<int>(header.PageSize[1]) - h) <= 1);
  FUZZ_CHECK((header.Duplex != 0) == (r.sides != Sides::OneSided));

  const std::vector<std::string> gs = ghostscriptArgs("/usr/bin/gs", header, "job.pdf");
  FUZZ_CHECK(gs.back() == "job.pdf" && gs.size() < 40);
  return 0;
}

std::vector<std::string> fuzzSeeds() {
  auto seed = [](std::string head, std::initializer_list<const char*> texts) {
    for (const char* t : texts) head += std::string(t) + '\0';
    return head;
  };
  return {
      // A4 one-sided on the first model.
      seed(std::string("\x00\x52\x08\x74\x04\x02\x00\x46\x00\x01", 10), {"auto", "one-sided", ""}),
      // Letter, duplex, 1200 dpi, manual feed, uncollated copies, vendor settings on.
      seed(std::string("\x10\x54\x6c\x6d\x3c\x03\x01\x70\x20\x03", 10),
           {"manual", "two-sided-short-edge", "separate-documents-uncollated-copies", "true", "true", "true",
            "true", "true", "true", "printer-setting"}),
      // A custom 100 x 150 mm page, draft, lightest.
      seed(std::string("\x2a\x27\x10\x3a\x98\x00\x02\x00\x80\x00", 10), {"tray-1", "two-sided-long-edge"}),
  };
}
