// Jobs printed the way users print them: lp into a queue of a private cupsd
// whose PPD is one of ours, the whole CUPS chain in front of our filter, the
// printer data captured by the queue's file device.  The printer file is
// read back by prndecode; the image sizes expected are those of the
// printers' paper tables at 600 dpi.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::Doc;
using testing_support::JobState;

struct RasterCase {
  const char* name;
  const char* ppd;
  Doc doc;
  int docPages;
  std::vector<std::string> options;  // lp arguments, as a user types them
  int printedPages;                  // pages the printer receives
  e2e::PageImage image;              // the image of every page
  int seconds;                       // time the job may take
};

std::ostream& operator<<(std::ostream& os, const RasterCase& c) { return os << c.name; }

// One queue per kind of raster model.  The page counts follow from what the
// printer has to be sent: a blank back for an odd duplex job, both passes of
// a manual duplex job, every collated copy.
const RasterCase kRasterCases[] = {
    // PLATFORM_C, by model name: a PDF on Letter paper.
    {"PlatformCPdfOnLetter", "tesvel-tc1110.ppd", Doc::Pdf, 2,
     {"-o", "media=Letter"}, 2, {4928, 6364, 1}, 90},
    // PLATFORM_Z with manual duplex: pages 1 and 3, then the blank back of
    // page 3 and page 2 after the stack is turned.  Waits 10 s at the end.
    {"PlatformZPostScriptManualDuplex", "tesvel-tz3010.ppd", Doc::PostScript, 3,
     {"-o", "sides=two-sided-long-edge", "-o", "ManualDuplex=True"}, 4, {4736, 6780, 1}, 120},
    // PLATFORM_Z with a duplex unit: the odd job gets a blank back side.
    {"PlatformZDuplexUnitPdf", "tesvel-txd.ppd", Doc::Pdf, 3,
     {"-o", "sides=two-sided-long-edge"}, 4, {4736, 6780, 1}, 90},
    // PLATFORM_M: two collated copies of a text file.
    {"PlatformMTextTwoCollatedCopies", "tesvel-tm4010.ppd", Doc::Text, 2,
     {"-n", "2", "-o", "collate=true"}, 4, {4736, 6784, 1}, 90},
    // A model known only by the PPD's PlatForm text (PLATFORM_Z), an image
    // on A5 in 1200-dpi mode: the A5 row's lines at twice their width.
    {"PlatformFromPpdImageA5At1200", "tesvel-txa.ppd", Doc::Image, 1,
     {"-o", "media=A5", "-o", "DPI1200=True"}, 1, {2 * 3264, 4736, 1}, 90},
};

class RasterJob : public e2e::CupsdTest, public ::testing::WithParamInterface<RasterCase> {};

TEST_P(RasterJob, ThePrinterGetsEveryPageAsAValidStream) {
  const RasterCase& c = GetParam();
  std::string queue = addQueue(c.ppd);
  int job = submit(queue, e2e::writeDocument(work.path(), c.doc, c.docPages), c.options);
  ASSERT_GT(job, 0);
  expectJobEnded(job, JobState::Completed, c.seconds);
  expectListedCompleted(queue, job);

  e2e::PrintedJob printed = e2e::decodePrinterFile(printerFile(queue));
  EXPECT_TRUE(printed.ok) << printed.report;
  EXPECT_EQ(printed.pages, c.printedPages);
  ASSERT_EQ(printed.images.size(), static_cast<size_t>(c.printedPages));
  for (size_t i = 0; i < printed.images.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    EXPECT_EQ(printed.images[i].width, c.image.width);
    EXPECT_EQ(printed.images[i].height, c.image.height);
    EXPECT_EQ(printed.images[i].depth, c.image.depth);
  }
  // CUPS counts the pages our filter reports.
  EXPECT_TRUE(cupsd->waitForLog(job, "PAGE: " + std::to_string(c.docPages) + " ",
                                testing_support::deadlineSeconds(5)))
      << cupsd->jobLog(job);
}

INSTANTIATE_TEST_SUITE_P(Queues, RasterJob, ::testing::ValuesIn(kRasterCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The PostScript models: the document comes out as PostScript behind a PJL
// job header, and the job ends with the universal exit so the printer
// leaves PostScript.
struct PostScriptCase {
  const char* name;
  const char* ppd;
  int pages;
  std::vector<std::string> options;
  bool jobControl;  // our wrapper adds the job id to the PJL header
};

std::ostream& operator<<(std::ostream& os, const PostScriptCase& c) { return os << c.name; }

const PostScriptCase kPostScriptCases[] = {
    {"JobControlModel", "tesvel-ps-tp5010.ppd", 2, {"-o", "media=A4"}, true},
    // The colour group converts the PDF itself (pdftops), turning the back
    // sides of a long-edge duplex job first.
    {"ColourModelLongEdgeDuplex", "tesvel-ps-tpc8010.ppd", 3,
     {"-o", "sides=two-sided-long-edge"}, false},
};

class PostScriptJob : public e2e::CupsdTest,
                      public ::testing::WithParamInterface<PostScriptCase> {};

TEST_P(PostScriptJob, APdfComesOutAsPostScriptBehindThePjlHeader) {
  const PostScriptCase& c = GetParam();
  std::string queue = addQueue(c.ppd);
  std::vector<std::string> options = {"-t", "Quarterly report"};
  options.insert(options.end(), c.options.begin(), c.options.end());
  int job = submit(queue, e2e::writeDocument(work.path(), Doc::Pdf, c.pages), options);
  ASSERT_GT(job, 0);
  expectJobEnded(job, JobState::Completed, 90);
  expectListedCompleted(queue, job);

  std::string out = testing_support::readFile(printerFile(queue));
  EXPECT_EQ(out.find("\x1b%-12345X@PJL"), 0u) << out.substr(0, 600);
  EXPECT_NE(out.find("@PJL JOB NAME = \"Quarterly report\""), std::string::npos);
  if (c.jobControl) {
    EXPECT_NE(out.find("@PJL SET JOBID=" + std::to_string(job) + "\r\n"), std::string::npos);
  }
  EXPECT_NE(out.find("%!PS-Adobe"), std::string::npos);
  int pages = 0;
  for (size_t pos = out.find("\n%%Page: "); pos != std::string::npos;
       pos = out.find("\n%%Page: ", pos + 1))
    ++pages;
  EXPECT_EQ(pages, c.pages);
  size_t exit = out.rfind("\x1b%-12345X");
  EXPECT_TRUE(exit != std::string::npos && exit > out.rfind("%%EOF"));
}

INSTANTIATE_TEST_SUITE_P(Queues, PostScriptJob, ::testing::ValuesIn(kPostScriptCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
