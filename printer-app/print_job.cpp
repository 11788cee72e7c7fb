#include "print_job.h"

#include "app_paths.h"

namespace tpa {

const char kPrinterFormat[] = "application/vnd.tesvel-printer";

namespace {

// A vendor setting of the job, else the printer's default for it.
std::string vendor_value(pappl_job_t* job, const pappl_pr_options_t* options, const char* name) {
  if (const char* v = cupsGetOption(name, options->num_vendor, options->vendor)) return v;
  std::string value;
  ipp_t* attrs = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
  ipp_attribute_t* attr = ippFindAttribute(attrs, (std::string(name) + "-default").c_str(), IPP_TAG_ZERO);
  if (attr) {
    char buf[256];
    ippAttributeString(attr, buf, sizeof buf);
    value = buf;
  }
  ippDelete(attrs);
  return value;
}

const char* sides_keyword(pappl_sides_t s) {
  if (s == PAPPL_SIDES_TWO_SIDED_LONG_EDGE) return "two-sided-long-edge";
  if (s == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE) return "two-sided-short-edge";
  return "one-sided";
}

}  // namespace

bool jobRequestFor(pappl_job_t* job, const pappl_pr_options_t* o, const DriverModel& model,
                   JobRequest* r, std::string* why) {
  JobAttributes a;
  a.mediaWidth = o->media.size_width;
  a.mediaLength = o->media.size_length;
  a.mediaName = o->media.size_name;
  // PAPPL fills in a resolution from print-quality when the job names none.
  if (papplJobGetAttribute(job, "printer-resolution") != nullptr) a.resolution = o->printer_resolution[0];
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  a.defaultResolution = data.x_default;
  a.sides = sides_keyword(o->sides);
  a.source = o->media.source;
  a.darknessConfigured = o->darkness_configured;
  a.printDarkness = o->print_darkness;
  a.draft = o->print_quality == IPP_QUALITY_DRAFT;
  a.copies = o->copies;
  if (const char* mdh = ippGetString(papplJobGetAttribute(job, "multiple-document-handling"), 0, nullptr))
    a.documentHandling = mdh;
  const rf::ModelInfo& info = *model.info;
  for (size_t i = 0; i < kVendorBooleanCount; ++i)
    if (info.features & kVendorBooleans[i].feature) a.vendor[i] = vendor_value(job, o, kVendorBooleans[i].ipp);
  if (info.features & rf::kFeatureBlankSuppress) a.blankSuppress = vendor_value(job, o, kBlankSuppressAttr);
  return jobRequestFrom(a, model.media, info, r, why);
}

FilterCommand filterCommand(pappl_job_t* job, const DriverModel& model, const std::string& options,
                            int copies) {
  FilterCommand c;
  const char* user = papplJobGetUsername(job);
  const char* title = papplJobGetName(job);
  // Job text goes to the filter as separate arguments, as CUPS passes it.
  c.argv = {appPaths().filter, std::to_string(papplJobGetID(job)), user ? user : "",
            title ? title : "", std::to_string(copies), options};
  c.env = {"PPD=" + ppdPathFor(*model.info), "PATH=/usr/bin:/bin", "LANG=C.UTF-8",
           std::string("TMPDIR=") + papplGetTempDir()};
  return c;
}

}  // namespace tpa
