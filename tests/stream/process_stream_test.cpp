// The printer stream of whole rasterfilter runs on raster made by the real
// CUPS chain, read back by a parser of its own (not a dump of our output).
//
//  until the job loop calls the stream writers (job start, page
// start and end, job end); drop the prefixes in the commit that wires them.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <string>
#include <vector>

#include "piped_process.h"
#include "test_support.h"

using namespace testing_support;

namespace {

using Tokens = std::vector<std::string>;

const char kUel[] = "\x1b%-12345X";
const char kEoj[] = "\x1b%-12345X@PJL\r\n@PJL EOJ\r\n\x1b%-12345X\r\n";
const char kUelC[] = "\x1b\xff-12345X";

bool at(const std::string& s, size_t i, const char* text) {
  return s.compare(i, std::strlen(text), text) == 0;
}
uint32_t be32(const std::string& s, size_t i) {
  return (uint32_t(uint8_t(s[i])) << 24) | (uint8_t(s[i + 1]) << 16) | (uint8_t(s[i + 2]) << 8) |
         uint8_t(s[i + 3]);
}
uint32_t le32(const std::string& s, size_t i) {
  return uint8_t(s[i]) | (uint8_t(s[i + 1]) << 8) | (uint8_t(s[i + 2]) << 16) |
         (uint32_t(uint8_t(s[i + 3])) << 24);
}

// PJL lines up to and including the line feed; the token is the line up to
// its '=' so that times and host names do not matter.
size_t pjl_lines(const std::string& s, size_t i, Tokens& out) {
  while (at(s, i, "@PJL")) {
    const size_t end = s.find('\n', i);
    if (end == std::string::npos) return s.size();
    const std::string line = s.substr(i, end - i);
    out.push_back("pjl:" + line.substr(0, line.find_first_of("=\r")));
    i = end + 1;
  }
  return i;
}

// The chunk stream: UEL, JZJZ, chunks, UEL.
Tokens parse_chunks(const std::string& s) {
  Tokens out;
  size_t i = 0;
  if (!at(s, 0, kUel) || !at(s, 9, "JZJZ")) return {"bad start"};
  out = {"UEL", "JZJZ"};
  for (i = 13; i + 16 <= s.size() && !at(s, i, kUel);) {
    const uint32_t length = be32(s, i);
    if (length < 16 || uint8_t(s[i + 14]) != 0x5A || uint8_t(s[i + 15]) != 0x5A || i + length > s.size())
      return out.push_back("bad chunk"), out;
    out.push_back("chunk:" + std::to_string(be32(s, i + 4)));
    i += length;
  }
  if (at(s, i, kUel)) out.push_back("UEL"), i += 9;
  if (i != s.size()) out.push_back("trailing bytes");
  return out;
}

// PJL text and 0x0B records; a record whose bytes do not sum to 0 (a filler
// slipped into it, say) shows up as "bad record".
Tokens parse_records(const std::string& s) {
  Tokens out;
  for (size_t i = 0; i < s.size();) {
    if (at(s, i, kEoj)) {
      out.push_back("EOJ"), i += std::strlen(kEoj);
    } else if (at(s, i, kUel)) {
      out.push_back("UEL"), i = pjl_lines(s, i + 9, out);
    } else if (at(s, i, "@PJL")) {
      i = pjl_lines(s, i, out);
    } else if (at(s, i, kUelC)) {
      out.push_back("UEL_C"), i += 9;
    } else if (at(s, i, "versions=3.1.2.1")) {
      out.push_back("version"), i += 16;
    } else if (s[i] == 0 && i + 1 < s.size() && s[i + 1] == 0) {
      out.push_back("00"), i += 2;
    } else if (s[i] == 0x0B && i + 1 < s.size()) {
      const size_t length = uint8_t(s[i + 1]);
      uint8_t sum = 0;
      for (size_t k = 0; k < length && i + k < s.size(); ++k) sum = uint8_t(sum + uint8_t(s[i + k]));
      if (length < 4 || i + length > s.size() || sum != 0) return out.push_back("bad record"), out;
      char id[16];
      std::snprintf(id, sizeof id, "%02X/%zu", uint8_t(s[i + 2]), length);
      out.push_back(std::string("rec:") + id);
      size_t data = 0;  // image bytes that follow the record
      if (s[i + 2] == 0x0C && length == 18) data = le32(s, i + 13);
      if (s[i + 2] == 0x1A && length == 48) data = le32(s, i + 23);
      i += length + data;
    } else {
      return out.push_back("junk at " + std::to_string(i)), out;
    }
  }
  return out;
}

// Drops what the page image adds, so the frame can be compared on its own.
Tokens frame_only(const Tokens& t) {
  static const char* const image[] = {"rec:0C/18", "rec:1A/48", "rec:19/7", "chunk:4", "chunk:5", "chunk:6"};
  Tokens out;
  for (const auto& x : t) {
    bool drop = x == "00";
    for (const char* m : image) drop = drop || x == m;
    if (!drop) out.push_back(x);
  }
  return out;
}

Tokens repeat(const Tokens& head, const Tokens& page, int pages, const Tokens& tail) {
  Tokens out = head;
  for (int p = 0; p < pages; ++p) out.insert(out.end(), page.begin(), page.end());
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

ProcessOptions filter_options(const std::string& ppd) {
  ProcessOptions o;
  o.inheritEnv = false;
  o.env = {"PPD=" + ppd, "PATH=/usr/bin:/bin"};
  return o;
}

// rasterfilter with a pipe for standard input, so a test can stall the
// raster or signal the filter between pages.
class FilterRun : public PipedProcess {
 public:
  explicit FilterRun(const std::string& ppd)
      : PipedProcess({binPath("rasterfilter"), "42", "alice", "report", "1", ""}, filter_options(ppd)) {}
};

std::string raster_for(const std::string& ppd, int pages) {
  return rasterFromPdf(ppdPath(ppd), makePdf(pages));
}

int count(const Tokens& t, size_t from, size_t to, const std::string& what) {
  int n = 0;
  for (size_t i = from; i < to && i < t.size(); ++i) n += t[i] == what;
  return n;
}

size_t find(const Tokens& t, const std::string& what, size_t from = 0) {
  for (size_t i = from; i < t.size(); ++i)
    if (t[i] == what) return i;
  return t.size();
}

TEST(ProcessStream, EachDialectFramesItsPagesInTheJobEnvelope) {
  const Tokens pjlZ = {"UEL", "pjl:@PJL", "pjl:@PJL JOBTIME", "pjl:@PJL JOBOWNER", "pjl:@PJL ENTER LANGUAGE"};
  Tokens headZ = pjlZ;
  headZ.insert(headZ.end(), {"rec:1F/5", "rec:11/9", "rec:15/5"});
  const Tokens headC = {"UEL_C", "rec:16/4", "EOJ", "version", "UEL", "pjl:@PJL", "pjl:@PJL ENTER LANGUAGE",
                        "rec:11/6", "rec:19/5", "rec:15/5", "rec:1F/8"};
  const struct {
    const char* ppd;
    bool chunks;
    std::string imageMark;  // one per page image
    Tokens expected;
  } cases[] = {
      {"tesvel-tm4010.ppd", true, "chunk:4",
       repeat({"UEL", "JZJZ", "chunk:17", "chunk:0"}, {"chunk:2", "chunk:3"}, 2, {"chunk:1", "UEL"})},
      {"tesvel-tz3010.ppd", false, "rec:19/7",
       repeat(headZ, {"rec:12/18", "rec:13/12", "rec:18/4"}, 2, {"rec:17/4", "EOJ"})},
      {"tesvel-tc1110.ppd", false, "rec:0C/18",
       repeat(headC, {"rec:12/18", "rec:13/12", "rec:32/4", "UEL_C", "rec:1A/6", "rec:1E/6", "rec:18/4"}, 2,
              {"rec:31/5", "rec:17/4", "EOJ"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ppd);
    const std::string raster = raster_for(c.ppd, 2);
    FilterRun run(ppdPath(c.ppd));
    ASSERT_TRUE(run.started());
    run.feed(raster);
    EXPECT_EQ(run.finish(), 0) << run.err;
    const Tokens t = c.chunks ? parse_chunks(run.out) : parse_records(run.out);
    EXPECT_EQ(frame_only(t), c.expected);
    EXPECT_EQ(count(t, 0, t.size(), c.imageMark), 2) << "each page carries its image";
    EXPECT_EQ(run.err.find("ERROR:"), std::string::npos) << run.err;
  }
}

// A raster source that stalls in the middle of a page: the timer's filler
// arrives between page start and page end, never inside a record.
TEST(ProcessStream, AStalledPageIsBridgedByFillerOrByANote) {
  const struct {
    const char* ppd;
    bool listA;
  } cases[] = {{"tesvel-tz3010.ppd", false}, {"tesvel-txa.ppd", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ppd);
    const std::string raster = raster_for(c.ppd, 1);
    FilterRun quick(ppdPath(c.ppd));
    quick.feed(raster);
    ASSERT_EQ(quick.finish(), 0) << quick.err;
    FilterRun slow(ppdPath(c.ppd));
    slow.feed(raster.substr(0, raster.size() / 2));
    slow.pause(11);
    slow.feed(raster.substr(raster.size() / 2));
    ASSERT_EQ(slow.finish(), 0) << slow.err;

    const Tokens fast = parse_records(quick.out), stalled = parse_records(slow.out);
    ASSERT_EQ(frame_only(stalled), frame_only(fast)) << "records intact and in order";
    const size_t fs = find(fast, "rec:13/12"), ss = find(stalled, "rec:13/12");
    const int fastFill = count(fast, fs, find(fast, "rec:18/4", fs), "00");
    const int slowFill = count(stalled, ss, find(stalled, "rec:18/4", ss), "00");
    if (c.listA) {
      EXPECT_EQ(slowFill, 0);
      EXPECT_NE(slow.err.find("TXA_TXB机型删除定时器00命令\n"), std::string::npos);
    } else {
      EXPECT_GE(slowFill, fastFill + 1);
      EXPECT_LE(slowFill, fastFill + 2);
    }
  }
}

TEST(ProcessStream, SigtermBetweenPagesStillEndsTheJob) {
  const std::string one = raster_for("tesvel-tz3010.ppd", 1);
  const std::string two = raster_for("tesvel-tz3010.ppd", 2);
  FilterRun run(ppdPath("tesvel-tz3010.ppd"));
  ASSERT_TRUE(run.started());
  // Both documents render page 1 alike, so the longer raster is the shorter
  // one followed by page 2.
  ASSERT_EQ(two.compare(0, one.size(), one), 0);
  run.feed(one);
  run.pause(2);
  run.signal(SIGTERM);
  run.pause(1);
  run.feed(two.substr(one.size()));  // page 2 arrives after the signal
  EXPECT_EQ(run.finish(), 0) << run.err;
  const Tokens t = frame_only(parse_records(run.out));
  EXPECT_EQ(count(t, 0, t.size(), "rec:12/18"), 1);
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ(t[t.size() - 2], "rec:17/4");
  EXPECT_EQ(t.back(), "EOJ");
}

}  // namespace
