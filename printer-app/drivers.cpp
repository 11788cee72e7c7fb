#include "drivers.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "job_request.h"
#include "page_layout.h"
#include "print_job.h"
#include "printer_icons.h"
#include "ps_drivers.h"
#include "status_callback.h"

namespace tpa {

namespace {

constexpr const char* kSources[] = {"auto", "manual", "tray-1"};  // Auto, ManualFeed, AutoFeed

// "tesvel-tz3010.ppd" -> "tesvel_tz3010"
std::string driver_name(const char* ppdName) {
  std::string n = ppdName;
  if (n.size() > 4 && n.compare(n.size() - 4, 4, ".ppd") == 0) n.resize(n.size() - 4);
  for (char& c : n)
    if (c == '-') c = '_';
  return n;
}

// "Tesvel TZ3010 Series" -> "TZ3010": the part of the name a printer's
// device ID carries.
std::string model_stem(const std::string& description) {
  std::string s = description;
  if (strncasecmp(s.c_str(), "Tesvel ", 7) == 0) s.erase(0, 7);
  if (s.size() > 7 && strcasecmp(s.c_str() + s.size() - 7, " Series") == 0) s.resize(s.size() - 7);
  return s;
}

std::vector<DriverModel> build_models() {
  std::vector<DriverModel> out;
  for (size_t i = 0; i < rf::kModelCatalogSize; ++i) {
    const rf::ModelInfo& m = rf::kModelCatalog[i];
    DriverModel d;
    d.info = &m;
    d.name = driver_name(m.ppdName);
    d.description = m.modelName;
    d.deviceId = "MFG:Tesvel;MDL:" + model_stem(m.modelName) + " Series;";
    d.media = mediaRowsFor(m.paperTable);
    d.customRange = customRangeNames(m);
    out.push_back(std::move(d));
  }
  return out;
}

void fill_media(const DriverModel& d, pappl_pr_driver_data_t* data) {
  // PAPPL keeps the name pointers: they point into the static model list.
  data->num_media = 0;
  for (const MediaRow& r : d.media)
    if (data->num_media < PAPPL_MAX_MEDIA) data->media[data->num_media++] = r.pwgName.c_str();
  for (const std::string& n : d.customRange)
    if (data->num_media < PAPPL_MAX_MEDIA) data->media[data->num_media++] = n.c_str();

  const MediaRow* a4 = &d.media.front();
  for (const MediaRow& r : d.media)
    if (r.ppdName == "A4") a4 = &r;
  data->num_source = 0;
  for (const char* s : kSources) {
    pappl_media_col_t& col = data->media_ready[data->num_source];
    std::memset(&col, 0, sizeof col);
    snprintf(col.size_name, sizeof col.size_name, "%s", a4->pwgName.c_str());
    col.size_width = a4->width;
    col.size_length = a4->length;
    snprintf(col.source, sizeof col.source, "%s", s);
    snprintf(col.type, sizeof col.type, "stationery");
    col.left_margin = col.right_margin = data->left_right;
    col.bottom_margin = col.top_margin = data->bottom_top;
    data->source[data->num_source++] = s;
  }
  data->media_default = data->media_ready[0];
  data->num_type = 1;
  data->type[0] = "stationery";
}

void add_vendor(const DriverModel& d, pappl_pr_driver_data_t* data, ipp_t* attrs) {
  data->num_vendor = 0;
  for (size_t i = 0; i < kVendorBooleanCount; ++i) {
    if (!(d.info->features & kVendorBooleans[i].feature)) continue;
    const char* name = kVendorBooleans[i].ipp;
    data->vendor[data->num_vendor++] = name;
    ippAddBoolean(attrs, IPP_TAG_PRINTER, (std::string(name) + "-supported").c_str(), 1);
    ippAddBoolean(attrs, IPP_TAG_PRINTER, (std::string(name) + "-default").c_str(), 0);
  }
  if (d.info->features & rf::kFeatureBlankSuppress) {
    static const char* const values[] = {"off", "on", "printer-setting"};
    data->vendor[data->num_vendor++] = kBlankSuppressAttr;
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                  (std::string(kBlankSuppressAttr) + "-supported").c_str(), 3, nullptr, values);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 (std::string(kBlankSuppressAttr) + "-default").c_str(), nullptr, "off");
  }
}

// What every IPP Everywhere client asks about and this printer does one way
// only: no colour management (the filter prints grey), and no preferred
// values to offer for a document.
void add_fixed_capabilities(ipp_t* attrs) {
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "print-rendering-intent-default", nullptr, "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "print-rendering-intent-supported", nullptr, "auto");
  ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
}

}  // namespace

const std::vector<DriverModel>& driverModels() {
  static const std::vector<DriverModel> models = build_models();
  return models;
}

const DriverModel* findDriver(const char* name) {
  if (name == nullptr) return nullptr;
  for (const DriverModel& d : driverModels())
    if (d.name == name) return &d;
  return nullptr;
}

std::vector<pappl_pr_driver_t> papplDriverTable() {
  std::vector<pappl_pr_driver_t> table;
  for (const DriverModel& d : driverModels())
    table.push_back({d.name.c_str(), d.description.c_str(), d.deviceId.c_str(), nullptr});
  addPsDrivers(&table);
  return table;
}

bool driverCallback(pappl_system_t*, const char* driverName, const char* deviceUri, const char*,
                    pappl_pr_driver_data_t* data, ipp_t** attrs, void*) {
  if (const PsModel* ps = findPsModel(driverName)) {
    if (!psDriverCallback(*ps, data, attrs)) return false;
    setStatusCallbacks(data, deviceUri);
    return true;
  }
  const DriverModel* d = findDriver(driverName);
  if (d == nullptr) return false;
  snprintf(data->make_and_model, sizeof data->make_and_model, "%s", d->description.c_str());
  data->ppm = 20;
  data->kind = static_cast<pappl_kind_t>(PAPPL_KIND_DOCUMENT | PAPPL_KIND_ENVELOPE | PAPPL_KIND_POSTCARD);
  data->orient_default = IPP_ORIENT_PORTRAIT;  // IPP/1.1 knows no "none" default
  data->quality_default = IPP_QUALITY_NORMAL;
  data->color_supported = static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME);
  data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;  // 8-bit grey, 0 black: what the filter reads

  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = 600;
  if (d->info->resolution1200) {
    data->num_resolution = 2;
    data->x_resolution[1] = data->y_resolution[1] = 1200;
  }
  data->x_default = data->y_default = 600;

  // The edges the printer leaves blank, as the filter crops each page to
  // the model's image area: nothing is printed to the edge of the paper.
  PageMargins margins = imageMargins(d->info->paperTable);
  data->left_right = margins.leftRight;
  data->bottom_top = margins.bottomTop;
  data->borderless = false;
  fill_media(*d, data);

  data->duplex = PAPPL_DUPLEX_NORMAL;
  // Every model prints two-sided, as its PPD offers it: without a duplex
  // unit the filter prints the backs by hand (the manual-duplex prompt).
  data->sides_supported = static_cast<pappl_sides_t>(PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE |
                                                     PAPPL_SIDES_TWO_SIDED_SHORT_EDGE);
  data->sides_default = PAPPL_SIDES_ONE_SIDED;

  // Five density levels, "Normal" in the middle.
  data->darkness_supported = 5;
  data->darkness_configured = 50;
  data->darkness_default = 0;

  setPrintCallbacks(data);
  setStatusCallbacks(data, deviceUri);
  setIcons(*d->info, data);
  *attrs = ippNew();
  add_vendor(*d, data, *attrs);
  add_fixed_capabilities(*attrs);
  addPageLayoutCapabilities(*attrs);
  addJobCreationAttributes(*attrs, *data);
  return true;
}

int deviceIdScore(const char* manufacturer, const char* model, const DriverModel& driver) {
  if (model == nullptr) return 0;
  std::string mdl = model;
  bool maker = manufacturer && strcasecmp(manufacturer, "Tesvel") == 0;
  if (strncasecmp(mdl.c_str(), "Tesvel ", 7) == 0) maker = true;
  if (!maker) return 0;
  mdl = model_stem(mdl);
  std::string stem = model_stem(driver.description);
  if (strcasecmp(mdl.c_str(), stem.c_str()) == 0) return 1000;
  // A variant of the model ("TZ3010DN"), but not another model that only
  // begins the same way ("TXA200" is not a "TXA").
  if (mdl.size() > stem.size() && strncasecmp(mdl.c_str(), stem.c_str(), stem.size()) == 0 &&
      !std::isdigit(static_cast<unsigned char>(mdl[stem.size()])))
    return 100 + static_cast<int>(stem.size());
  return 0;
}

const char* autoaddCallback(const char*, const char*, const char* deviceId, void*) {
  if (deviceId == nullptr) return nullptr;
  cups_option_t* pairs = nullptr;
  int n = papplDeviceParseID(deviceId, &pairs);
  const char* mfg = cupsGetOption("MANUFACTURER", n, pairs);
  if (!mfg) mfg = cupsGetOption("MFG", n, pairs);
  const char* mdl = cupsGetOption("MODEL", n, pairs);
  if (!mdl) mdl = cupsGetOption("MDL", n, pairs);
  const DriverModel* best = nullptr;
  int bestScore = 0;
  for (const DriverModel& d : driverModels()) {
    int s = deviceIdScore(mfg, mdl, d);
    if (s > bestScore) {
      best = &d;
      bestScore = s;
    }
  }
  const char* name = best ? best->name.c_str() : nullptr;
  for (const PsModel& p : psModels()) {
    int s = psDeviceIdScore(mfg, mdl, p);
    if (s > bestScore) {
      name = p.name.c_str();
      bestScore = s;
    }
  }
  cupsFreeOptions(n, pairs);
  return name;
}

}  // namespace tpa
