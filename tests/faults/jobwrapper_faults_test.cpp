// jobwrapper on the colour road when its helpers misbehave: a qpdf that
// fails, prints garbage or never stops, a pdftops that fails, writes
// garbage or hangs, and CUPS cancelling the job while one of them hangs.
// The stand-ins are shell scripts written here; qpdf is found on PATH,
// pdftops through the test build of the program (jobwrapper_testpaths).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "piped_process.h"
#include "test_support.h"

using namespace testing_support;

namespace {

const char kConversionFailed[] = "DEBUG: fail to change file from pdf to ps.\n";
const char kNothingPrinted[] =
    "ERROR: The PDF could not be converted to PostScript; nothing was printed.\n";
const char kRealQpdf[] = "exec /usr/bin/qpdf \"$@\"\n";
const char kRealPdftops[] = "exec /usr/lib/cups/filter/pdftops \"$@\"\n";

// Runs the real qpdf except for the one request named by `when`.
std::string qpdfExcept(const std::string& when, const std::string& body) {
  return "for a in \"$@\"; do case \"$a\" in " + when + ") " + body + ";; esac; done\n" +
         kRealQpdf;
}

class HelperFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(work.file("doc.pdf"), makePdf(2));
    fake("qpdf", kRealQpdf);
    fake("pdftops", kRealPdftops);
  }

  void fake(const std::string& name, const std::string& body) {
    const std::string path = work.file(name);
    writeFile(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
  }

  ProcessOptions options() const {
    ProcessOptions o;
    o.argv0 = "tesvel";
    o.env = {"PPD=" + ppdPath("tesvel-ps-tpc8010.ppd"), "TMPDIR=" + spool.path(),
             "PATH=" + work.path() + ":/usr/bin:/bin", "TESVEL_PDFTOPS=" + work.file("pdftops")};
    o.unsetEnv = {"DEVICE_URI"};
    o.stdinFromDevNull = true;
    o.timeoutSeconds = deadlineSeconds(60);
    return o;
  }

  std::vector<std::string> jobArgv() const {
    return {binPath("jobwrapper_testpaths"), "42", "alice", "Report", "1",
            "pdftops-renderer=gs Duplex=DuplexNoTumble", work.file("doc.pdf")};
  }

  bool spoolEmpty() const { return std::filesystem::is_empty(spool.path()); }

  TempDir work;
  TempDir spool;
};

// The pages of the PostScript and whether each is turned by 180 degrees
// (Ghostscript renders for pdftops, so a turned page shows turned text).
std::string pageTurns(const std::string& ps) {
  std::string turns;
  for (size_t at = ps.find("\n%%Page:"); at != std::string::npos;) {
    size_t next = ps.find("\n%%Page:", at + 1);
    turns += ps.substr(at, next - at).find("-1 0 0 -1 ") != std::string::npos ? 'T' : '-';
    at = next;
  }
  return turns;
}

// True when the process is gone or only waits to be reaped.
bool processEnded(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  return text.empty() || (close != std::string::npos && text.compare(close, 4, ") Z ") == 0) ||
         (close != std::string::npos && text.compare(close, 4, ") X ") == 0);
}

}  // namespace

TEST_F(HelperFaults, AFailingOrBabblingHelperNeverCrashesOrSendsGarbage) {
  struct Case {
    const char* what;
    std::string qpdf, pdftops;
    std::string pages;     // page turns of what is printed; empty: nothing is printed
    const char* message;   // on standard error
  } cases[] = {
      {"qpdf --version fails", qpdfExcept("--version", "exit 1"), kRealPdftops, "--",
       "The page count is 0!\n"},
      {"qpdf --version prints 1 MB of garbage",
       qpdfExcept("--version", "printf 'qpdf version \\000\\377 9\\n'; head -c 1048576 /dev/urandom; exit 0"),
       kRealPdftops, "--", "The page count is 0!\n"},
      {"qpdf --version never stops", qpdfExcept("--version", "exec yes 'qpdf version 7.1'"),
       kRealPdftops, "--", "The page count is 0!\n"},
      {"qpdf cannot rotate", qpdfExcept("--rotate=*", "echo qpdf: no >&2; exit 2"), kRealPdftops,
       "--", "DEBUG: qpdf could not rotate the pages (status 2); printing them unrotated.\n"},
      {"qpdf counts two billion pages", qpdfExcept("--show-npages", "echo 2000000000; exit 0"),
       kRealPdftops, "--", "DEBUG: qpdf reported 2000000000 pages; printing them unrotated.\n"},
      {"the real helpers", kRealQpdf, kRealPdftops, "-T", "PAGE: 2 1\n"},
      {"pdftops fails half-way", kRealQpdf, "printf '%%!PS-Adobe-3.0\\n%%%%Page: 1 1\\n'; exit 1",
       "", "DEBUG: pdftops failed (status 1).\n"},
      {"pdftops crashes", kRealQpdf, "printf '%%!PS-Adobe-3.0\\n'; kill -SEGV $$", "",
       "DEBUG: pdftops failed (status 139).\n"},
      {"pdftops writes 1 MB of garbage", kRealQpdf,
       "printf 'garbage\\000\\000'; head -c 1048576 /dev/urandom; exit 0", "",
       "DEBUG: pdftops wrote no PostScript.\n"},
      {"pdftops writes nothing", kRealQpdf, "exit 0", "", "DEBUG: pdftops wrote no PostScript.\n"},
      {"pdftops is missing", kRealQpdf, "", "", "DEBUG: Unable to excute pdftops,err is 2\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake("qpdf", c.qpdf);
    if (c.pdftops.empty())
      std::filesystem::remove(work.file("pdftops"));
    else
      fake("pdftops", c.pdftops);
    ProcessResult r = runProcess(jobArgv(), options());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_TRUE(spoolEmpty());
    if (c.pages.empty()) {
      EXPECT_EQ(r.out.size(), 0u);
      EXPECT_NE(r.err.find(kConversionFailed), std::string::npos);
      EXPECT_NE(r.err.find(kNothingPrinted), std::string::npos);
      EXPECT_EQ(r.err.find("Successfully write"), std::string::npos);
    } else {
      EXPECT_EQ(pageTurns(r.out), c.pages);
      EXPECT_NE(r.out.find("%%EOF"), std::string::npos) << "a whole job";
      EXPECT_EQ(r.err.find("ERROR:"), std::string::npos) << r.err;
    }
  }
}

TEST_F(HelperFaults, CancellingTheJobStopsAHungHelperAndItsChildren) {
  // Each stand-in notes its own pid and that of a child of its own, then
  // hangs far longer than the test waits; the last one ignores SIGTERM, as
  // a helper stuck in the kernel or careless with signals might.
  const std::string note = "sleep 600 & echo $$ $! > " + work.file("pids") + "; wait\n";
  struct Case {
    const char* what;
    std::string qpdf, pdftops;
  } cases[] = {
      {"qpdf --version hangs", qpdfExcept("--version", note), kRealPdftops},
      {"pdftops hangs", kRealQpdf, note},
      {"qpdf hangs rotating and ignores SIGTERM", qpdfExcept("--rotate=*", "trap '' TERM; " + note),
       kRealPdftops},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(work.file("pids"));
    fake("qpdf", c.qpdf);
    fake("pdftops", c.pdftops);
    TempDir logs;
    PipedProcess job(jobArgv(), options(), logs.file("err"));
    ASSERT_TRUE(job.started());
    job.closeInput();
    pid_t helper = 0, grandchild = 0;
    for (int i = 0; i < 20 * deadlineSeconds(30) && grandchild == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::istringstream(readFile(work.file("pids"))) >> helper >> grandchild;
    }
    ASSERT_NE(grandchild, 0) << readFile(logs.file("err"));
    // The job ends well before the helper would (the grace before SIGKILL is 2 s).
    job.signal(SIGTERM);
    EXPECT_EQ(job.finish(deadlineSeconds(15)), 0);
    const std::string err = readFile(logs.file("err"));
    EXPECT_NE(err.find("cancel_job =1\n"), std::string::npos);
    EXPECT_EQ(job.out, "") << "nothing of a cancelled conversion is sent";
    EXPECT_EQ(err.find("ERROR:"), std::string::npos) << err;
    EXPECT_TRUE(spoolEmpty());
    auto bothEnded = [&] { return processEnded(helper) && processEnded(grandchild); };
    for (int i = 0; i < 20 * deadlineSeconds(2) && !bothEnded(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(processEnded(helper));
    EXPECT_TRUE(processEnded(grandchild));
  }
}
