#include "job_settings.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "cups_binding.h"

namespace rf {

JobSettings jobSettingsTemplate() {
  return JobSettings{{
      {"Duplex", 0},
      {"Sides", 0},
      {"ManualDuplex", 0},
      {"Density", 2},
      {"TonerMode", 0},
      {"FeedLongEdge", 0},
      {"outputorder", 0},
      {"DPI1200", 0},
      {"NegativePrint", 0},
      {"InputSlot", 0},
      {"ImageRotation", 0},
      {"Collate", 0},
      {"FineMode", 0},
  }};
}

static int32_t duplex_from_value(const char* v) {
  if (strcasecmp(v, "DuplexNoTumble") == 0 || strcasecmp(v, "two-sided-long-edge") == 0) return 1;
  if (strcasecmp(v, "DuplexTumble") == 0 || strcasecmp(v, "two-sided-short-edge") == 0) return 2;
  return 0;
}

static int32_t input_slot_from_value(const char* v) {
  if (strcasecmp(v, "ManualFeed") == 0) return 1;
  if (strcasecmp(v, "AutoFeed") == 0) return 2;
  return 0;  // "Auto" and every tray name
}

unsigned rawBool(const cups_bool_t& field) {
  unsigned v;
  static_assert(sizeof v == sizeof field, "cups_bool_t is an int-sized enum");
  std::memcpy(&v, &field, sizeof v);
  return v;
}

void readJobOptions(JobSettings& settings, int numOptions, cups_option_t* options,
                    const cups_page_header2_t& header) {
  int32_t duplex = 0;
  if (rawBool(header.Duplex) == 1) {
    const unsigned tumble = rawBool(header.Tumble);
    if (tumble == 0) duplex = 1;
    else if (tumble == 1) duplex = 2;
  }
  settings[JobKey::Duplex] = duplex;
  std::fprintf(stderr, "DEBUG: ##Duplex = %d\n", duplex);

  for (JobOption& entry : settings.entries) {
    const char* v = cups().cupsGetOption(entry.name, numOptions, options);
    if (v == nullptr) continue;
    if (std::strcmp(entry.name, "Duplex") == 0 || std::strcmp(entry.name, "Sides") == 0) {
      entry.value = duplex_from_value(v);
    } else if (std::strcmp(entry.name, "Density") == 0) {
      entry.value = static_cast<int32_t>(std::strtol(v, nullptr, 10));
    } else if (std::strcmp(entry.name, "InputSlot") == 0) {
      entry.value = input_slot_from_value(v);
    } else if (strcasecmp(v, "true") == 0) {
      entry.value = 1;  // booleans are only ever raised
    }
  }
}

static bool mentions(const char* userOptions, const char* keyword) {
  if (userOptions == nullptr) return false;
  std::string negated = std::string("no") + keyword;
  return std::strstr(userOptions, negated.c_str()) != nullptr ||
         std::strstr(userOptions, keyword) != nullptr;
}

static void append_input_slot(std::string& text, ppd_file_t* ppd) {
  ppdMarkDefaults(ppd);
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, "InputSlot");
  if (choice == nullptr) {
    std::fputs("No find InputSlot option\n", stderr);
    return;
  }
  // The setting is kept to 40 characters, as a PPD keyword pair can be.
  std::string piece = std::string(" InputSlot=") + choice->choice;
  if (piece.size() > 40) piece.resize(40);
  std::fprintf(stderr, "DEBUG: %s\n", piece.c_str());
  text += piece;
}

static void append_boolean_default(std::string& text, ppd_file_t* ppd, const char* keyword) {
  ppd_option_t* opt = ppdFindOption(ppd, keyword);
  if (opt == nullptr) {
    std::fprintf(stderr, "No find %s option\n", keyword);
    return;
  }
  if (std::strcmp(opt->defchoice, "True") == 0) {
    text += ' ';
    text += keyword;  // a bare keyword parses as the value "true"
  }
}

static void append_density(std::string& text, ppd_file_t* ppd) {
  ppd_option_t* opt = ppdFindOption(ppd, "Density");
  if (opt == nullptr) {
    std::fputs("No find Density option\n", stderr);
    return;
  }
  switch (std::strtol(opt->defchoice, nullptr, 10)) {
    case 0: text += " Density=0"; break;
    case 2: text += " Density=2"; break;
    case 4: text += " Density=4"; break;
    default: break;  // the printer's own default covers the others
  }
}

void appendPpdDefaults(std::string& optionText, const char* userOptions, ppd_file_t* ppd) {
  if (ppd == nullptr) return;
  if (!mentions(userOptions, "InputSlot")) append_input_slot(optionText, ppd);
  static const char* const booleans[] = {"FeedLongEdge", "TonerMode", "ImageRotation",
                                         "NegativePrint"};
  for (const char* keyword : booleans)
    if (!mentions(userOptions, keyword)) append_boolean_default(optionText, ppd, keyword);
  if (!mentions(userOptions, "Density")) append_density(optionText, ppd);
}

void getPpdDefaultChoice(const char* keyword, char* out) {
  if (keyword == nullptr || out == nullptr) {
    std::fputs("-->invalid parameter!\n", stderr);
    return;
  }
  const char* path = std::getenv("PPD");
  if (path == nullptr) return;
  ppd_file_t* ppd = cups().ppdOpenFile(path);
  if (ppd == nullptr) return;
  ppd_option_t* opt = cups().ppdFindOption(ppd, keyword);
  if (opt != nullptr) {
    std::fprintf(stderr, "-->opt_str:%s, opt->defchoices :%s.\n", keyword, opt->defchoice);
    std::strncpy(out, opt->defchoice, 40);
    out[40] = '\0';
  }
  cups().ppdClose(ppd);
}

namespace {

// What the option text sets `keyword` to, read as CUPS reads the text:
// whole option names, the last setting wins, a bare name means "true" and
// "no" + name means "false".  Empty when the text does not name it.
std::string option_value(const char* userOptions, const char* keyword) {
  cups_option_t* options = nullptr;
  const int count = cups().cupsParseOptions(userOptions, 0, &options);
  const char* value = cups().cupsGetOption(keyword, count, options);
  std::string result = value ? value : "";
  cupsFreeOptions(count, options);
  return result;
}

bool is_any_of(const std::string& value, std::initializer_list<const char*> spellings) {
  for (const char* s : spellings)
    if (strcasecmp(value.c_str(), s) == 0) return true;
  return false;
}

bool says_yes(const std::string& value) { return is_any_of(value, {"true", "yes", "on"}); }
bool says_no(const std::string& value) { return is_any_of(value, {"false", "no", "off"}); }

}  // namespace

int is1200dpiprint(const char* userOptions) {
  if (userOptions == nullptr) {
    std::fputs("-->invalid parameter!\n", stderr);
    return 1;
  }
  // Print dialogs send every choice, "DPI1200=False" included: the value
  // decides, not the mention.
  const std::string value = option_value(userOptions, "DPI1200");
  if (says_no(value)) return 1;
  if (says_yes(value)) return 2;
  char choice[64] = {};
  getPpdDefaultChoice("DPI1200", choice);
  return std::strcmp(choice, "True") == 0 ? 2 : 1;
}

int blankSuppressMode(const char* userOptions) {
  if (userOptions == nullptr) {
    std::fputs("-->parameter is NULL!\n", stderr);
    return 2;
  }
  const std::string value = option_value(userOptions, "BlankSuppress");
  if (says_no(value)) return 2;
  if (says_yes(value)) return 3;
  if (strcasecmp(value.c_str(), "PrinterSetting") == 0) return 1;
  char choice[64] = {};
  getPpdDefaultChoice("BlankSuppress", choice);
  if (std::strcmp(choice, "True") == 0) return 3;
  if (std::strcmp(choice, "PrinterSetting") == 0) return 1;
  return 2;
}

void applyNamedPageSize(cups_page_header2_t& header, const PaperEntry* table, int numOptions,
                        cups_option_t* options) {
  if (table == nullptr) return;
  const char* wanted = cups().cupsGetOption("PageSize", numOptions, options);
  if (wanted == nullptr) return;
  for (const PaperEntry* row = table; row->widthPt != -1; ++row) {
    if (std::strcmp(row->name, wanted) == 0) {
      header.PageSize[0] = static_cast<unsigned>(row->widthPt);
      header.PageSize[1] = static_cast<unsigned>(row->heightPt);
      return;
    }
  }
}

void printRasterHeader(const cups_page_header2_t& h) {
  std::fprintf(stderr, "DEBUG: Duplex = %d\n", rawBool(h.Duplex));
  std::fprintf(stderr, "DEBUG: HWResolution = [ %d %d ]\n", h.HWResolution[0], h.HWResolution[1]);
  std::fprintf(stderr, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n", h.ImagingBoundingBox[0],
               h.ImagingBoundingBox[1], h.ImagingBoundingBox[2], h.ImagingBoundingBox[3]);
  std::fprintf(stderr, "DEBUG: Margins = [ %d %d ]\n", h.Margins[0], h.Margins[1]);
  std::fprintf(stderr, "DEBUG: ManualFeed = %d\n", rawBool(h.ManualFeed));
  std::fprintf(stderr, "DEBUG: MediaPosition = %d\n", h.MediaPosition);
  std::fprintf(stderr, "DEBUG: NumCopies = %d\n", h.NumCopies);
  std::fprintf(stderr, "DEBUG: Orientation = %d\n", h.Orientation);
  std::fprintf(stderr, "DEBUG: PageSize = [ %d %d ]\n", h.PageSize[0], h.PageSize[1]);
  std::fprintf(stderr, "DEBUG: cupsWidth = %d\n", h.cupsWidth);
  std::fprintf(stderr, "DEBUG: cupsHeight = %d\n", h.cupsHeight);
  std::fprintf(stderr, "DEBUG: cupsMediaType = %d\n", h.cupsMediaType);
  std::fprintf(stderr, "DEBUG: cupsBitsPerColor = %d\n", h.cupsBitsPerColor);
  std::fprintf(stderr, "DEBUG: cupsBitsPerPixel = %d\n", h.cupsBitsPerPixel);
  std::fprintf(stderr, "DEBUG: cupsBytesPerLine = %d\n", h.cupsBytesPerLine);
  std::fprintf(stderr, "DEBUG: cupsColorOrder = %d\n", h.cupsColorOrder);
  std::fprintf(stderr, "DEBUG: cupsColorSpace = %d\n", h.cupsColorSpace);
  std::fprintf(stderr, "DEBUG: cupsCompression = %d\n", h.cupsCompression);
}

}  // namespace rf
