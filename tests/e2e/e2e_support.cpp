#include "e2e_support.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace e2e {

namespace ts = testing_support;

namespace {

std::string postscript_pages(int pages) {
  std::ostringstream ps;
  ps << "%!PS-Adobe-3.0\n%%Pages: " << pages << "\n%%EndComments\n"
     << "/Times-Roman findfont 24 scalefont setfont\n";
  for (int p = 1; p <= pages; ++p)
    ps << "%%Page: " << p << " " << p << "\n72 720 moveto (PostScript page " << p
       << ") show\n0.3 setgray 72 200 300 300 rectfill 0 setgray showpage\n";
  ps << "%%EOF\n";
  return ps.str();
}

std::string text_pages(int pages) {
  // texttopdf breaks pages at form feeds.
  std::string text;
  for (int p = 1; p <= pages; ++p) {
    if (p > 1) text += '\f';
    for (int l = 1; l <= 20; ++l)
      text += "Text page " + std::to_string(p) + ", line " + std::to_string(l) + "\n";
  }
  return text;
}

// A grey ramp with a black frame, as a binary PGM; one image is one page.
std::string grey_image() {
  const int w = 400, h = 300;
  std::string img = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      bool frame = x < 8 || y < 8 || x >= w - 8 || y >= h - 8;
      img += static_cast<char>(frame ? 0 : x * 255 / w);
    }
  return img;
}

// The number after "key": on a JSON line of prndecode, or -1.
int json_int(const std::string& line, const std::string& key) {
  size_t pos = line.find("\"" + key + "\":");
  if (pos == std::string::npos) return -1;
  return std::atoi(line.c_str() + pos + key.size() + 3);
}

}  // namespace

const char* docName(Doc kind) {
  switch (kind) {
    case Doc::Pdf: return "pdf";
    case Doc::PostScript: return "ps";
    case Doc::Text: return "txt";
    case Doc::Image: return "pgm";
  }
  return "?";
}

std::string writeDocument(const std::string& dir, Doc kind, int pages) {
  std::string path = dir + "/document-" + std::to_string(pages) + "." + docName(kind);
  switch (kind) {
    case Doc::Pdf: ts::writeFile(path, ts::makePdf(pages)); break;
    case Doc::PostScript: ts::writeFile(path, postscript_pages(pages)); break;
    case Doc::Text: ts::writeFile(path, text_pages(pages)); break;
    case Doc::Image: ts::writeFile(path, grey_image()); break;
  }
  return path;
}

PrintedJob decodePrinterFile(const std::string& path) {
  ts::ProcessOptions opts;
  opts.stdinFromDevNull = true;
  opts.timeoutSeconds = ts::deadlineSeconds(120);
  ts::ProcessResult r =
      ts::runProcess({ts::binPath("prndecode"), "--check", "--json", path}, opts);
  PrintedJob job;
  job.report = r.err;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("{\"name\":\"page\",", 0) == 0)
      job.images.push_back({json_int(line, "width"), json_int(line, "height"),
                            json_int(line, "depth")});
    if (line.rfind("\"pages\":", 0) == 0) job.pages = json_int(line, "pages");
    if (line.find("\"violations\":[{") != std::string::npos) job.report += line + "\n";
  }
  job.ok = r.exitStatus == 0 && r.out.find("\"ok\":true") != std::string::npos;
  return job;
}

void CupsdTest::SetUp() {
  if (geteuid() != 0) GTEST_SKIP() << "cupsd runs only as root here";
  for (const char* p : {"/usr/sbin/cupsd", "/usr/sbin/lpadmin", "/usr/bin/lp"})
    if (access(p, X_OK) != 0) GTEST_SKIP() << p << " is not installed";
  ts::CupsdSetup setup;
  setup.filters = {ts::binPath("rasterfilter"), ts::binPath("jobwrapper")};
  cupsd = std::make_unique<ts::PrivateCupsd>(setup);
  ASSERT_TRUE(cupsd->ready()) << "cupsd did not start:\n" << cupsd->daemonOutput() << cupsd->errorLog();
}

std::string CupsdTest::addQueue(const std::string& ppdFile) {
  std::string queue = ppdFile.substr(0, ppdFile.find('.'));
  ts::ProcessResult r =
      cupsd->addPrinter(queue, "file://" + printerFile(queue), ts::ppdPath(ppdFile));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  return queue;
}

int CupsdTest::submit(const std::string& queue, const std::string& file,
                      const std::vector<std::string>& options) {
  std::string why;
  int job = cupsd->submit(queue, file, options, &why);
  EXPECT_GT(job, 0) << "lp refused the job: " << why;
  return job;
}

void CupsdTest::expectJobEnded(int job, ts::JobState expected, int seconds) {
  ts::JobState state = cupsd->waitForJob(job, ts::deadlineSeconds(seconds));
  std::string log = cupsd->jobLog(job);
  EXPECT_STREQ(ts::jobStateName(state), ts::jobStateName(expected)) << log;
  // A sanitizer-built filter reports on its standard error, which cupsd
  // copies into the log; a crash shows as a filter killed by a signal.
  for (const char* bad : {"AddressSanitizer", "LeakSanitizer", "runtime error:",
                          "crashed on signal"})
    EXPECT_EQ(log.find(bad), std::string::npos) << "\"" << bad << "\" in the log:\n" << log;
}

void CupsdTest::expectListedCompleted(const std::string& queue, int job) {
  ts::ProcessResult r = cupsd->run({"/usr/bin/lpstat", "-W", "completed", "-o", queue});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  std::string id = queue + "-" + std::to_string(job) + " ";
  EXPECT_NE(r.out.find(id), std::string::npos) << "lpstat -W completed:\n" << r.out;
}

}  // namespace e2e
