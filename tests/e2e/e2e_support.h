// Helpers of the end-to-end tests: documents made in code, a fixture that
// owns a private cupsd running this build's filters, and the printer file
// read back by prndecode.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cupsd_harness.h"
#include "test_support.h"

namespace e2e {

// The kinds of document a user prints; each is written into `dir` and its
// path returned.  Every page carries text and a grey area, so halftoning
// and compression have real work.
enum class Doc { Pdf, PostScript, Text, Image };
std::string writeDocument(const std::string& dir, Doc kind, int pages);
const char* docName(Doc kind);

struct PageImage {
  int width = 0, height = 0, depth = 0;
};

// What prndecode --check --json made of a printer file.
struct PrintedJob {
  bool ok = false;           // no violation, the stream ends properly
  int pages = -1;
  std::vector<PageImage> images;
  std::string report;        // prndecode's messages, for failures
};
PrintedJob decodePrinterFile(const std::string& path);

class CupsdTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override { cupsd.reset(); }

  // A queue named after the PPD's file name, printing into a file device.
  std::string addQueue(const std::string& ppdFile);
  std::string printerFile(const std::string& queue) const {
    return cupsd->outFile(queue + ".prn");
  }
  int submit(const std::string& queue, const std::string& file,
             const std::vector<std::string>& options);
  // The job ended as `expected` (within `seconds`, more in sanitizer
  // builds) and no sanitizer or filter crash shows in its log lines.
  void expectJobEnded(int job, testing_support::JobState expected, int seconds);
  // lpstat -W completed lists the job on its queue.
  void expectListedCompleted(const std::string& queue, int job);

  testing_support::TempDir work;
  std::unique_ptr<testing_support::PrivateCupsd> cupsd;
};

}  // namespace e2e
