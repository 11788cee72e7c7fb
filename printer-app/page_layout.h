// How a document's pages are laid out on the paper, for PDF and PostScript
// on every model: CUPS's own page handling (cups-filters' pdftopdf) does
// it, as it does for a CUPS queue (before Ghostscript on the host-based
// models, before jobwrapper on the PostScript ones), and this file says
// which of its options each IPP attribute becomes.
#pragma once

#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "media_names.h"

namespace tpa {

struct PageLayout {
  std::string scaling = "auto";  // print-scaling
  bool scalingAsked = false;     // by the job, or a default other than "auto"
  int orientation = 0;           // orientation-requested 3..6; 0: as the document is
  int numberUp = 1;
  std::string numberUpLayout;    // number-up-layout; empty: pdftopdf's own (lrtb)
  std::string pageBorder;        // page-border; empty: none
  std::string ranges;            // page-ranges as "1-2,5-5"; empty: every page
  bool reverse = false;          // page-delivery reverse-order
};

// The values offered for each attribute (what pdftopdf does).
extern const std::vector<const char*> kScalingValues;
extern const std::vector<int> kNumberUpValues;
extern const std::vector<const char*> kNumberUpLayouts;
extern const std::vector<const char*> kPageBorders;
extern const std::vector<const char*> kPageDeliveries;
extern const int kMaxPageRanges;

// pdftopdf's option text for the paper `pageSize` (the PPD's PageSize
// choice) and the printer's blank edges.
std::string pdftopdfOptions(const PageLayout& layout, const std::string& pageSize, const PageMargins& margins);

// The layout options of `l` for CUPS's filters on a PostScript model: only
// what differs from a CUPS queue's defaults, so that a job that asks for
// nothing prints as it would there.  Each begins with a space.
std::string askedLayoutOptions(const PageLayout& l);

// The layout a job asks for.  A value outside those offered is left at the
// printer's default.
PageLayout pageLayoutOf(pappl_job_t* job);

// The -supported and -default attributes of the layout, for the driver.
void addPageLayoutCapabilities(ipp_t* attrs);

// job-creation-attributes-supported: every job attribute the printer
// takes, for a driver whose data (darkness, vendor attributes) is filled in.
void addJobCreationAttributes(ipp_t* attrs, const pappl_pr_driver_data_t& data);

}  // namespace tpa
