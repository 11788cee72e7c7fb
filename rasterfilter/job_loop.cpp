#include "job_loop.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cms.h"
#include "cups_binding.h"
#include "job_state.h"
#include "job_stream.h"
#include "keepalive.h"
#include "output_channel.h"
#include "page_path.h"
#include "page_stores.h"
#include "raster_input.h"

namespace rf {

namespace {

enum class LoopExit { EndOfJob, CleanUp };

bool open_input(RasterJob& job) {
  if (job.argc == 7) {
    job.inputFd = open(job.argv[6], O_RDONLY);
    if (job.inputFd < 0) {
      perror("ERROR: Unable to open raster file - ");
      sleep(1);
      return false;
    }
  }
  return true;
}

// The driver cannot work without its PPD: model name and PPD texts.
bool open_ppd(RasterJob& job) {
  const char* path = std::getenv("PPD");
  if (path == nullptr || *path == '\0') {
    std::fputs("ERROR: The PPD environment variable is not set; cannot identify the printer.\n",
               stderr);
    return false;
  }
  job.ppd = cups().ppdOpenFile(path);
  if (job.ppd == nullptr) {
    std::fprintf(stderr, "ERROR: Unable to open the PPD file %s\n", path);
    return false;
  }
  const char* model = job.ppd->modelname ? job.ppd->modelname : "";
  std::snprintf(g_job.modelName, sizeof g_job.modelName, "%s", model);
  g_job.modelIsListA = isModelListA(g_job.modelName) ? 1 : 0;
  return true;
}

void decide_dpi_mode(RasterJob& job) {
  if (!g_job.modelIsListA) return;
  const char* userOptions = job.argv[5];
  if (is1200dpiprint(userOptions) == 2) {
    g_job.dpiMode = 2;
    std::fputs("2==is1200dpiprint(argv[5]) 开启 1200 DPI \n", stderr);
  } else {
    g_job.dpiMode = 1;
    std::fputs("2==is1200dpiprint(argv[5]) 开启 600 DPI \n", stderr);
  }
  // The job header tells these printers whether to drop blank pages.
  g_job.blankSuppress = blankSuppressMode(userOptions);
}

void free_page_options(RasterJob& job) {
  if (job.options) cupsFreeOptions(job.numOptions, job.options);
  job.options = nullptr;
  job.numOptions = 0;
}

// Reads past the lines of a page that is not printed.
void skip_page_lines(RasterJob& job) {
  std::vector<unsigned char> line(job.header.cupsBytesPerLine);
  for (unsigned y = 0; y < job.header.cupsHeight; ++y)
    if (cups().cupsRasterReadPixels(job.raster, line.data(), job.header.cupsBytesPerLine) == 0)
      break;
}

// Page loop steps 6 and 9 to 12: manual duplex support and the
// conversions applied to the settings on every page.
void read_manual_duplex_support(RasterJob& job) {
  if (readPpdText(job.ppd, "SupportManualDuplex", job.supportManualDuplexText)) {
    if (job.supportManualDuplex == 0)
      job.supportManualDuplex = strcasecmp(job.supportManualDuplexText, "TRUE") == 0 ? 1 : 0;
    else
      job.supportManualDuplex = 1;
  }
  std::fprintf(stderr, "-------SupportManualDuplex is %d\n", job.supportManualDuplex);
}

// First page: the job start on the printer stream, and the keep-alive
// timer for the printers that drop a silent host.
void start_job(RasterJob& job) {
  const JobSettings& s = job.settings;
  job.replayCopies = static_cast<int>(job.header.NumCopies);
  if (job.modelClass == PLATFORM_C || job.modelClass == PLATFORM_Z) startKeepAliveTimer();

  JobStartRecord rec{};
  rec.jobId = static_cast<int32_t>(std::strtol(job.argv[1], nullptr, 10));
  // The first 32 bytes of the title, zero-padded.
  std::memcpy(rec.jobTitle, job.argv[3], strnlen(job.argv[3], sizeof rec.jobTitle));
  if (job.modelClass == PLATFORM_Z && job.supportManualDuplex == 1 && s[JobKey::ManualDuplex] == 1)
    rec.duplexBits = 0;
  else
    rec.duplexBits = (s[JobKey::Duplex] != 0 || s[JobKey::ManualDuplex] == 1) ? 0x20 : 0;
  rec.fineMode = s[JobKey::FineMode] == 1 ? 1 : 0;
  rec.jobSpecBits = job.modelClass == PLATFORM_M ? 0 : 0x10;
  rec.density = s[JobKey::TonerMode] == 1 ? 0 : static_cast<uint8_t>(s[JobKey::Density] & 0xFF);

  g_job.outputBusy = 1;
  if (Prnt_StartDoc(&rec, job.modelClass) == 0) failureReport("main() :: Start doc Fail ! \n");
  std::fflush(stdout);
  g_job.outputBusy = 0;
}

LoopExit page_loop(RasterJob& job, PageStores& stores) {
  for (;;) {
    if (!cups().cupsRasterReadHeader2(job.raster, &job.header)) {
      std::fputs("DEBUG: cupsRasterReadHeader2 return failure/end-of-file.\n", stderr);
      return g_job.pageCount > 0 ? LoopExit::EndOfJob : LoopExit::CleanUp;
    }
    std::fputs("DEBUG: cupsRasterReadHeader2 return OK.\n", stderr);
    printRasterHeader(job.header);
    if (g_job.cancelRequested)
      return g_job.pageCount > 0 ? LoopExit::EndOfJob : LoopExit::CleanUp;

    std::string why;
    HeaderVerdict verdict = checkRasterHeader(job.header, &why);
    if (verdict != HeaderVerdict::Printable) {
      std::fprintf(stderr, "ERROR: Skipping a raster page that cannot be printed: %s\n",
                   why.c_str());
      if (verdict == HeaderVerdict::StopReading)
        return g_job.pageCount > 0 ? LoopExit::EndOfJob : LoopExit::CleanUp;
      skip_page_lines(job);
      continue;
    }

    ++g_job.pageCount;
    std::fprintf(stderr, "PAGE: %d %d\n", g_job.pageCount, job.header.NumCopies);

    classifyPage(job);
    read_manual_duplex_support(job);
    parsePageOptions(job);
    applyPageSettings(job);

    if (job.modelClass == MODEL_NONE) {
      // No dialect for this printer: nothing at all goes to it.
      reportUnsupportedModel(g_job.modelName);
      job.unsupportedModel = true;
      return LoopExit::CleanUp;
    }
    // The job starts on the printer with its first page, once that page
    // has its memory: a job whose first page cannot be had sends nothing.
    auto begin_page = [&]() {
      if (!job.jobStarted) {
        start_job(job);
        if (g_job.stdoutFailed) return false;
        job.jobStarted = true;
        if (!openPageStores(stores, job)) {
          job.storeOpenFailed = true;
          return false;
        }
      }
      if (g_job.stdoutFailed) return false;
      routePageOutput(job);
      return true;
    };
    PageOutcome outcome = convertAndSendPage(job, begin_page);
    if (g_job.stdoutFailed || job.storeOpenFailed) return LoopExit::CleanUp;
    if (outcome == PageOutcome::EndOfJob) return job.jobStarted ? LoopExit::EndOfJob : LoopExit::CleanUp;

    std::fflush(stdout);
    g_job.outputBusy = 0;
    if (g_job.cancelRequested) return LoopExit::EndOfJob;
  }
}

void end_of_job(RasterJob& job, PageStores& stores) {
  finishStoredPages(stores, job);
  g_job.outputBusy = 1;
  std::fflush(stdout);
  g_job.outputBusy = 1;
  JobEndRecord end{};
  end.pageNumber = g_job.pageCount;
  end.autoDuplex = job.settings[JobKey::Duplex] != 0 ? 1 : 0;
  if (Prnt_EndDoc(&end, job.modelClass) == 0) failureReport("main() :: End doc Fail ! \n");
  std::fflush(stdout);
}

int clean_up(RasterJob& job, PageStores& stores) {
  // Whatever way the job ends, its stores go with it.
  stores.closeAll();
  if (job.ppd) cups().ppdClose(job.ppd);
  job.ppd = nullptr;
  if (job.raster) cups().cupsRasterClose(job.raster);
  job.raster = nullptr;
  if (job.inputFd > 0) close(job.inputFd);
  job.inputFd = 0;
  free_page_options(job);

  unloadCupsLibrary();
  unloadCmsLibrary();
  unloadCupsImageLibrary();

  // A job whose stores could not be made stops here; the reason is on
  // the CUPS log already.
  if (job.storeOpenFailed) return 1;
  if (job.settings[JobKey::ManualDuplex] == 1 && g_job.manualDuplexWaitSeconds > 0)
    sleep(static_cast<unsigned>(g_job.manualDuplexWaitSeconds));

  g_job.outputBusy = 0;
  if (g_job.stdoutFailed) {
    reportOutputLost();
    return 1;
  }
  if (job.unsupportedModel) return 1;
  if (g_job.pageCount == 0) {
    std::fputs("ERROR: No pages found!\n", stderr);
    return 1;
  }
  std::fputs("INFO: Ready to print.\n", stderr);
  // Copies or back sides lost with an incomplete store are a failed job.
  return job.pageFailed || g_job.storeFailed ? 1 : 0;
}

}  // namespace

bool readPpdText(ppd_file_t* ppd, const char* keyword, char* out) {
  if (ppd == nullptr) return false;
  char text[1024] = {};
  if (cups().ppdLocalizeIPPReason(ppd, keyword, nullptr, text, sizeof text) == nullptr)
    return false;
  std::memcpy(out, text, sizeof text);
  return true;
}

void classifyPage(RasterJob& job) {
  job.paperTable = classifyModel(g_job.modelName, &job.modelClass);
  if (job.modelClass == MODEL_NONE) {
    const PaperEntry* table = platformFromPpd(job.ppd, &job.modelClass);
    if (table) job.paperTable = table;
  }
}

void parsePageOptions(RasterJob& job) {
  free_page_options(job);
  const char* userOptions = job.argv[5];
  if (job.modelClass == PLATFORM_Z) {
    job.optionText = userOptions ? userOptions : "";
    appendPpdDefaults(job.optionText, userOptions, job.ppd);
    job.numOptions = cups().cupsParseOptions(job.optionText.c_str(), 0, &job.options);
  } else {
    job.numOptions = cups().cupsParseOptions(userOptions, 0, &job.options);
  }
}

void applyPageSettings(RasterJob& job) {
  JobSettings& s = job.settings;
  readJobOptions(s, job.numOptions, job.options, job.header);
  // A sheet larger than Legal may carry its real size only by name.
  if (job.paperTable && job.header.PageSize[0] > 612 && job.header.PageSize[1] > 1008)
    applyNamedPageSize(job.header, job.paperTable, job.numOptions, job.options);

  std::fprintf(stderr, "DEBUG: ##platform = %d, ##autoduplex = %d\n", job.modelClass,
               s[JobKey::Duplex]);

  // Printers of this class without a duplex unit print both sides by hand.
  if (s[JobKey::Duplex] != 0 && job.modelClass == PLATFORM_Z && job.supportManualDuplex == 1) {
    int type = s[JobKey::Duplex] == 2 ? 1 : job.manualDuplexType;
    s[JobKey::ManualDuplex] = 1;
    s[JobKey::Duplex] = 0;
    std::fprintf(stderr, "DEBUG: ##ManualDuplex = %d, type is %d\n", 1, type);
    job.manualDuplexType = type;
  }
  if (s[JobKey::ManualDuplex] == 1) readPpdText(job.ppd, "MDuplex", job.manualDuplexPrompt);
  if (s[JobKey::DPI1200] == 1 && job.modelClass == PLATFORM_M) job.doubleWidth = 1;
}

int runRasterJob(int argc, char* argv[]) {
  RasterJob job;
  job.argc = argc;
  job.argv = argv;

  loadCupsImageLibrary();
  loadCupsLibrary();
  g_job.outputBusy = 1;
  setvbuf(stderr, nullptr, _IONBF, 0);

  if (argc != 6 && argc != 7) {
    std::fputs("ERROR: job-id user title copies options [file]\n", stderr);
    return 1;
  }
  // After the argument check, so that a wrong call shows CUPS nothing but
  // the usage line.
  loadCmsLibrary();
  PageStores stores;
  if (!open_input(job)) return 1;

  job.raster = cups().cupsRasterOpen(job.inputFd, CUPS_RASTER_READ);
  g_job.cancelRequested = 0;
  installSignalHandlers();

  if (!open_ppd(job)) {
    if (job.raster) cups().cupsRasterClose(job.raster);
    if (job.inputFd > 0) close(job.inputFd);
    unloadCupsLibrary();
    unloadCmsLibrary();
    unloadCupsImageLibrary();
    return 1;
  }
  g_job.pageCount = 0;
  decide_dpi_mode(job);

  if (job.raster && page_loop(job, stores) == LoopExit::EndOfJob) end_of_job(job, stores);
  return clean_up(job, stores);
}

}  // namespace rf
