// The test page: a PostScript program the application writes itself and
// prints as an ordinary job (Ghostscript, then the filter), so it shows
// what every job goes through.  It carries the model, the device URI, the
// application's version and the date, a grey ramp in eleven steps from
// white to black (the halftone), a resolution target of fine lines and a
// frame along the page's margins.
#pragma once

#include <string>

#include <pappl/pappl.h>

namespace tpa {

struct TestPageInfo {
  std::string model;      // "Tesvel TZ3010 Series"
  std::string deviceUri;
  std::string version;    // the application's
  std::string date;       // as printed; "": now
  double widthPt = 595;   // the page, in points
  double lengthPt = 842;
};

// Where the test page's marks are, in points from the page's top left, so
// a test can look for them in the printed page.
constexpr double kTestPageMarginPt = 36;    // the frame, half an inch in: inside every model's image area
constexpr double kTestPageFrameWidthPt = 2;
constexpr int kTestPageRampSteps = 11;      // white (step 0) to black
constexpr double kTestPageRampTopPt = 200;  // the ramp's band
constexpr double kTestPageRampHeightPt = 60;
constexpr double kTestPageInsetPt = 30;     // the text and the ramp, inside the frame

// The PostScript program of the page.
std::string testPageProgram(const TestPageInfo& info);

// PAPPL's test-page callback: writes the page for the printer to a new
// file in the temporary directory (PAPPL removes it after the job) and
// returns its name in `buffer`.
const char* testPageCallback(pappl_printer_t* printer, char* buffer, size_t bufsize);

// The page for a printer's attributes (used by the testpage sub-command,
// which has only what the server tells it): writes it to a new temporary
// file and returns its name, or "" on failure.
std::string writeTestPage(const TestPageInfo& info);

}  // namespace tpa

namespace tpa {

// The testpage sub-command's first half: asks the running server for the
// printer's model, device ID and default media (`printer` "" for the default
// printer), writes the page and returns its file; PAPPL's own "submit"
// then prints it.  "" (with the reason) on failure.
std::string testPageForCommand(const char* baseName, std::string* printer, std::string* why);

}  // namespace tpa
