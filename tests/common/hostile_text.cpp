#include "hostile_text.h"

#include <filesystem>
#include <regex>

#include "test_support.h"

namespace testing_support {

namespace fs = std::filesystem;

namespace {

const std::string kMarker = "pwned";

std::string repeated(const std::string& unit, size_t bytes) {
  std::string s;
  while (s.size() < bytes) s += unit;
  return s;
}

}  // namespace

const char kUel[] = "\x1b%-12345X";

// "%M" stands for the payload's own marker: the file that would appear
// (in the working directory) if a shell ran the text.
std::vector<std::string> hostilePayloads() {
  std::vector<std::string> p = {
      "$(touch %M)", "`touch %M`", "; touch %M", "| touch %M", "&& touch %M",
      "\ntouch %M\n", "\"; touch %M; \"", "'; touch %M; '", "\"$(touch %M)\"",
      "'\"'\"'; touch %M; '\"'\"'", "x\\\"; touch %M; echo \\\"", "\\\\\"; touch %M #",
      "a\\b\\\\c\\", "> %M", "< /dev/null; touch %M", "$IFS;touch${IFS}%M",
      "%n%s%n%s%x%p%n", repeated("%s", 40), "%99999999s%.9999999d%hhn",
      std::string(65536, 'A'), repeated("%n", 65536), repeated("\"\r\n@PJL ECHO x ", 65536),
      "\xff\xfe\x80\xc3\x28\xa0\xa1", "\xc0\xaf\xed\xa0\x80\xf8\x88\x80\x80\x80",
      "Report\r\n", "\r", "x\r\n@PJL SET JOBID=999\r\n", "\"\r\n@PJL ENTER LANGUAGE=PCL\r\n",
      "\n@PJL RDYMSG DISPLAY=\"%M\"\n", std::string(kUel) + "@PJL\r\n@PJL EOJ\r\n" + kUel,
      "@PJL JOB NAME = \"evil\"", "\"@PJL SET JOBOWNER=\"root", "-rf", "--help", "-",
      "\t\v\f\x7f\x01\x02\x03\x04", "%!PS\nshowpage\n%%Page: 1 1\n", ") show (x) = quit (",
      "*/ ; touch %M ; /*", "$(touch %M)`touch %M`;touch %M|touch %M&&touch %M",
  };
  for (size_t i = 0; i < p.size(); ++i)
    for (size_t at; (at = p[i].find("%M")) != std::string::npos;)
      p[i].replace(at, 2, kMarker + std::to_string(i));
  return p;
}

std::vector<std::string> pjlShape(const std::string& job) {
  std::vector<std::string> shape = {"UELs: " + std::to_string(countOf(job, kUel))};
  for (size_t at = 0; at < job.size();) {
    size_t end = job.find('\n', at);
    if (end == std::string::npos) end = job.size();
    if (job.compare(at, 4, "@PJL") == 0) {
      std::string line = job.substr(at, end - at);
      shape.push_back(line.substr(0, line.find_first_of("=\"")) +
                      (countOf(line, "\"") % 2 ? " (a quote left open)" : ""));
    }
    at = end + 1;
  }
  return shape;
}

std::vector<std::string> markersIn(const std::string& dir) {
  std::vector<std::string> found;
  const std::regex marker(kMarker + "[0-9]+");
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (std::regex_match(e.path().filename().string(), marker)) found.push_back(e.path());
  return found;
}

}  // namespace testing_support
