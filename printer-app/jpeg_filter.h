// JPEG pictures.  PAPPL's own JPEG filter refuses a picture too large to
// print or one it cannot read, but leaves the job without a word on why;
// this one says why in the job's message.  The picture is laid out on the
// page by PAPPL as before.
#pragma once

#include <pappl/pappl.h>

namespace tpa {

bool jpegFilter(pappl_job_t* job, pappl_device_t* device, void* data);

}  // namespace tpa
