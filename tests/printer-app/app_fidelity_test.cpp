// What a printer does with the job attributes a client sends, as IPP has
// it: a value outside the printer's "-supported" list is refused when the
// client asks for fidelity and otherwise replaced by the printer's default,
// named in the unsupported-attributes group either way (an attribute the
// printer does not list at all with the value 'unsupported'); and what CUPS asks
// for ("all,media-col-database") gets everything "all" gets.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "app_fixture.h"

using namespace testing_support;

namespace {

struct FidelityCase {
  const char* name;  // the attribute the printer must name back
  const char* attr;  // ipptool's ATTR line for the job group
  enum { Supported, Substituted, Refused, Unlisted } outcome;  // Unlisted: substituted, named as unsupported
};

// On a TZ3010: monochrome, 600 dpi, one output bin, no finishings, one
// media type; its trays are auto, manual and tray-1.  Three up is a layout
// no printer offers, whatever else number-up-supported lists.
const FidelityCase kCases[] = {
    {"number-up", "ATTR integer number-up 3", FidelityCase::Substituted},
    {"output-bin", "ATTR keyword output-bin face-up", FidelityCase::Substituted},
    {"finishings", "ATTR enum finishings 4", FidelityCase::Substituted},
    {"media-col", "ATTR collection media-col { MEMBER keyword media-source tray-9 }", FidelityCase::Substituted},
    {"media-col", "ATTR collection media-col { MEMBER keyword media-type photographic }", FidelityCase::Substituted},
    {"media-col", "ATTR collection media-col { MEMBER integer media-top-margin 500 }", FidelityCase::Substituted},
    {"media-col",
     "ATTR collection media-col { MEMBER collection media-size { MEMBER integer x-dimension 100000 "
     "MEMBER integer y-dimension 100000 } }",
     FidelityCase::Substituted},
    {"print-color-mode", "ATTR keyword print-color-mode color", FidelityCase::Substituted},
    {"printer-resolution", "ATTR resolution printer-resolution 1200dpi", FidelityCase::Substituted},
    {"sides", "ATTR keyword sides foo", FidelityCase::Substituted},
    {"tesvel-negative-print", "ATTR keyword tesvel-negative-print maybe", FidelityCase::Substituted},
    {"job-hold-until", "ATTR keyword job-hold-until foo", FidelityCase::Refused},
    {"foo-bar", "ATTR integer foo-bar 3", FidelityCase::Unlisted},
    {"finishings-col", "ATTR collection finishings-col { MEMBER keyword finishing-template staple }",
     FidelityCase::Unlisted},
    {"x-image-position", "ATTR keyword x-image-position center", FidelityCase::Unlisted},
    {"number-up", "ATTR integer number-up 1", FidelityCase::Supported},
    {"sides", "ATTR keyword sides two-sided-long-edge", FidelityCase::Supported},
    {"media-col",
     "ATTR collection media-col { MEMBER keyword media-source tray-1 MEMBER keyword media-size-name "
     "iso_a4_210x297mm }",
     FidelityCase::Supported},
    {"tesvel-negative-print", "ATTR boolean tesvel-negative-print true", FidelityCase::Supported},
    {"job-hold-until", "ATTR keyword job-hold-until indefinite", FidelityCase::Supported},
    {"page-border", "ATTR keyword page-border single", FidelityCase::Supported},
    {"print-darkness", "ATTR integer print-darkness 50", FidelityCase::Supported},
};

const char kOperation[] = R"(  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name tester
)";

bool refused(const FidelityCase& c, const std::string& fidelity) {
  return c.outcome == FidelityCase::Refused || (c.outcome != FidelityCase::Supported && fidelity == "true");
}

// Create-Job with `c` and fidelity true, false or absent, what the answer
// must be, and the job cancelled when one was made; an unlisted attribute
// through Validate-Job too.
std::string fidelity_test(const FidelityCase& c, const char* fidelity) {
  bool no_job = refused(c, fidelity);
  std::string request = kOperation;
  if (std::string(fidelity) != "absent") request += std::string("  ATTR boolean ipp-attribute-fidelity ") + fidelity + "\n";
  request += std::string("  GROUP job-attributes-tag\n  ") + c.attr + "\n";
  std::string t = std::string("{\n  NAME \"") + c.attr + " fidelity=" + fidelity + "\"\n  OPERATION Create-Job\n" + request;
  if (c.outcome == FidelityCase::Supported)
    t += std::string("  STATUS successful-ok\n  EXPECT !") + c.name + "\n";
  else
    t += std::string("  STATUS ") +
         (no_job ? "client-error-attributes-or-values-not-supported"
                  : "successful-ok-ignored-or-substituted-attributes") +
         "\n  EXPECT " + c.name + (c.outcome == FidelityCase::Unlisted ? " OF-TYPE unsupported" : "") +
         " IN-GROUP unsupported-attributes-tag\n";
  t += no_job ? "  EXPECT !job-id\n}\n" : "  EXPECT job-id\n}\n";
  if (!no_job)
    t += std::string("{\n  NAME \"Cancel\"\n  OPERATION Cancel-Job\n") + kOperation +
         "  ATTR integer job-id $job-id\n  STATUS successful-ok\n}\n";
  // Validate-Job answers as a job creation would.
  if (c.outcome == FidelityCase::Unlisted && !no_job)
    t += std::string("{\n  NAME \"Validate-Job\"\n  OPERATION Validate-Job\n") + request +
         "  STATUS successful-ok-ignored-or-substituted-attributes\n}\n";
  return t;
}

// Every substitutable value at once, fidelity off: the job prints as one
// without them, and counts its impressions once it has completed.
const char kSubstitutedJob[] = R"({
  NAME "Print with unsupported values"
  OPERATION Print-Job
@OP@  ATTR name job-name job
  ATTR mimeMediaType document-format application/pdf
  GROUP job-attributes-tag
  ATTR integer number-up 3
  ATTR keyword output-bin face-up
  ATTR enum finishings 4
  ATTR collection media-col { MEMBER keyword media-source tray-9 MEMBER keyword media-type photographic MEMBER integer media-left-margin 500 }
  ATTR keyword print-color-mode color
  ATTR resolution printer-resolution 1200dpi
  ATTR keyword sides foo
  ATTR integer foo-bar 3
  FILE $filename
  STATUS successful-ok-ignored-or-substituted-attributes
  EXPECT job-id
}
{
  NAME "Completed, two impressions"
  OPERATION Get-Job-Attributes
  DELAY 0.2
@OP@  ATTR integer job-id $job-id
  STATUS successful-ok
  EXPECT job-state WITH-VALUE 9 REPEAT-NO-MATCH REPEAT-LIMIT 600
  EXPECT job-impressions WITH-VALUE 2
  EXPECT job-impressions-completed WITH-VALUE 2
  EXPECT !foo-bar
}
)";

class AppFidelity : public OnePrinterTest {};

TEST_F(AppFidelity, AValueThePrinterLacksIsRefusedWithFidelityAndReplacedByTheDefaultWithout) {
  std::string tests;
  size_t count = 0;
  for (const FidelityCase& c : kCases)
    for (const char* fidelity : {"true", "false", "absent"}) {
      tests += fidelity_test(c, fidelity);
      count += refused(c, fidelity) ? 1 : c.outcome == FidelityCase::Unlisted ? 3 : 2;  // cancelled, validated
    }
  writeFile(dir_.file("fidelity.test"), tests);
  ProcessResult r = server_.ipptool("p", {}, {dir_.file("fidelity.test")});
  EXPECT_EQ(countOf(r.out, "[FAIL]"), 0u) << r.out << r.err;
  EXPECT_EQ(countOf(r.out, "[PASS]"), count) << r.out << r.err;

  std::string job = kSubstitutedJob;
  for (size_t at; (at = job.find("@OP@")) != std::string::npos;) job.replace(at, 4, kOperation);
  writeFile(dir_.file("substituted.test"), job);
  std::string pdf = file("two.pdf", makePdf(2));
  r = server_.ipptool("p", {"-f", pdf}, {dir_.file("substituted.test")});
  ASSERT_EQ(countOf(r.out, "[PASS]"), 2u) << r.out << r.err;
  std::vector<std::string> out = dirEntries(server_.outDir("p"));
  ASSERT_EQ(out.size(), 1u);
  std::string substituted = readFile(server_.outDir("p") + "/" + out[0]);
  AppJob plain = server_.print("p", pdf, "application/pdf");
  ASSERT_EQ(plain.state, "completed") << plain.ipptool;
  // The same records but for the job's number and the clock.
  auto listing = [](const std::string& stream) {
    static const std::regex varying("stream file=\\S+|JOBTIME=\\S+|cmdSysTime.*|jobId=[0-9]+ checksum=0x[0-9a-f]+");
    return std::regex_replace(inspectStream(stream, {"--no-png"}).out, varying, "");
  };
  EXPECT_EQ(listing(substituted), listing(plain.stream));
}

// The attribute names of a Get-Printer-Attributes answer for `requested`.
std::set<std::string> answer_names(const AppServer& server, const std::vector<const char*>& requested) {
  std::set<std::string> names;
  ipp_t* response = server.ask("p", IPP_OP_GET_PRINTER_ATTRIBUTES, [&](ipp_t* request) {
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(requested.size()), nullptr, requested.data());
  });
  for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response))
    if (ippGetGroupTag(a) == IPP_TAG_PRINTER && ippGetName(a)) names.insert(ippGetName(a));
  ippDelete(response);
  return names;
}

TEST_F(AppFidelity, AllWithMediaColDatabaseAnswersEverythingAllAnswersAndTheDatabase) {
  std::set<std::string> all = answer_names(server_, {"all"});
  std::set<std::string> cups = answer_names(server_, {"all", "media-col-database"});
  for (const char* name : {"print-darkness-supported", "printer-input-tray", "tesvel-negative-print-supported"})
    EXPECT_EQ(all.count(name), 1u) << name;
  EXPECT_EQ(all.count("media-col-database"), 0u);
  all.insert("media-col-database");
  EXPECT_EQ(cups, all);
}

}  // namespace
