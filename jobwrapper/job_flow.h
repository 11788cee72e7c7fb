// The wrapper's job flow: identify the printer, spool the input, gather
// the page-size and copy facts, then copy the job on one of two roads.
#pragma once

#include <cstddef>

namespace jw {

// The filter arguments padded to seven entries: argv[0] queue, [1] job id,
// [2] user, [3] title, [4] copies, [5] options, [6] file; null when absent.
struct JobArgs {
  const char* v[7];
};
JobArgs make_job_args(int argc, char** argv);

// The two refusals the user sees (through _cupsLangPrintError, "ERROR").
extern const char kRefusedPrinterText[];
extern const char kRefusedCustomSizeText[];

// SIGTERM sets cancel_job, says "cancel_job =1" and stops a running
// qpdf or pdftops (see child_process.h).
void install_sigterm_handler();

// The whole job after the set-up of main; returns the exit status.
int run_job(int argc, char** argv);

// Copies fd (standard input for SpoolStdinToFile) into a new CUPS
// temporary file and leaves its name in path (empty on failure).  Input
// whose last block lacks a UEL gets the spooling UEL text appended.
void spool_fd_to_file(int fd, char* path, size_t pathSize);
void SpoolStdinToFile(char* path, size_t pathSize);

// The PostScript road: block by block for most models, line by line with
// the PJL additions, media fix-ups and collated copies for JobControlModels.
void WriteMonoJob(const char* const* argv, const char* path);

// The colour road: the PDF job file rotated for long-edge duplex,
// converted to PostScript and copied out beside the keep-alive thread.
// The job path follows each conversion; *pathOwned tells whether the
// file it names is one of ours (to be removed when the job ends).
void WriteColourJob(const char* const* argv, char* path, size_t pathSize, bool* pathOwned);

// The colour road's copy of the converted file.
void WritePrintFile(const char* path);

}  // namespace jw
