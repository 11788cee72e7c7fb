#include "page_layout.h"

#include <algorithm>
#include <cstring>

namespace tpa {

const std::vector<const char*> kScalingValues = {"auto", "auto-fit", "fill", "fit", "none"};
const std::vector<int> kNumberUpValues = {1, 2, 4, 6, 9, 16};
const std::vector<const char*> kNumberUpLayouts = {"btlr", "btrl", "lrbt", "lrtb", "rlbt", "rltb", "tblr", "tbrl"};
const std::vector<const char*> kPageBorders = {"none", "single", "single-thick", "double", "double-thick"};
const int kMaxPageRanges = 100;
const std::vector<const char*> kPageDeliveries = {"same-order", "reverse-order"};

namespace {

bool offered(const std::vector<const char*>& values, const char* v) {
  return v && std::any_of(values.begin(), values.end(), [v](const char* o) { return std::strcmp(o, v) == 0; });
}

const char* keyword(pappl_job_t* job, const char* name) {
  return ippGetString(papplJobGetAttribute(job, name), 0, nullptr);
}

const char* scaling_keyword(pappl_scaling_t s) {
  switch (s) {
    case PAPPL_SCALING_AUTO_FIT: return "auto-fit";
    case PAPPL_SCALING_FILL: return "fill";
    case PAPPL_SCALING_FIT: return "fit";
    case PAPPL_SCALING_NONE: return "none";
    default: return "auto";
  }
}

// "1-2,5-5" from a page-ranges attribute of ascending, separate ranges;
// empty when it is anything else.
std::string ranges_text(ipp_attribute_t* attr) {
  std::string text;
  int previous = 0;
  for (int i = 0; attr && i < ippGetCount(attr); ++i) {
    int upper = 0, lower = ippGetRange(attr, i, &upper);
    if (lower <= previous || upper < lower) return "";
    previous = upper;
    text += (text.empty() ? "" : ",") + std::to_string(lower) + "-" + std::to_string(upper);
  }
  return text;
}

}  // namespace

namespace {

// IPP's "auto" and "auto-fit" for a page turned a quarter, or one of
// several a sheet: such a page is larger than its place on the paper, and
// is fitted, which pdftopdf leaves to "fit" (its "auto" places them within
// the whole paper, the printer's edges cutting them).
std::string scaling_for_pdftopdf(const PageLayout& l) {
  bool smaller = l.orientation == 4 || l.orientation == 5 || l.numberUp > 1;
  if (smaller && (l.scaling == "auto" || l.scaling == "auto-fit")) return "fit";
  return l.scaling;
}

// The layout options other than scaling; page-delivery only when reversed.
std::string arrangement(const PageLayout& l) {
  std::string t;
  // pdftopdf turns each page to the paper's orientation unless told not
  // to, which would undo (or double) the turn asked for.
  if (l.orientation >= 3 && l.orientation <= 6)
    t += " orientation-requested=" + std::to_string(l.orientation) + " pdfAutoRotate=false";
  if (l.numberUp > 1) {
    t += " number-up=" + std::to_string(l.numberUp);
    if (!l.numberUpLayout.empty()) t += " number-up-layout=" + l.numberUpLayout;
    if (!l.pageBorder.empty()) t += " page-border=" + l.pageBorder;
  }
  if (!l.ranges.empty()) t += " page-ranges=" + l.ranges;
  if (l.reverse) t += " page-delivery=reverse-order";
  return t;
}

}  // namespace

std::string pdftopdfOptions(const PageLayout& l, const std::string& pageSize, const PageMargins& margins) {
  // pdftopdf fits and centres within the printed area: the paper less the
  // printer's blank edges.  "fill" covers the whole paper.
  PageMargins m = l.scaling == "fill" ? PageMargins{} : margins;
  std::string t = "PageSize=" + pageSize + " print-scaling=" + scaling_for_pdftopdf(l);
  t += " media-left-margin=" + std::to_string(m.leftRight) + " media-right-margin=" + std::to_string(m.leftRight);
  t += " media-top-margin=" + std::to_string(m.bottomTop) + " media-bottom-margin=" + std::to_string(m.bottomTop);
  t += arrangement(l);
  if (!l.reverse) t += " page-delivery=same-order";
  return t;
}

std::string askedLayoutOptions(const PageLayout& l) {
  std::string t = arrangement(l);
  if (l.scalingAsked || scaling_for_pdftopdf(l) != l.scaling) t = " print-scaling=" + scaling_for_pdftopdf(l) + t;
  return t;
}

PageLayout pageLayoutOf(pappl_job_t* job) {
  PageLayout l;
  pappl_pr_options_t* o = papplJobCreatePrintOptions(job, 0, false);
  l.scaling = scaling_keyword(o->print_scaling);  // the job's, else the printer's default
  papplJobDeletePrintOptions(o);
  l.scalingAsked = papplJobGetAttribute(job, "print-scaling") != nullptr || l.scaling != "auto";
  if (ipp_attribute_t* a = papplJobGetAttribute(job, "orientation-requested")) l.orientation = ippGetInteger(a, 0);
  if (ipp_attribute_t* a = papplJobGetAttribute(job, "number-up")) {
    int n = ippGetInteger(a, 0);
    if (std::find(kNumberUpValues.begin(), kNumberUpValues.end(), n) != kNumberUpValues.end()) l.numberUp = n;
  }
  if (const char* v = keyword(job, "number-up-layout"); offered(kNumberUpLayouts, v)) l.numberUpLayout = v;
  if (const char* v = keyword(job, "page-border"); offered(kPageBorders, v)) l.pageBorder = v;
  l.ranges = ranges_text(papplJobGetAttribute(job, "page-ranges"));
  const char* delivery = keyword(job, "page-delivery");
  l.reverse = delivery && std::strcmp(delivery, "reverse-order") == 0;
  return l;
}

void addPageLayoutCapabilities(ipp_t* attrs) {
  // pdftopdf takes any number of ranges; a hundred is more than any dialog sends.
  ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "max-page-ranges-supported", kMaxPageRanges);
  ippAddIntegers(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "number-up-supported",
                 static_cast<int>(kNumberUpValues.size()), kNumberUpValues.data());
  ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "number-up-default", 1);
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "number-up-layout-supported",
                static_cast<int>(kNumberUpLayouts.size()), nullptr, kNumberUpLayouts.data());
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "number-up-layout-default", nullptr, "lrtb");
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "page-border-supported",
                static_cast<int>(kPageBorders.size()), nullptr, kPageBorders.data());
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "page-border-default", nullptr, "none");
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "page-delivery-supported",
                static_cast<int>(kPageDeliveries.size()), nullptr, kPageDeliveries.data());
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "page-delivery-default", nullptr,
               "same-order");
}

void addJobCreationAttributes(ipp_t* attrs, const pappl_pr_driver_data_t& data) {
  // What PAPPL takes for every printer, then the layout and the driver's own.
  std::vector<const char*> names = {
      "copies", "document-format", "document-name", "ipp-attribute-fidelity", "job-hold-until",
      "job-hold-until-time", "job-name", "job-priority", "media", "media-col", "multiple-document-handling",
      "orientation-requested", "output-bin", "print-color-mode", "print-content-optimize", "print-quality",
      "printer-resolution", "sides", "number-up", "number-up-layout", "page-border", "page-delivery",
      "page-ranges", "print-scaling"};
  if (data.darkness_supported) names.push_back("print-darkness");
  for (int i = 0; i < data.num_vendor; ++i) names.push_back(data.vendor[i]);
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "job-creation-attributes-supported",
                static_cast<int>(names.size()), nullptr, names.data());
}

}  // namespace tpa
