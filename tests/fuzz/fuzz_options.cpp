// Option text and PPD text through model classification, the job
// settings, the PPD defaults, the two probes and the named page size.
// Input: 3 control bytes (class, header Duplex, header Tumble), then the
// option text up to the first zero byte, then the PPD text.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_target.h"
#include "job_loop.h"
#include "job_settings.h"
#include "model_classes.h"

using namespace rf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const ModelClass cls = static_cast<ModelClass>(data[0] % 4);
  const char* text = reinterpret_cast<const char*>(data + 3);
  const size_t rest = size - 3;
  const void* nul = std::memchr(text, 0, rest);
  const std::string options(text, nul ? static_cast<const char*>(nul) - text : rest);
  const std::string ppdText = nul ? std::string(static_cast<const char*>(nul) + 1, text + rest) : "";

  // The PPD lives in memory; the probes find it through $PPD like the filter.
  const int fd = memfd_create("ppd", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, ppdText.data(), ppdText.size()) != static_cast<ssize_t>(ppdText.size())) {
    close(fd);
    return 0;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  setenv("PPD", path.c_str(), 1);
  ppd_file_t* ppd = ppdOpenFile(path.c_str());

  ModelClass found = MODEL_NONE;
  const PaperEntry* table = classifyModel(ppd ? ppd->modelname : options.c_str(), &found);
  if (found == MODEL_NONE) table = platformFromPpd(ppd, &found);
  FUZZ_CHECK((table == nullptr) == (found == MODEL_NONE));
  char buffer[1024];
  readPpdText(ppd, "MDuplex", buffer);

  cups_option_t* parsed = nullptr;
  std::string all = options;
  if (ppd) {
    appendPpdDefaults(all, options.c_str(), ppd);
    FUZZ_CHECK(all.compare(0, options.size(), options) == 0);  // only ever appended
  }
  const int n = cupsParseOptions(all.c_str(), 0, &parsed);
  cups_page_header2_t header{};
  const unsigned duplex = data[1] % 3, tumble = data[2] % 3;
  std::memcpy(&header.Duplex, &duplex, sizeof duplex);
  std::memcpy(&header.Tumble, &tumble, sizeof tumble);
  header.PageSize[0] = 620;
  header.PageSize[1] = 1010;
  JobSettings settings = jobSettingsTemplate();
  readJobOptions(settings, n, parsed, header);
  FUZZ_CHECK(settings[JobKey::InputSlot] >= 0 && settings[JobKey::InputSlot] <= 2);
  FUZZ_CHECK(settings[JobKey::Duplex] >= 0 && settings[JobKey::Duplex] <= 2);
  applyNamedPageSize(header, paperTableForClass(cls), n, parsed);

  const int dpi = is1200dpiprint(options.c_str());
  FUZZ_CHECK(dpi == 1 || dpi == 2);
  const int blank = blankSuppressMode(options.c_str());
  FUZZ_CHECK(blank >= 1 && blank <= 3);

  cupsFreeOptions(n, parsed);
  if (ppd) ppdClose(ppd);
  close(fd);
  return 0;
}

std::vector<std::string> fuzzSeeds() {
  const std::string ppd =
      "*PPD-Adobe: \"4.3\"\n*ModelName: \"Tesvel TZ3010 Series\"\n"
      "*cupsIPPReason PlatForm/PLATFORM_Z: \"\"\n*cupsIPPReason MDuplex/Turn the stack: \"\"\n"
      "*OpenUI *InputSlot: PickOne\n*DefaultInputSlot: ManualFeed\n*InputSlot ManualFeed: \"\"\n"
      "*CloseUI: *InputSlot\n*OpenUI *Density: PickOne\n*DefaultDensity: 4\n*Density 4: \"\"\n"
      "*CloseUI: *Density\n*OpenUI *DPI1200: Boolean\n*DefaultDPI1200: True\n*DPI1200 True: \"\"\n"
      "*CloseUI: *DPI1200\n";
  return {
      std::string("\x02\x01\x01", 3) + "Duplex=DuplexTumble PageSize=Legal" + std::string(1, '\0') + ppd,
      std::string("\x01\x01\x00", 3) + "noDPI1200 BlankSuppress=PrinterSetting InputSlot=manualfeed",
      std::string("\x03\x00\x00", 3) + "Density=5 TonerMode=true Collate" + std::string(1, '\0') +
          "*PPD-Adobe: \"4.3\"\n*ModelName: \"Tesvel Unknown Series\"\n"
          "*cupsIPPReason PlatForm/platform_m: \"\"\n",
      std::string("\x00\x01\x07", 3) + "job-name='a b' noFeedLongEdge ManualDuplex=True",
  };
}
