// Job text is only ever data: 40 hostile payloads as title, user, option
// text and file name (argv[6]), through jobwrapper on its three roads and
// through rasterfilter.  A payload that any program ran as a command would
// leave a marker file; a payload that reached the printer's PJL header as
// a line of its own, an ended quote or a UEL would change the header's shape.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "hostile_text.h"
#include "test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// The job runs in a directory of its own, so that a relative file name
// (and a marker) lands there.
class InDirectory {
 public:
  explicit InDirectory(const std::string& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~InDirectory() { fs::current_path(old_); }

 private:
  fs::path old_;
};

struct Road {
  const char* name;
  const char* program;
  const char* ppd;
  const char* options;  // the payload in the option position follows these
  std::string job;      // the input file's contents
  bool sameBytes;       // job text never reaches the output: it is the benign run's, byte for byte
};

const std::string kPostScriptJob = std::string(kUel) +
    "@PJL\n@PJL JOB NAME = \"Report\" DISPLAY = \"42 alice Report\"\n"
    "@PJL ENTER LANGUAGE = POSTSCRIPT\n%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n"
    "%%BeginSetup\n%%EndSetup\n%%Page: 1 1\nshowpage\n%%EOF\n" + kUel + "@PJL EOJ\n" + kUel;

class HostileJobText : public ::testing::Test {
 protected:
  ProcessResult run(const Road& road, std::vector<std::string> args) {
    ProcessOptions o;
    o.argv0 = "tesvel";
    o.env = {"PPD=" + ppdPath(road.ppd), "TMPDIR=" + spool.path()};
    o.unsetEnv = {"DEVICE_URI"};
    o.stdinFromDevNull = true;
    args.insert(args.begin(), binPath(road.program));
    return runProcess(args, o);
  }

  // Every payload in every position; returns the number of runs.
  int runAll(const Road& road) {
    InDirectory inWork(work.path());
    writeFile("job.in", road.job);
    const ProcessResult benign = run(road, {"42", "alice", "Report", "1", road.options, "job.in"});
    EXPECT_EQ(benign.exitStatus, 0) << benign.err;
    const std::vector<std::string> shape = pjlShape(benign.out);
    EXPECT_GT(shape.size(), 1u) << "the benign job has a PJL header";
    const std::vector<std::string> texts = hostilePayloads();
    int runs = 0;
    for (size_t i = 0; i < texts.size(); ++i) {
      const std::string& t = texts[i];
      const bool fileMade = makeJobFile(t, road.job);
      const std::vector<std::string> args[] = {
          {"42", "alice", t, "1", road.options, "job.in"},
          {"42", t, "Report", "1", road.options, "job.in"},
          {"42", "alice", "Report", "1", std::string(road.options) + " " + t, "job.in"},
          {"42", "alice", "Report", "1", road.options, t},
      };
      const char* positions[] = {"title", "user", "options", "file name"};
      for (int p = 0; p < 4; ++p, ++runs) {
        SCOPED_TRACE(std::string(road.name) + ": payload " + std::to_string(i) + " as " +
                     positions[p]);
        const ProcessResult r = run(road, args[p]);
        EXPECT_TRUE(fs::is_empty(spool.path()));
        if (p == 3 && !fileMade) {  // a name no file system takes: a clean refusal
          EXPECT_TRUE(r.exitStatus == 0 || r.exitStatus == 1) << r.exitStatus;
          EXPECT_EQ(r.out, "");
          continue;
        }
        EXPECT_EQ(r.exitStatus, 0) << r.err.substr(0, 2000);
        EXPECT_EQ(pjlShape(r.out), shape);
        if (road.sameBytes) {
          EXPECT_TRUE(r.out == benign.out);
        }
        EXPECT_EQ(countOf(r.out, "\n%%Page:"), countOf(benign.out, "\n%%Page:"));
      }
      if (fileMade) fs::remove(t);
    }
    EXPECT_EQ(markersIn(work.path()), std::vector<std::string>{});
    std::cout << road.name << ": " << texts.size() << " hostile payloads x 4 positions = " << runs
              << " runs, " << markersIn(work.path()).size() << " commands run\n";
    return runs;
  }

  // The job file under the payload's name, in directories where the name
  // holds a '/'; false when no file can have that name.
  static bool makeJobFile(const std::string& name, const std::string& data) {
    std::error_code ec;
    fs::path path(name);
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    if (ec || path.filename().string().size() > 255) return false;
    writeFile(name, data);
    return fs::exists(path, ec);
  }

  TempDir work;
  TempDir spool;
};

}  // namespace

TEST_F(HostileJobText, IsOnlyDataOnThePostScriptRoadInBlockMode) {
  EXPECT_EQ(runAll({"jobwrapper block mode", "jobwrapper", "tesvel-ps-tp3010.ppd", "PageSize=A4",
                    kPostScriptJob, true}),
            160);
}

TEST_F(HostileJobText, IsOnlyDataOnThePostScriptRoadInLineMode) {
  EXPECT_EQ(runAll({"jobwrapper line mode", "jobwrapper", "tesvel-ps-tp5010.ppd", "PageSize=A4",
                    kPostScriptJob, true}),
            160);
}

TEST_F(HostileJobText, IsOnlyDataOnTheColourRoadThroughQpdfAndPdftops) {
  // Long-edge duplex: the job file goes through qpdf as well as pdftops,
  // and pdftops writes title and user into the PJL header.
  EXPECT_EQ(runAll({"jobwrapper colour road", "jobwrapper", "tesvel-ps-tpc8010.ppd",
                    "Duplex=DuplexNoTumble pdftops-renderer=pdftops", makePdf(2), false}),
            160);
}

TEST_F(HostileJobText, IsOnlyDataInTheRasterFilter) {
  RasterPage page{greyHeader(144, 144), {0, 128, 255}};
  EXPECT_EQ(runAll({"rasterfilter", "rasterfilter", "tesvel-tz3010.ppd", "Density=3",
                    writeRaster({page}), false}),
            160);
}
