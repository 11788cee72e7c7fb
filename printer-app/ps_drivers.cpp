#include "ps_drivers.h"

#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>

#include <cups/ppd.h>

#include "app_paths.h"
#include "page_layout.h"
#include "ps_job.h"

namespace tpa {

const char kPsPrinterFormat[] = "application/vnd.tesvel-ps-printer";

namespace {

constexpr char kPpdPrefix[] = "tesvel-ps-";
constexpr char kFeedEdgeAttr[] = "feed-edge";  // the TP5000 range's A5 feed edge
constexpr const char* kFeedEdges[] = {"short-edge", "long-edge"};

struct PpdCloser {
  void operator()(ppd_file_t* p) const { ppdClose(p); }
};
using PpdHandle = std::unique_ptr<ppd_file_t, PpdCloser>;

std::vector<std::string> ppd_names(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.compare(0, sizeof kPpdPrefix - 1, kPpdPrefix) == 0 && n.size() > 4 &&
        n.compare(n.size() - 4, 4, ".ppd") == 0)
      names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<MediaRow> media_rows(ppd_file_t* ppd) {
  std::vector<MediaRow> rows;
  for (int i = 0; i < ppd->num_sizes; ++i) {
    const ppd_size_t& s = ppd->sizes[i];
    pwg_media_t* pwg = pwgMediaForPPD(s.name);
    if (std::strcmp(s.name, "Custom") == 0 || pwg == nullptr) continue;
    MediaRow r;
    r.pwgName = pwg->pwg;
    r.ppdName = s.name;
    r.widthPt = static_cast<int>(std::lround(s.width));
    r.heightPt = static_cast<int>(std::lround(s.length));
    r.width = pwg->width;
    r.length = pwg->length;
    rows.push_back(r);
  }
  return rows;
}

// The model as its PPD describes it; false when the PPD cannot be read.
bool read_model(const std::string& dir, const std::string& file, PsModel* m) {
  m->ppdPath = dir + "/" + file;
  PpdHandle ppd(ppdOpenFile(m->ppdPath.c_str()));
  if (!ppd || ppd->modelname == nullptr) return false;
  m->name = file.substr(0, file.size() - 4);
  std::replace(m->name.begin(), m->name.end(), '-', '_');
  m->description = ppd->modelname;
  if (ppd_attr_t* a = ppdFindAttr(ppd.get(), "1284DeviceID", nullptr)) m->deviceId = a->value ? a->value : "";
  // The colour group is handed PDF; the TP5000 range is the one that
  // offers the feed edge, since only its jobs are rewritten by the wrapper.
  ppd_attr_t* f = ppdFindAttr(ppd.get(), "cupsFilter2", nullptr);
  if (f && f->value && std::strncmp(f->value, "application/vnd.cups-pdf", 24) == 0)
    m->family = PsFamily::Colour;
  else if (ppdFindOption(ppd.get(), "FeedEdge") != nullptr)
    m->family = PsFamily::JobControl;
  m->duplex = ppdFindOption(ppd.get(), "Duplex") != nullptr;
  m->media = media_rows(ppd.get());
  if (ppd->variable_sizes) {
    for (int i = 0; i < 2; ++i) {
      m->sizes.customMinPt[i] = static_cast<int>(std::lround(ppd->custom_min[i]));
      m->sizes.customMaxPt[i] = static_cast<int>(std::lround(ppd->custom_max[i]));
    }
    m->customRange = customRangeNames(m->sizes);
  }
  return !m->media.empty();
}

std::vector<PsModel> load_models() {
  std::vector<PsModel> out;
  const std::string dir = appPaths().ppdDir;
  for (const std::string& file : ppd_names(dir)) {
    PsModel m;
    if (read_model(dir, file, &m)) out.push_back(std::move(m));
  }
  return out;
}

void fill_media(const PsModel& m, pappl_pr_driver_data_t* data) {
  data->num_media = 0;
  for (const MediaRow& r : m.media)
    if (data->num_media < PAPPL_MAX_MEDIA) data->media[data->num_media++] = r.pwgName.c_str();
  for (const std::string& n : m.customRange)
    if (data->num_media < PAPPL_MAX_MEDIA) data->media[data->num_media++] = n.c_str();
  const MediaRow* a4 = &m.media.front();
  for (const MediaRow& r : m.media)
    if (r.ppdName == "A4") a4 = &r;
  // The PPDs offer no paper source: the printer picks its tray.
  pappl_media_col_t& col = data->media_ready[0];
  std::memset(&col, 0, sizeof col);
  snprintf(col.size_name, sizeof col.size_name, "%s", a4->pwgName.c_str());
  col.size_width = a4->width;
  col.size_length = a4->length;
  col.left_margin = col.right_margin = col.top_margin = col.bottom_margin = 423;  // HWMargins 12pt
  snprintf(col.source, sizeof col.source, "auto");
  snprintf(col.type, sizeof col.type, "stationery");
  data->num_source = 1;
  data->source[0] = "auto";
  data->media_default = col;
  data->num_type = 1;
  data->type[0] = "stationery";
}

// "Tesvel TP3010 Series PS", "Tesvel TP3010 series" -> "TP3010".
std::string ps_stem(const char* text) {
  std::string s = text;
  if (strncasecmp(s.c_str(), "Tesvel ", 7) == 0) s.erase(0, 7);
  for (const char* tail : {" PS", " Series"})
    if (s.size() > std::strlen(tail) && strcasecmp(s.c_str() + s.size() - std::strlen(tail), tail) == 0)
      s.resize(s.size() - std::strlen(tail));
  return s;
}

}  // namespace

const std::vector<PsModel>& psModels() {
  static const std::vector<PsModel> models = load_models();
  return models;
}

const PsModel* findPsModel(const char* name) {
  if (name == nullptr) return nullptr;
  for (const PsModel& m : psModels())
    if (m.name == name) return &m;
  return nullptr;
}

void addPsDrivers(std::vector<pappl_pr_driver_t>* table) {
  for (const PsModel& m : psModels())
    table->push_back({m.name.c_str(), m.description.c_str(), m.deviceId.c_str(), nullptr});
}

bool psDriverCallback(const PsModel& m, pappl_pr_driver_data_t* data, ipp_t** attrs) {
  snprintf(data->make_and_model, sizeof data->make_and_model, "%s", m.description.c_str());
  data->ppm = 30;  // the PPDs' Throughput
  data->kind = static_cast<pappl_kind_t>(PAPPL_KIND_DOCUMENT | PAPPL_KIND_ENVELOPE);
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->quality_default = IPP_QUALITY_NORMAL;
  if (m.family == PsFamily::Colour) {
    data->color_supported = static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR |
                                                            PAPPL_COLOR_MODE_MONOCHROME);
    data->color_default = PAPPL_COLOR_MODE_AUTO;
    data->raster_types = static_cast<pappl_raster_type_t>(PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_SRGB_8);
  } else {
    data->color_supported = static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME);
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  }
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = 600;
  data->x_default = data->y_default = 600;
  data->left_right = data->bottom_top = 423;
  fill_media(m, data);
  data->duplex = PAPPL_DUPLEX_NORMAL;
  unsigned sides = PAPPL_SIDES_ONE_SIDED;
  if (m.duplex) sides |= PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
  data->sides_supported = static_cast<pappl_sides_t>(sides);
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  setPsPrintCallbacks(data);

  *attrs = ippNew();
  data->num_vendor = 0;
  if (m.family == PsFamily::JobControl) {
    data->vendor[data->num_vendor++] = kFeedEdgeAttr;
    ippAddStrings(*attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                  (std::string(kFeedEdgeAttr) + "-supported").c_str(), 2, nullptr, kFeedEdges);
    ippAddString(*attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 (std::string(kFeedEdgeAttr) + "-default").c_str(), nullptr, kFeedEdges[0]);
  }
  // CUPS's page handling lays the pages out, as for the host-based models.
  addPageLayoutCapabilities(*attrs);
  addJobCreationAttributes(*attrs, *data);
  return true;
}

int psDeviceIdScore(const char* manufacturer, const char* model, const PsModel& driver) {
  if (model == nullptr) return 0;
  bool maker = (manufacturer && strcasecmp(manufacturer, "Tesvel") == 0) || strncasecmp(model, "Tesvel ", 7) == 0;
  if (!maker) return 0;
  std::string mdl = ps_stem(model), stem = ps_stem(driver.description.c_str());
  if (strcasecmp(mdl.c_str(), stem.c_str()) == 0) return 1000;
  // A variant ("TP5010DN"), never a longer model number.
  if (mdl.size() > stem.size() && strncasecmp(mdl.c_str(), stem.c_str(), stem.size()) == 0 &&
      !std::isdigit(static_cast<unsigned char>(mdl[stem.size()])))
    return 100 + static_cast<int>(stem.size());
  return 0;
}

}  // namespace tpa
