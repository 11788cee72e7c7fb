// print-scaling for PWG and Apple raster on the host-based models.  A
// raster page the size of the job's paper goes to the filter as it came;
// any other is scaled and placed on the paper here, one line at a time as
// PAPPL delivers them, so that a page never has to be held whole.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <cups/raster.h>
#include <pappl/pappl.h>

namespace tpa {

// Sizes in points.
struct PaperArea {
  double width = 0, height = 0;         // the paper
  double marginX = 0, marginY = 0;      // the printer's blank edge on each side
};

// What print-scaling `keyword` does to a page of pageW x pageH points on
// `paper`: "none", "fit" or "fill".
//   none      centred at 100%, whatever falls off the paper is lost;
//   fit       scaled, keeping its shape, to the largest that fits the
//             printed area (the paper less the printer's edges), centred;
//   fill      scaled to cover the whole paper, centred, the excess lost;
//   auto-fit  fit when the page is larger than the printed area, else none;
//   auto      fill when the page has the paper's orientation and each side
//             within 5% of the paper's (a picture made for it), else fit.
std::string scalingFor(const std::string& keyword, double pageW, double pageH, const PaperArea& paper);

// Where a page lands, in the dots of the output page.
struct Placement {
  double scaleX = 1, scaleY = 1;  // output dots per input dot
  int left = 0, top = 0;          // where the input's top-left corner lands (may be < 0: cropped)
};

// The placement of an input page of inW x inH dots at inRes dpi on an
// output page of outW x outH dots at outRes dpi, for `scaling` (none, fit,
// fill) and the printer's edges `paper`.
Placement placePage(const std::string& scaling, int inW, int inH, const int inRes[2], int outW, int outH,
                    const int outRes[2], const PaperArea& paper);

// Resamples lines of `channels` 8-bit samples a dot onto the output page
// by area averaging (shrinking and enlarging alike), the rest of the page
// `white`.  push() each input
// line in order, then finish(); `emit` gets every output line in order.
class LineScaler {
 public:
  using Emit = std::function<bool(const unsigned char* line, size_t bytes)>;
  LineScaler(int inW, int outW, int outH, int channels, const Placement& p, unsigned char white, Emit emit);
  bool push(const unsigned char* line);
  bool finish();

 private:
  bool emit_row();
  struct Tap {
    int first = 0;               // the first input column
    int count = 0;               // input columns from it; 0: white
    size_t weights = 0;          // where their weights (1 in all) start in weights_
  };
  int outW_, outH_, channels_;
  Placement p_;
  unsigned char white_;
  Emit emit_;
  std::vector<Tap> taps_;           // per output column
  std::vector<float> weights_;
  std::vector<float> line_;         // one input line resampled across
  std::vector<float> acc_;          // the output row being summed
  std::vector<unsigned char> out_;
  double weight_ = 0;               // input lines summed into acc_
  int in_ = 0;                      // input lines seen
  int row_ = 0;                     // output rows emitted
};

// One job's raster pages on its paper.  A page within a point of the
// paper's size, or one not of 8-bit grey or RGB, goes on as it came; any other
// is placed on the paper by the job's print-scaling.
class RasterPlacer {
 public:
  RasterPlacer(std::string scaling, const PaperArea& paper) : scaling_(std::move(scaling)), paper_(paper) {}

  // Starts a page whose data has the header `data`.  False when it goes as
  // it came.  True when it is placed: *out (given the output page's size
  // and resolution) gets the data's pixel layout, every line pushed goes
  // to `emit` resampled, and *how says what was done.
  bool startPage(const cups_page_header2_t& data, cups_page_header2_t* out, LineScaler::Emit emit,
                 std::string* how);
  // The same for a job's page written to `raster`: its header is *placed
  // when the page is placed, else `asCame`; the placed lines go there until
  // *failed says the writing failed, and the job's log says how the page
  // was placed.
  bool startPage(pappl_job_t* job, unsigned page, const cups_page_header2_t& data, const cups_page_header2_t& asCame,
                 cups_page_header2_t* placed, cups_raster_t* raster, const bool* failed);
  bool placing() const { return scaler_ != nullptr; }
  bool push(const unsigned char* line) { return scaler_->push(line); }
  bool finish() { return scaler_->finish(); }

 private:
  std::string scaling_;
  PaperArea paper_;
  std::unique_ptr<LineScaler> scaler_;
};

}  // namespace tpa
