// The colour road's two conversions: the even pages of long-edge duplex
// jobs are turned upside down with qpdf (the printer's paper path turns
// every back side over the long edge), and the PDF becomes PostScript
// through the CUPS pdftops filter.  Both replace the job file.
//
// The job file is either ours (a temporary file: the spooled input or the
// output of an earlier step) or CUPS's own document file (argv[6]).  A
// step that replaces the job file removes the old one only when it was
// ours; CUPS keeps its document for retries and job history.
#pragma once

#include <cstddef>
#include <string>

namespace jw {

// Used when the system's qpdf is older than version 8.
extern const char kOwnQpdfPath[];  // "/opt/tesvel/bin/tvqpdf"
extern const char kPdftopsPath[];  // "/usr/lib/cups/filter/pdftops"

// The pdftops that ConvertPdfToPs runs; null restores kPdftopsPath.  The
// filter itself never changes it: only the test build of the program
// (jobwrapper_testpaths) points it at a stand-in.
void set_pdftops_path(const char* path);
const char* pdftops_path();

// True when "qpdf --version" reports version 8 or later.
bool HasModernQpdf();

// One line of "qpdf --version": true for a "qpdf version" line whose third
// space-separated token reads as 8.0 or more.
bool qpdf_version_is_modern(const char* line);

// "2,4,...": every even page number up to pageCount; empty below 2.
std::string even_page_list(int pageCount);

// Long-edge duplex ("DuplexNoTumble") for the job's option text: the text
// decides when it names the duplex choice, else the PPD's default.
bool is_long_edge_duplex(const char* options);

// For a colour-group printer and a long-edge duplex job: rotates the even
// pages by 180 degrees into a new temporary file, which becomes the job
// file.  Any failure leaves the job file as it was (printed unrotated).
void RotateDuplexPages(const char* const* argv, char* path, size_t pathSize, bool* pathOwned);

// Converts the PDF job file to PostScript with pdftops (one copy, the
// option text without the layout options pdftops must not apply again,
// title and user without line ends or quotes that would break the PJL
// header pdftops writes).  1: the PostScript file is now the job file.
// -1: failure (pdftops failed or wrote no PostScript), nothing to send,
// the job file unchanged.
int ConvertPdfToPs(char* path, size_t pathSize, const char* const* argv, bool* pathOwned);

// Removes from text the first occurrence of keyword (exact case, also
// inside a longer word) up to and including the next separator.  An
// occurrence without a separator behind it stays.
void RemoveOption(char* text, const char* keyword, char separator);

}  // namespace jw
