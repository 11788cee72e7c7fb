// Raster page headers, as a file may hold them, through the header check
// and, for the pages it lets through, the page geometry and records of
// every class.  Input: the header's bytes, then one byte for the class.
#include <cstring>
#include <string>

#include "fuzz_target.h"
#include "job_state.h"
#include "page_path.h"
#include "raster_input.h"

using namespace rf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cups_page_header2_t header;
  if (size < sizeof header + 1) return 0;
  std::memcpy(&header, data, sizeof header);
  std::string why;
  if (checkRasterHeader(header, &why) != HeaderVerdict::Printable) {
    FUZZ_CHECK(!why.empty());
    return 0;
  }
  resetJobState();
  g_job.pageCount = 1 + data[sizeof header] / 4;
  RasterJob job;
  job.header = header;
  job.modelClass = static_cast<ModelClass>(1 + data[sizeof header] % 3);
  job.paperTable = paperTableForClass(job.modelClass);
  PageStartRecord rec;
  PageGeometry geo;
  fillPageStart(job, rec, geo);
  FUZZ_CHECK(geo.fwImgWPixel % 8 == 0);
  FUZZ_CHECK(geo.fwImgWPixel > 0 && geo.fwImgHPixel > 0);
  rotate180Decision(job, rec);
  makePageImageRecord(job, geo, nullptr);
  makePageEndRecord(job);
  return 0;
}

std::vector<std::string> fuzzSeeds() {
  std::vector<std::string> seeds;
  for (unsigned w : {420u, 421u, 595u, 612u, 500u}) {
    cups_page_header2_t h{};
    h.HWResolution[0] = h.HWResolution[1] = w == 612 ? 1200 : 600;
    h.PageSize[0] = w;
    h.PageSize[1] = 842;
    h.cupsWidth = h.cupsBytesPerLine = w * h.HWResolution[0] / 72;
    h.cupsHeight = 842 * h.HWResolution[1] / 72;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsNumColors = 1;
    h.NumCopies = 2;
    std::string s(reinterpret_cast<const char*>(&h), sizeof h);
    for (char cls : {'\x00', '\x05', '\x0a'}) seeds.push_back(s + cls);
  }
  return seeds;
}
