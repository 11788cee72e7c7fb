// Printing a PAPPL job through the filter: the raster callbacks (PWG and
// Apple raster, JPEG and PNG reach the driver as raster lines) and the
// document filter (PDF and PostScript, rendered by Ghostscript).
#pragma once

#include <pappl/pappl.h>

#include "drivers.h"
#include "filter_job.h"
#include "job_request.h"

namespace tpa {

// The print callbacks of every driver.
void setPrintCallbacks(pappl_pr_driver_data_t* data);

// The printer-ready format: what the filter writes, and what a client may
// send as is.
extern const char kPrinterFormat[];

// PDF and PostScript through Ghostscript into the filter; JPEG checked
// first, then laid out by PAPPL (PNG and raster need no filter).
void addDocumentFilters(pappl_system_t* system);

// The job's settings from its IPP attributes and the printer's defaults.
// False (with the reason) when the job asks for something the model
// cannot print.
bool jobRequestFor(pappl_job_t* job, const pappl_pr_options_t* options, const DriverModel& model,
                   JobRequest* out, std::string* why);

// The filter's argument vector and environment for a job.
FilterCommand filterCommand(pappl_job_t* job, const DriverModel& model, const std::string& options,
                            int copies);

}  // namespace tpa
