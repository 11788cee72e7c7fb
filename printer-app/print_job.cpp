#include "print_job.h"

#include <cstring>

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

Source source_for(const char* pwgSource) {
  if (std::strcmp(pwgSource, "manual") == 0) return Source::Manual;
  if (std::strcmp(pwgSource, "tray-1") == 0) return Source::Tray;
  return Source::Auto;
}

Sides sides_for(pappl_sides_t s) {
  if (s == PAPPL_SIDES_TWO_SIDED_LONG_EDGE) return Sides::LongEdge;
  if (s == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE) return Sides::ShortEdge;
  return Sides::OneSided;
}

}  // namespace

bool jobRequestFor(pappl_job_t* job, const pappl_pr_options_t* o, const DriverModel& model,
                   JobRequest* r, std::string* why) {
  const rf::ModelInfo& info = *model.info;
  r->pageSize = pageSizeForMedia(model.media, info, o->media.size_width, o->media.size_length);
  if (r->pageSize.empty()) {
    *why = std::string("The paper size ") + o->media.size_name + " is not one this printer takes.";
    return false;
  }
  // PAPPL picks a resolution from print-quality when the job names none;
  // the printer's own default (600 dpi unless set otherwise) is what a
  // CUPS queue with the PPD would use.
  int dpi = o->printer_resolution[0];
  if (papplJobGetAttribute(job, "printer-resolution") == nullptr) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
    dpi = data.x_default;
  }
  r->resolution = dpi >= 1200 && info.resolution1200 ? 1200 : 600;
  r->sides = info.duplexUnit ? sides_for(o->sides) : Sides::OneSided;
  r->source = source_for(o->media.source);
  r->density = densityFromDarkness(o->darkness_configured, o->print_darkness);
  r->tonerSave = o->print_quality == IPP_QUALITY_DRAFT;
  r->copies = o->copies > 0 ? o->copies : 1;
  const char* mdh = ippGetString(papplJobGetAttribute(job, "multiple-document-handling"), 0, nullptr);
  r->collate = mdh == nullptr || std::strcmp(mdh, "separate-documents-uncollated-copies") != 0;
  for (size_t i = 0; i < kVendorBooleanCount && i < sizeof r->vendor; ++i)
    if (info.features & kVendorBooleans[i].feature)
      r->vendor[i] = vendorTrue(vendor_value(job, o, kVendorBooleans[i].ipp).c_str());
  if (info.features & rf::kFeatureBlankSuppress) r->blankSuppress = vendor_value(job, o, kBlankSuppressAttr);
  return true;
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
