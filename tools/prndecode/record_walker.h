// PLATFORM_C and PLATFORM_Z: the order of the job (Parts 3.2, 3.4, 3.6).
//
// The walker matches the tokens against three sequences per dialect (job
// start, page, job end) with a choice between pages, and reads the image
// data that follows each cmdRasterImage.  Each step also says how many
// zero filler pairs may stand in front of it:
//   None        the driver writes the two neighbours back to back;
//   One         one Insert00 (models outside ModelListA) and no timer;
//   AtLeastOne  an Insert00 where the keep-alive timer may add more;
//   Any         only the timer.
// Whether the model sends fillers at all is seen from the whole stream: a
// stream with any filler pair comes from a model outside ModelListA, which
// sends every Insert00.
#pragma once

#include <cstdint>
#include <vector>

#include "record_tokens.h"
#include "walk.h"

namespace prndecode {

enum class Gap { None, One, AtLeastOne, Any };

struct Step {
  const char* what;  // for messages
  Tok kind;          // Record, Text or UelC
  Rec rec;
  Text text;
  Gap gap;
  bool optional;
};

enum class Phase { Prologue, Idle, Page, End, Done };

// What the current page announced, for the checks across its records.
struct PageFacts {
  int paper = -1;
  bool have_custom = false;
  uint64_t custom_offset = 0;
  uint32_t custom_width = 0, custom_height = 0;
  bool have_coverage = false;
  uint64_t coverage_offset = 0;
  uint8_t coverage[3] = {0, 0, 0};
  bool have_sum = false;
  uint8_t image_sum = 0;  // compressed bytes + the 9 bytes of UEL_CMD_C, mod 256
};

class RecordWalker {
 public:
  RecordWalker(Walk& w, Dialect d);
  void set_fillers(uint64_t pairs, uint64_t first) {
    filler_mode_ = pairs > 0;
    first_filler_ = first;
  }
  void run();
  uint64_t filler_pairs() const { return tok_.filler_pairs(); }
  uint64_t first_filler() const { return tok_.first_filler(); }

 private:
  Walk& w_;
  Dialect d_;
  Tokenizer tok_;
  const std::vector<Step>* prologue_;
  const std::vector<Step>* page_;
  const std::vector<Step>* end_;
  Phase phase_ = Phase::Prologue;
  const std::vector<Step>* seq_;
  size_t idx_ = 0;
  bool started_ = false;
  bool fragment_ = false;
  bool filler_mode_ = false;
  uint64_t first_filler_ = 0;
  bool language_version_ = false;
  bool blank_suppress_ = false;
  bool manual_duplex_ = false;
  int last_page_ = 0;
  PageFacts pf_;

  void list(const Token& t);
  void on_token(const Token& t);
  void step(const Token& t);
  void idle(const Token& t);
  bool matches(const Step& s, const Token& t) const;
  void check_gap(const Step& s, const Token& t);
  void accept(const Step& s, const Token& t);
  void enter(Phase phase);
  void complete_phase();
  void mismatch(const Step& s, const Token& t);
  std::string context() const;
  void finish();
  // Job-start texts and records.
  void job_time(const Token& t);
  void job_owner(const Token& t);
  void blank_suppress(const Token& t);
  // Page records.
  void page_spec(const Token& t);
  void custom_paper(const Token& t);
  void raster_image(const Token& t);
  void end_of_page(const Token& t);
  void machine_duplex(const Token& t);
  // Image data (record_image.cpp).
  void read_image(const Token& t);
  void read_c_image(const Token& t);
  void read_bands(const Token& t);
  bool band(size_t pos, uint32_t index, uint32_t width, uint32_t height, bool widened, size_t* next);
};

}  // namespace prndecode
