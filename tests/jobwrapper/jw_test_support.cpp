#include "jw_test_support.h"

#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace jwtest {

std::string ppdPath(const std::string& model) {
  return testing_support::ppdPath("tesvel-ps-" + model + ".ppd");
}

ScopedPpd::ScopedPpd(const std::string& path) {
  const char* old = getenv("PPD");
  had_ = old != nullptr;
  if (had_) old_ = old;
  setenv("PPD", path.c_str(), 1);
}

ScopedPpd::~ScopedPpd() {
  if (had_)
    setenv("PPD", old_.c_str(), 1);
  else
    unsetenv("PPD");
}

std::string makePdf(const std::string& dir, int pages, int linesPerPage, int widthPt,
                    int heightPt) {
  std::ostringstream ps;
  ps << "%!PS\n/Helvetica findfont 10 scalefont setfont\n";
  for (int p = 1; p <= pages; ++p) {
    for (int l = 0; l < linesPerPage; ++l)
      ps << "36 " << (heightPt - 40 - (l % 70) * 11) << " moveto (Page " << p << " line " << l
         << " of the jobwrapper test document) show\n";
    ps << "showpage\n";
  }
  std::string psPath = dir + "/doc.ps", pdfPath = dir + "/doc.pdf";
  writeFile(psPath, ps.str());
  ProcessResult r = runProcess(
      {"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
       "-dDEVICEWIDTHPOINTS=" + std::to_string(widthPt),
       "-dDEVICEHEIGHTPOINTS=" + std::to_string(heightPt), "-dFIXEDMEDIA",
       "-sOutputFile=" + pdfPath, psPath},
      {});
  if (r.exitStatus != 0) throw std::runtime_error("gs failed: " + r.err);
  return pdfPath;
}

std::string chainPostScript(const std::string& ppd, const std::string& pdf,
                            const std::vector<std::string>& options, int copies,
                            const std::string& title) {
  std::vector<std::string> argv = {"/usr/sbin/cupsfilter", "-p", ppd, "-m",
                                   "application/vnd.cups-postscript", "-n",
                                   std::to_string(copies), "-t", title,
                                   "-o", "pdftops-renderer=gs"};
  for (const auto& o : options) {
    argv.push_back("-o");
    argv.push_back(o);
  }
  argv.push_back(pdf);
  ProcessResult r = runProcess(argv, {});
  if (r.exitStatus != 0 || r.out.empty())
    throw std::runtime_error("cupsfilter failed: " + r.err.substr(0, 2000));
  return r.out;
}

}  // namespace jwtest
