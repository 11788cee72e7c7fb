// Job start and job end of the three dialects, against the bytes the
// printer expects.
#include "stream_test_util.h"

namespace rf::test {
namespace {

constexpr char kModelZ[] = "Tesvel TZ3010 Series";
constexpr char kModelC[] = "Tesvel TC1110 Series";
constexpr char kModelM[] = "Tesvel TM4010 Series";
const std::string kTonerTXD =
    "0B 24 1E 00 1E 24 26 2F 50 06 20 20 20 28 2C 20 20 20 20 20 20 20 20 20 "
    "20 20 20 20 20 20 20 20 20 0A 00 C8";
const std::string kTonerTXF =
    "0B 28 1E 00 17 26 00 30 40 20 17 20 20 00 00 20 20 20 20 20 20 20 20 20 "
    "20 20 20 20 20 20 20 20 08 0A 00 00 00 00 00 59";
const std::string kUel = "1B 25 2D 31 32 33 34 35 58";
const std::string kEoj = hex(std::string(endOfJobCmd));

JobStartRecord job_258() {
  JobStartRecord r{};
  r.jobId = 258;
  r.duplexBits = 0x20;
  r.jobSpecBits = 0x10;
  r.fineMode = 1;
  r.density = 3;
  return r;
}

// A host-name source that behaves like gethostname: the name cut to the
// buffer, terminated only when there is room.
std::string g_host = "printhost";
int test_host(char* name, size_t length) {
  const size_t n = g_host.size() < length ? g_host.size() : length;
  std::memcpy(name, g_host.data(), n);
  if (n < length) name[n] = '\0';
  return 0;
}

class JobStream : public StreamTest {
 protected:
  void SetUp() override {
    StreamTest::SetUp();
    g_host = "printhost";
    setJobStreamSources(test_host, fixed_time);
  }
};

TEST_F(JobStream, ChunkStreamJobStartsAndEndsWithThePrologueAndEpilogue) {
  setModel(kModelM);
  const JobStartRecord start = job_258();
  ASSERT_EQ(Prnt_StartDoc(&start, PLATFORM_M), 1);
  const Bytes begin = out.bytes();
  ASSERT_EQ(begin.size(), 9u + 4 + 88 + 52);
  EXPECT_EQ(hex(begin.data(), 29),
            "1B 25 2D 31 32 33 34 35 58 4A 5A 4A 5A 00 00 00 58 00 00 00 11 00 00 00 00 00 00 5A 5A");
  EXPECT_EQ(hex(begin.data() + 101, 52),
            "00 00 00 34 00 00 00 00 00 00 00 03 00 24 5A 5A "
            "00 00 00 0C 00 00 01 00 00 00 00 00 00 00 00 0C 00 01 01 00 00 00 00 00 "
            "00 00 00 0C 00 02 01 00 00 00 00 01");

  Capture end;
  g_job.outputFd = end.fd();
  const JobEndRecord finish{3, 0};
  ASSERT_EQ(Prnt_EndDoc(&finish, PLATFORM_M), 1);
  EXPECT_EQ(end.hexdump(), "00 00 00 10 00 00 00 01 00 00 00 00 00 00 5A 5A " + kUel);
  EXPECT_EQ(diag.text(), "");
}

TEST_F(JobStream, JobTimeIsMinuteHourDayMonthYear) {
  const struct {
    int min, hour, mday, mon, year;
    const char* expected;
  } cases[] = {
      {5, 9, 3, 6, 126, "05:09:03:07:2026\r\n"},
      {59, 23, 31, 11, 99, "59:23:31:12:1999\r\n"},
      {0, 0, 1, 0, 100, "00:00:01:01:2000\r\n"},
  };
  for (const auto& c : cases) {
    std::tm t{};
    t.tm_min = c.min;
    t.tm_hour = c.hour;
    t.tm_mday = c.mday;
    t.tm_mon = c.mon;
    t.tm_year = c.year;
    char buf[32];
    formatJobTimeFrom(buf, t);
    EXPECT_STREQ(buf, c.expected);
  }
  char buf[32];
  formatJobTime(buf);  // through the pinned clock
  EXPECT_STREQ(buf, "05:09:03:07:2026\r\n");
}

TEST_F(JobStream, PjlHeaderOfTheSecondPlatformDependsOnTheModel) {
  const std::string jobTime = "@PJL JOBTIME=05:09:03:07:2026\r\n";
  const std::string owner = "@PJL JOBOWNER=printhost\r\n";
  const std::string enter = "@PJL ENTER LANGUAGE=PL\r\n";
  const char* listA = ModelListA.names[0];
  const struct {
    const char* model;
    int blankSuppress;
    std::string text;   // the PJL lines
    bool fillers;       // 00 00 in front of each record
    std::string toner;  // the toner table, if any
  } cases[] = {
      {kModelZ, 0, std::string(PJLheader) + jobTime + owner + enter, true, ""},
      {kModelTXD, 0, std::string(PJLheader) + "@PJL LANGUAGEVERSION=1.0\r\n" + jobTime + owner + enter,
       true, kTonerTXD},
      {kModelTXF, 0, std::string(PJLheader) + jobTime + owner + enter, true, kTonerTXF},
      {listA, 0, std::string(PJLheader) + jobTime + owner + "@PJL SET BLANKSUPPRESS=DISABLE\n" + enter,
       false, ""},
      {listA, 1, std::string(PJLheader) + jobTime + owner + enter, false, ""},
      {listA, 2, std::string(PJLheader) + jobTime + owner + "@PJL SET BLANKSUPPRESS=DISABLE\n" + enter,
       false, ""},
      {listA, 3, std::string(PJLheader) + jobTime + owner + "@PJL SET BLANKSUPPRESS=ENABLE\n" + enter,
       false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " blankSuppress " + std::to_string(c.blankSuppress));
    Capture o, d;
    g_job.outputFd = o.fd();
    g_job.diagFd = d.fd();
    setModel(c.model);
    g_job.blankSuppress = c.blankSuppress;
    const JobStartRecord start = job_258();
    ASSERT_EQ(Prnt_StartDoc(&start, PLATFORM_Z), 1);
    const std::string f = c.fillers ? "00 00" : "";
    const std::string expected = join({hex(c.text), f, "0B 05 1F 01 D0", f, "0B 09 11 30 02 01 00 00 A8", f,
                                       "0B 05 15 03 D8", f, c.toner});
    EXPECT_EQ(o.hexdump(), expected);
    EXPECT_EQ(d.text(), c.fillers ? "" : "TXC系列机器不插入00命令\nTXC系列机器不插入00命令\n"
                                         "TXC系列机器不插入00命令\nTXC系列机器不插入00命令\n");
  }
}

TEST_F(JobStream, HostNamesAreSentUpTo31CharactersAndMayBeEmpty) {
  const struct {
    std::string host, sent;
  } cases[] = {
      {"printhost", "printhost"},
      {"", ""},  // an empty owner is still a complete header
      {std::string(40, 'h'), std::string(31, 'h')},
  };
  setModel(kModelZ);
  for (const auto& c : cases) {
    Capture o;
    g_job.outputFd = o.fd();
    g_host = c.host;
    const JobStartRecord start = job_258();
    EXPECT_EQ(Prnt_StartDoc(&start, PLATFORM_Z), 1) << c.host;
    EXPECT_NE(o.text().find("@PJL JOBOWNER=" + c.sent + "\r\n@PJL ENTER LANGUAGE=PL\r\n"),
              std::string::npos)
        << c.host;
  }
}

TEST_F(JobStream, FirstPlatformJobClearsThePrinterBeforeItsOwnHeader) {
  setModel(kModelC);
  JobStartRecord start = job_258();
  start.tonerSave = 0x100;  // only the low byte is sent
  ASSERT_EQ(Prnt_StartDoc(&start, PLATFORM_C), 1);
  EXPECT_EQ(out.hexdump(), join({"1B FF 2D 31 32 33 34 35 58", "0B 04 16 DB", kEoj,
                                 hex(std::string("versions=3.1.2.1")), "00 00", hex(std::string(PJLheader)),
                                 hex(std::string("@PJL ENTER LANGUAGE=PL\r\n")), "00 00 0B 06 11 02 30 AC",
                                 "00 00 0B 05 19 00 D7", "00 00 0B 05 15 03 D8",
                                 "0B 08 1F EA 07 07 03 D3"}));
}

TEST_F(JobStream, TrailersCarryTheDuplexCommandOnlyAfterAnOddPageCount) {
  const std::string query = "0B 05 31 80 3F";
  const std::string reset = "0B 04 17 DA";
  const struct {
    ModelClass cls;
    const char* model;
    JobEndRecord rec;
    std::string expected;
  } cases[] = {
      {PLATFORM_C, kModelC, {5, 1}, join({"00 00 0B 04 40 B1 00 00", query, "00 00", reset, kEoj})},
      {PLATFORM_C, kModelC, {4, 1}, join({"00 00", query, "00 00", reset, kEoj})},
      {PLATFORM_C, kModelC, {5, 0}, join({"00 00", query, "00 00", reset, kEoj})},
      {PLATFORM_C, ModelListA.names[0], {5, 1}, join({"0B 04 40 B1", query, reset, kEoj})},
      {PLATFORM_Z, kModelZ, {5, 1}, join({reset, kEoj})},
  };
  for (const auto& c : cases) {
    Capture o;
    g_job.outputFd = o.fd();
    setModel(c.model);
    EXPECT_EQ(Prnt_EndDoc(&c.rec, c.cls), 1);
    EXPECT_EQ(o.hexdump(), c.expected) << c.model << " pages " << c.rec.pageNumber;
  }
}

TEST_F(JobStream, AModelOfNoClassGetsNothing) {
  std::snprintf(g_job.errorText, sizeof g_job.errorText, "%s", "before");
  const JobStartRecord start = job_258();
  const JobEndRecord end{1, 1};
  for (int cls : {0, 4, -1}) {
    EXPECT_EQ(Prnt_StartDoc(&start, static_cast<ModelClass>(cls)), 0);
    EXPECT_EQ(Prnt_EndDoc(&end, static_cast<ModelClass>(cls)), 0);
  }
  EXPECT_EQ(out.text(), "");
  EXPECT_STREQ(g_job.errorText, "before");
}

// Failing the n-th write of an operation names the step that failed.
TEST_F(JobStream, TheFirstFailedWriteStopsTheJobRecordsAndIsNamed) {
  const std::string filler = "Insert00() :: Send 00 00 to file Fail0 ==  \n";
  const struct {
    ModelClass cls;
    bool end;
    int failingWrite;
    std::string expected;
  } cases[] = {
      {PLATFORM_M, false, 1, "Prnt_StartDoc() :: send UEL_CMD Fail 0 ==  \n"},
      {PLATFORM_M, false, 2, "Prnt_StartDoc() :: send pjlJZJZ_TXE Fail 0 ==  \n"},
      {PLATFORM_M, false, 3, "Prnt_StartDoc() :: send TONER_PARAM Fail 0 ==  \n"},
      {PLATFORM_M, false, 4, "Prnt_StartDoc() :: send START_DOC_CMD Fail 0 ==  \n"},
      {PLATFORM_M, false, 7, "Prnt_StartDoc() :: send TOTAL_PAGE_PARAM Fail 0 ==  \n"},
      {PLATFORM_Z, false, 1, "Prnt_StartDoc() :: send PJLheader Fail 0 ==  \n"},
      {PLATFORM_Z, false, 3, "Prnt_StartDoc() :: send pjlSendTime Fail 0 ==  \n"},
      {PLATFORM_Z, false, 6, "Prnt_StartDoc() :: send pjlHostName Fail 0 ==  \n"},
      {PLATFORM_Z, false, 7, "Prnt_StartDoc() :: send pjlPosCmd Fail 0 ==  \n"},
      {PLATFORM_Z, false, 8, "Prnt_StartDoc() :: send cmdFineMode Fail 0 ==  \n" + filler},
      {PLATFORM_Z, false, 11, "Prnt_StartDoc() :: send cmdJobSpec Fail 0 ==  \n"},
      {PLATFORM_Z, false, 13, "Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \n"},
      {PLATFORM_Z, false, 14, "Prnt_StartDoc() :: send cmdTonerParamTXD Fail 0 ==  \n" + filler},
      {PLATFORM_C, false, 3, "Prnt_StartDoc() :: send endOfJobCmd Fail 0 ==  \n"},
      {PLATFORM_C, false, 4, "Prnt_StartDoc() :: send fw Version Fail 0 ==  \n"},
      {PLATFORM_C, false, 6, "Prnt_StartDoc() :: send PJLheader Fail 0 ==  \n"},
      {PLATFORM_C, false, 7, "Prnt_StartDoc() :: send pjlCmd Fail 0 ==  \n"},
      {PLATFORM_C, false, 10, "Prnt_StartDoc() :: send cmdTonerSave Fail 0 ==  \n" + filler},
      {PLATFORM_C, false, 14, "Prnt_StartDoc() :: send cmdSysTime Fail 0 ==  \n"},
      {PLATFORM_M, true, 1, "Prnt_EndDoc() :: send END_DOC_CMD Fail 0 ==  \n"},
      {PLATFORM_M, true, 2, "Prnt_EndDoc() :: send UEL_CMD_C Fail 0 ==  \n"},
      {PLATFORM_Z, true, 2, "Prnt_EndDoc() :: send endOfJobCmd Fail 0 ==  \n"},
      {PLATFORM_C, true, 2,
       "Prnt_EndDoc() :: MachineDuplexCmd Fail .\n"
       "SendMachineDuplexCmd() :: send machineDuplexCmd Fail 0 ==  \n"},
      {PLATFORM_C, true, 4, "Prnt_EndDoc() :: send queryStatusCmd Fail 0 ==  \n"},
      {PLATFORM_C, true, 5, "Prnt_EndDoc() :: send resetCmd Fail 0 ==  \n" + filler},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("class " + std::to_string(c.cls) + (c.end ? " end" : " start") + ", write " +
                 std::to_string(c.failingWrite));
    Capture o;
    resetJobState();
    g_job.outputFd = o.fd();
    setModel(c.cls == PLATFORM_M ? kModelM : c.cls == PLATFORM_C ? kModelC : kModelZ);
    FailingWrite::arm(o.fd(), c.failingWrite);
    const JobStartRecord start = job_258();
    const JobEndRecord end{5, 1};
    EXPECT_EQ(c.end ? Prnt_EndDoc(&end, c.cls) : Prnt_StartDoc(&start, c.cls), 0);
    EXPECT_EQ(std::string(g_job.errorText), c.expected);
    EXPECT_EQ(FailingWrite::calls, c.failingWrite) << "nothing is tried after the failed write";
  }
}

}  // namespace
}  // namespace rf::test
