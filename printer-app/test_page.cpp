#include "test_page.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <vector>

// PAPPL's own client side of its sub-commands: the connection to the
// server (the socket in the instance directory) and a printer's URI.
extern "C" {
http_t* _papplMainloopConnect(const char* base_name, bool auto_start);
void _papplMainloopAddPrinterURI(ipp_t* request, const char* printer_name, char* resource, size_t rsize);
char* _papplMainloopGetDefaultPrinter(http_t* http, char* buffer, size_t bufsize);
}

namespace tpa {

namespace {

// A PostScript string literal: parentheses and backslashes escaped,
// anything outside printable ASCII as an octal escape.
std::string ps_string(const std::string& text) {
  std::string out = "(";
  for (unsigned char c : text) {
    if (c == '(' || c == ')' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c > 0x7e) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\%03o", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + ")";
}

std::string fmt(const char* format, double a, double b = 0, double c = 0, double d = 0) {
  char buf[160];
  std::snprintf(buf, sizeof buf, format, a, b, c, d);
  return buf;
}

std::string now_text() {
  time_t t = time(nullptr);
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[64];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M UTC", &tm);
  return buf;
}

// The resolution target: vertical line pairs, one group per line width
// (in 1/600 inch), each line as far from the next as it is wide.
std::string resolution_target(double x, double y) {
  std::string ps = "0 setgray\n";
  const double widths[] = {1, 2, 3, 4, 6};
  for (double w : widths) {
    double pt = w * 72.0 / 600.0;
    for (int i = 0; i < 12; ++i) ps += fmt("%.3f %.3f %.3f 40 rectfill\n", x + 2 * i * pt, y, pt);
    x += 24 * pt + 20;
  }
  return ps;
}

bool write_file(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return close(fd) == 0 && ok;
}

}  // namespace

std::string testPageProgram(const TestPageInfo& info) {
  const double w = info.widthPt, h = info.lengthPt, m = kTestPageMarginPt;
  std::string ps = "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n";
  ps += fmt("<< /PageSize [%.2f %.2f] >> setpagedevice\n", w, h);
  // The frame: its outer edge on the margin.
  const double f = kTestPageFrameWidthPt;
  ps += fmt("0 setgray %.2f setlinewidth\n", f);
  ps += fmt("%.2f %.2f %.2f %.2f rectstroke\n", m + f / 2, m + f / 2, w - 2 * m - f, h - 2 * m - f);

  ps += "/Helvetica-Bold findfont 18 scalefont setfont\n";
  ps += fmt("%.2f %.2f moveto ", m + kTestPageInsetPt, h - m - 50) +
        ps_string("Tesvel Printer Application test page") + " show\n";
  ps += "/Helvetica findfont 11 scalefont setfont\n";
  const std::string lines[] = {"Model: " + info.model, "Device: " + info.deviceUri,
                               "Driver version: " + info.version, "Printed: " + info.date};
  double y = h - m - 80;
  for (const std::string& line : lines) {
    ps += fmt("%.2f %.2f moveto ", m + kTestPageInsetPt, y) + ps_string(line) + " show\n";
    y -= 16;
  }

  // The grey ramp: eleven boxes side by side, white to black.
  const double rampLeft = m + kTestPageInsetPt, rampWidth = w - 2 * (m + kTestPageInsetPt);
  const double stepWidth = rampWidth / kTestPageRampSteps;
  const double rampBottom = h - kTestPageRampTopPt - kTestPageRampHeightPt;
  for (int i = 0; i < kTestPageRampSteps; ++i) {
    double grey = 1.0 - static_cast<double>(i) / (kTestPageRampSteps - 1);
    ps += fmt("%.3f setgray %.2f %.2f %.2f ", grey, rampLeft + i * stepWidth, rampBottom, stepWidth);
    ps += fmt("%.2f rectfill\n", kTestPageRampHeightPt);
  }
  ps += "0 setgray 0.5 setlinewidth\n";
  ps += fmt("%.2f %.2f %.2f %.2f rectstroke\n", rampLeft, rampBottom, rampWidth, kTestPageRampHeightPt);

  ps += resolution_target(m + kTestPageInsetPt, rampBottom - 90);
  ps += fmt("%.2f %.2f moveto ", m + kTestPageInsetPt, rampBottom - 110) +
        ps_string("Line pairs of 1, 2, 3, 4 and 6 dots at 600 dpi") + " show\n";
  ps += "showpage\n%%EOF\n";
  return ps;
}

std::string writeTestPage(const TestPageInfo& info) {
  std::string path = std::string(papplGetTempDir()) + "/tesvel-testpage-XXXXXX";
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return "";
  close(fd);
  TestPageInfo page = info;
  if (page.date.empty()) page.date = now_text();
  if (!write_file(name.data(), testPageProgram(page))) {
    unlink(name.data());
    return "";
  }
  return name.data();
}

const char* testPageCallback(pappl_printer_t* printer, char* buffer, size_t bufsize) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  TestPageInfo info;
  info.model = data.make_and_model;
  const char* uri = papplPrinterGetDeviceURI(printer);
  info.deviceUri = uri ? uri : "";
  pappl_version_t version;
  if (papplSystemGetVersions(papplPrinterGetSystem(printer), 1, &version) > 0) info.version = version.sversion;
  if (data.media_default.size_width > 0 && data.media_default.size_length > 0) {
    info.widthPt = data.media_default.size_width * 72.0 / 2540.0;
    info.lengthPt = data.media_default.size_length * 72.0 / 2540.0;
  }
  // A new file each time: PAPPL removes a job's file from the temporary
  // directory when the job is done, so two pages asked for at once must not
  // share one.
  std::string path = writeTestPage(info);
  if (path.empty() || path.size() >= bufsize) {
    if (!path.empty()) unlink(path.c_str());
    return nullptr;
  }
  std::snprintf(buffer, bufsize, "%s", path.c_str());
  return buffer;
}

}  // namespace tpa

namespace tpa {

namespace {

const char* attr_text(ipp_t* response, const char* name) {
  const char* s = ippGetString(ippFindAttribute(response, name, IPP_TAG_ZERO), 0, nullptr);
  return s ? s : "";
}

// media-col-default's size, hundredths of a millimetre to points.
void media_size(ipp_t* response, TestPageInfo* info) {
  ipp_t* col = ippGetCollection(ippFindAttribute(response, "media-col-default", IPP_TAG_BEGIN_COLLECTION), 0);
  ipp_t* size = ippGetCollection(ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION), 0);
  int x = ippGetInteger(ippFindAttribute(size, "x-dimension", IPP_TAG_INTEGER), 0);
  int y = ippGetInteger(ippFindAttribute(size, "y-dimension", IPP_TAG_INTEGER), 0);
  if (x > 0 && y > 0) {
    info->widthPt = x * 72.0 / 2540.0;
    info->lengthPt = y * 72.0 / 2540.0;
  }
}

}  // namespace

std::string testPageForCommand(const char* baseName, std::string* printer, std::string* why) {
  http_t* http = _papplMainloopConnect(baseName, true);
  if (http == nullptr) {
    *why = "cannot reach the server";
    return "";
  }
  char buf[256];
  if (printer->empty() && _papplMainloopGetDefaultPrinter(http, buf, sizeof buf) != nullptr) *printer = buf;
  if (printer->empty()) {
    httpClose(http);
    *why = "no printer named (-d) and no default printer";
    return "";
  }
  static const char* const kAttrs[] = {"printer-make-and-model", "printer-device-id", "media-col-default",
                                       "printer-firmware-string-version"};
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  char resource[1024];
  _papplMainloopAddPrinterURI(request, printer->c_str(), resource, sizeof resource);
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(sizeof kAttrs / sizeof kAttrs[0]), nullptr, kAttrs);
  ipp_t* response = cupsDoRequest(http, request, resource);
  httpClose(http);
  std::string file;
  if (cupsLastError() >= IPP_STATUS_ERROR_BAD_REQUEST) {
    *why = cupsLastErrorString();
  } else {
    TestPageInfo info;
    info.model = attr_text(response, "printer-make-and-model");
    // The server does not tell its clients a printer's device URI: the
    // page from the command line names the device by its ID instead.
    info.deviceUri = attr_text(response, "printer-device-id");
    info.version = attr_text(response, "printer-firmware-string-version");
    media_size(response, &info);
    file = writeTestPage(info);
    if (file.empty()) *why = "cannot write the test page";
  }
  ippDelete(response);
  return file;
}

}  // namespace tpa
