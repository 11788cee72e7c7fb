// What the fault tests share: the filter started as CUPS starts it, the
// files a job left behind, and the stream inspector's verdict.
#pragma once

#include <string>
#include <vector>

#include "test_support.h"

namespace faults {

// The environment CUPS gives a filter: the queue's PPD and a private
// $TMPDIR; standard input from /dev/null.
testing_support::ProcessOptions filterOptions(const std::string& ppd, const testing_support::TempDir& tmp);

// rasterfilter's argument vector for job 3 of user "u", title "t".
std::vector<std::string> filterArgs(const std::string& copies, const std::string& options,
                                    const std::string& file = "");

// Empty when the printer stream passes the stream inspector's check (an
// empty stream passes: nothing was sent), else its complaint.
std::string streamViolation(const std::string& stream);

}  // namespace faults
