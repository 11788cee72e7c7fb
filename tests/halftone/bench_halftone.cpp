// Halftoning speed on 600-dpi A4 pages (4736 x 6784 pixels): a text-like,
// a photo-like and a blank page, through HalftoneDither as the page path
// calls it.  Each run is followed by its CPU ms per page and Mpixel/s.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "halftone.h"
#include "job_state.h"
#include "model_classes.h"

namespace {

constexpr unsigned kWidth = 4736;
constexpr int kLines = 6784;

enum class Kind { kText, kPhoto, kBlank };

// Text: lines of glyph-sized black blocks with white gaps on white paper,
// about a tenth of the page inked.  Photo: smooth shading with noise,
// every grey level in use.  Blank: white.
std::vector<uint8_t> make_page(Kind kind) {
  std::vector<uint8_t> page(static_cast<size_t>(kWidth) * kLines, 255);
  std::mt19937 rng(7);
  if (kind == Kind::kText) {
    std::uniform_int_distribution<int> glyph(20, 40), gap(6, 30);
    for (int top = 300; top + 60 < kLines - 300; top += 100) {
      for (int x = 300; x < static_cast<int>(kWidth) - 340;) {
        const int w = glyph(rng);
        for (int y = top; y < top + 60; ++y) {
          for (int j = x; j < x + w; j += 3) page[static_cast<size_t>(y) * kWidth + j] = 0;
        }
        x += w + gap(rng);
      }
    }
  } else if (kind == Kind::kPhoto) {
    std::normal_distribution<double> noise(0.0, 12.0);
    for (int y = 0; y < kLines; ++y) {
      for (unsigned x = 0; x < kWidth; ++x) {
        const double shade = 127.5 + 110.0 * std::sin(x / 700.0) * std::cos(y / 900.0) + noise(rng);
        page[static_cast<size_t>(y) * kWidth + x] =
            static_cast<uint8_t>(shade < 0 ? 0 : shade > 255 ? 255 : shade);
      }
    }
  }
  return page;
}

const std::vector<uint8_t>& page_of(Kind kind) {
  static const std::vector<uint8_t> text = make_page(Kind::kText);
  static const std::vector<uint8_t> photo = make_page(Kind::kPhoto);
  static const std::vector<uint8_t> blank = make_page(Kind::kBlank);
  return kind == Kind::kText ? text : kind == Kind::kPhoto ? photo : blank;
}

void run(benchmark::State& state, Kind kind, int modelClass, int dpi1200, const char* model) {
  rf::resetJobState();
  std::snprintf(rf::g_job.modelName, sizeof rf::g_job.modelName, "%s", model);
  const int devnull = ::open("/dev/null", O_WRONLY);
  rf::g_job.diagFd = devnull;
  const std::vector<uint8_t>& grey = page_of(kind);
  std::vector<uint8_t> mono(rf::mono_page_bytes(kWidth, kLines, rf::is_four_level(modelClass, dpi1200)));
  for (auto _ : state) {
    rf::HalftoneDither(grey.data(), kWidth, kLines, mono.data(), kWidth, 0, dpi1200, modelClass);
    benchmark::DoNotOptimize(mono.data());
    benchmark::ClobberMemory();
  }
  rf::resetJobState();
  ::close(devnull);
}

void register_all() {
  const struct {
    const char* name;
    Kind kind;
  } pages[] = {{"text", Kind::kText}, {"photo", Kind::kPhoto}, {"blank", Kind::kBlank}};
  const struct {
    const char* name;
    int modelClass, dpi1200;
    const char* model;
  } modes[] = {
      {"Z_16x16", rf::PLATFORM_Z, 0, "Tesvel bench"},
      {"Z_TXG_96x96", rf::PLATFORM_Z, 0, rf::kModelTXGPrefix},
      {"C_1200_28x28", rf::PLATFORM_C, 1, "Tesvel bench"},
      {"M_four_level", rf::PLATFORM_M, 1, "Tesvel bench"},
  };
  for (const auto& m : modes) {
    for (const auto& p : pages) {
      const std::string name = std::string("A4_600dpi/") + m.name + "/" + p.name;
      benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) {
        run(s, p.kind, m.modelClass, m.dpi1200, m.model);
      })->Unit(benchmark::kMillisecond);
    }
  }
}

// The console table, and under each run its figures in the units we plan
// by: CPU ms per A4 page and Mpixel/s.
class PageReporter : public benchmark::ConsoleReporter {
 public:
  PageReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      const double ms = run.GetAdjustedCPUTime();  // the runs are in ms
      char line[160];
      std::snprintf(line, sizeof line, "    %-34s %8.2f ms CPU per A4 page  %8.0f Mpixel/s\n",
                    run.benchmark_name().c_str(), ms,
                    static_cast<double>(kWidth) * kLines / 1e6 / (ms / 1e3));
      GetOutputStream() << line;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  PageReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
