// State shared by the dialect walkers: the buffer, the report being built,
// and the page under construction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "model.h"

namespace prndecode {

// The page being assembled from the stream.
struct PageState {
  bool open = false;
  uint64_t offset = 0;      // where the page starts
  int number = 0;           // page number from the stream (0 for PLATFORM_M)
  uint32_t width = 0;       // pixels per line of the picture
  uint32_t height = 0;
  int depth = 1;
  bool widened = false;
  bool have_image = false;  // the image data has been seen
  PageImage image;          // filled by the walker when the image decodes
};

class Walk {
 public:
  Walk(const uint8_t* data, size_t size, Report& report, const Options& options, const PageSink& sink)
      : data(data), size(size), report(report), options(options), sink(sink) {}

  const uint8_t* data;
  size_t size;
  Report& report;
  const Options& options;
  const PageSink& sink;
  PageState page;

  size_t left(size_t pos) const { return pos < size ? size - pos : 0; }

  void violation(uint64_t offset, const std::string& message);
  // A violation after which the walk cannot go on.
  void fatal(uint64_t offset, const std::string& message);
  // A new listing line (with its offset field); add() appends it.
  Item item(uint64_t offset, const std::string& name) const;
  void add(Item item);

  // Starts a new page (closing nothing: the walker reports a missing end).
  void open_page(uint64_t offset, int number);
  // Adds the `page` line, hands the image to the sink and clears the page.
  void close_page();

  // A failure report of rasterfilter ("main() :: Start page Fail ! \n"),
  // which the driver prints into the printer stream: length of the line at
  // `pos`, or 0 when there is none.
  size_t failure_report_at(size_t pos) const;
};

}  // namespace prndecode
