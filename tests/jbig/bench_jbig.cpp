// bench_jbig: our T.82 encoder (tesvel_compress) against JBIG-KIT's T.85
// encoder jbg85 on the same generated 600-dpi A4 pages (dense text, mixed,
// halftoned photo), same options (LRLTWO | TPBON, no AT moves, L0 256), in
// the same run.  Prints both throughputs in Mpixel/s and their ratio.
// Then the same pages as a band-mode page sends them, 256-line bands each
// its own image, coded together (tesvel_compress_images) at 1, 2 and 4
// threads: wall and CPU time (all threads) per page.
//
//   bench_jbig [benchmark flags]          the timing run (make bench)
//   bench_jbig --write-pbm DIR            writes text.pbm, mixed.pbm, photo.pbm
//   bench_jbig --encode-once FILE.pbm ours|jbg85
//                                         encodes one page once and prints
//                                         its coded pixels (for callgrind:
//                                         scripts/bench.d/jbig-callgrind.sh)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <jbig85.h>
}

#include "jbig.h"
#include "test_images.h"

using jbigtest::Bitmap;

namespace {

constexpr int kL0 = 256;

struct Sink {
  std::vector<uint8_t> bytes;
};

void our_out(const uint8_t* bytes, size_t length, void* ctx) {
  Sink* s = static_cast<Sink*>(ctx);
  s->bytes.insert(s->bytes.end(), bytes, bytes + length);
}

void jbg85_out(unsigned char* start, size_t len, void* file) {
  Sink* s = static_cast<Sink*>(file);
  s->bytes.insert(s->bytes.end(), start, start + len);
}

void encode_ours(const Bitmap& b, Sink& sink) {
  sink.bytes.clear();
  if (!tesvel_compress(b.width, b.height, kL0, b.bits.data(), &sink, our_out)) std::abort();
}

void encode_jbg85(const Bitmap& b, Sink& sink) {
  sink.bytes.clear();
  jbg85_enc_state s;
  jbg85_enc_init(&s, static_cast<unsigned long>(b.width), static_cast<unsigned long>(b.height),
                 jbg85_out, &sink);
  jbg85_enc_options(&s, JBG_LRLTWO | JBG_TPBON, kL0, 0);
  unsigned char* data = const_cast<unsigned char*>(b.bits.data());
  const size_t bpl = b.bytes_per_line();
  for (int y = 0; y < b.height; ++y) {
    unsigned char* line = data + static_cast<size_t>(y) * bpl;
    jbg85_enc_lineout(&s, line, y > 0 ? line - bpl : nullptr, y > 1 ? line - 2 * bpl : nullptr);
  }
}

// The page as 256-line bands, each its own image.
std::vector<JbigImage> bands_of(const Bitmap& b) {
  std::vector<JbigImage> v;
  for (int y = 0; y < b.height; y += kL0) {
    const int lines = b.height - y < kL0 ? b.height - y : kL0;
    v.push_back({b.width, lines, lines, b.line(y)});
  }
  return v;
}

void bands_out(size_t /*image*/, const uint8_t* bytes, size_t length, void* ctx) {
  our_out(bytes, length, ctx);
}

struct Page {
  std::string name;
  Bitmap bitmap;
};

const std::vector<Page>& pages() {
  static const std::vector<Page> p = [] {
    std::vector<Page> v;
    v.push_back({"text", jbigtest::text_page(jbigtest::kPageWidth, jbigtest::kPageHeight, 1)});
    v.push_back({"mixed", jbigtest::mixed_page(jbigtest::kPageWidth, jbigtest::kPageHeight, 2)});
    v.push_back({"photo", jbigtest::photo_page(jbigtest::kPageWidth, jbigtest::kPageHeight, 3)});
    return v;
  }();
  return p;
}

// Keeps, per benchmark, the smallest CPU time per iteration over its
// repetitions (CPU time because the machine may be shared; the whole
// process's for the threaded runs) and the smallest wall time.
class Collector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  std::map<std::string, double> wall;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.iterations <= 0) continue;
      const double n = static_cast<double>(r.iterations);
      keep_min(seconds, r.run_name.function_name, r.cpu_accumulated_time / n);
      keep_min(wall, r.run_name.function_name, r.real_accumulated_time / n);
    }
    ConsoleReporter::ReportRuns(runs);
  }

 private:
  static void keep_min(std::map<std::string, double>& m, const std::string& name, double t) {
    const auto it = m.find(name);
    if (it == m.end() || t < it->second) m[name] = t;
  }
};

bool write_pbm(const Bitmap& b, const std::string& path) {
  std::ofstream f(path, std::ios::binary);
  f << "P4\n" << b.width << " " << b.height << "\n";
  f.write(reinterpret_cast<const char*>(b.bits.data()), static_cast<std::streamsize>(b.bits.size()));
  return static_cast<bool>(f);
}

bool read_pbm(const std::string& path, Bitmap& b) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  f >> magic >> b.width >> b.height;
  f.get();
  if (magic != "P4" || b.width <= 0 || b.height <= 0 || b.width % 8 != 0) return false;
  b.bits.resize(b.bytes_per_line() * static_cast<size_t>(b.height));
  f.read(reinterpret_cast<char*>(b.bits.data()), static_cast<std::streamsize>(b.bits.size()));
  return static_cast<bool>(f);
}

int write_mode(const std::string& dir) {
  for (const Page& p : pages()) {
    if (!write_pbm(p.bitmap, dir + "/" + p.name + ".pbm")) {
      std::fprintf(stderr, "cannot write %s/%s.pbm\n", dir.c_str(), p.name.c_str());
      return 1;
    }
  }
  return 0;
}

int encode_once_mode(const std::string& path, const std::string& encoder) {
  Bitmap b;
  if (!read_pbm(path, b)) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  Sink sink;
  sink.bytes.reserve(b.bits.size());
  if (encoder == "ours") {
    encode_ours(b, sink);
  } else if (encoder == "jbg85") {
    encode_jbg85(b, sink);
  } else {
    return 2;
  }
  std::printf("pixels=%llu coded_pixels=%llu bytes=%zu\n",
              static_cast<unsigned long long>(b.bits.size()) * 8,
              static_cast<unsigned long long>(jbigtest::coded_pixels(b)), sink.bytes.size());
  return 0;
}

void print_band_table(const Collector& c) {
  std::printf("\nPage in 256-line bands coded together, ms per page (CPU of all threads):\n");
  std::printf("%-6s %20s %20s %20s\n", "page", "1 thread wall/CPU", "2 threads wall/CPU",
              "4 threads wall/CPU");
  for (const Page& page : pages()) {
    std::printf("%-6s", page.name.c_str());
    for (int threads : {1, 2, 4}) {
      const std::string name = "bands/" + page.name + "/" + std::to_string(threads);
      const auto w = c.wall.find(name);
      const auto t = c.seconds.find(name);
      if (w == c.wall.end() || t == c.seconds.end()) {
        std::printf(" %20s", "-");
      } else {
        std::printf(" %11.1f / %6.1f", w->second * 1e3, t->second * 1e3);
      }
    }
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-pbm") == 0) return write_mode(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "--encode-once") == 0) return encode_once_mode(argv[2], argv[3]);

  benchmark::Initialize(&argc, argv);
  for (const Page& page : pages()) {
    const Bitmap* b = &page.bitmap;
    const double pixels = static_cast<double>(b->width) * b->height;
    benchmark::RegisterBenchmark(("ours/" + page.name).c_str(), [b, pixels](benchmark::State& st) {
      Sink sink;
      sink.bytes.reserve(b->bits.size());
      for (auto _ : st) {
        encode_ours(*b, sink);
        benchmark::DoNotOptimize(sink.bytes.data());
      }
      st.SetItemsProcessed(static_cast<int64_t>(st.iterations() * pixels));
      st.counters["bytes"] = static_cast<double>(sink.bytes.size());
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("jbg85/" + page.name).c_str(), [b, pixels](benchmark::State& st) {
      Sink sink;
      sink.bytes.reserve(b->bits.size());
      for (auto _ : st) {
        encode_jbg85(*b, sink);
        benchmark::DoNotOptimize(sink.bytes.data());
      }
      st.SetItemsProcessed(static_cast<int64_t>(st.iterations() * pixels));
      st.counters["bytes"] = static_cast<double>(sink.bytes.size() - 20);  // without BIH
    })->Unit(benchmark::kMillisecond);
  }
  for (const Page& page : pages()) {
    for (int threads : {1, 2, 4}) {
      const std::vector<JbigImage> bands = bands_of(page.bitmap);
      const std::string name = "bands/" + page.name + "/" + std::to_string(threads);
      benchmark::RegisterBenchmark(name.c_str(), [bands, threads](benchmark::State& st) {
        tesvel_jbig_set_threads(threads);
        Sink sink;
        for (auto _ : st) {
          sink.bytes.clear();
          if (!tesvel_compress_images(bands.data(), bands.size(), &sink, bands_out)) std::abort();
          benchmark::DoNotOptimize(sink.bytes.data());
        }
        tesvel_jbig_set_threads(0);
      })->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
    }
  }
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  std::printf("\nCPU time per page, best of the repetitions:\n");
  std::printf("%-6s %12s %12s %14s %14s %8s %10s\n", "page", "ours ms", "jbg85 ms", "ours Mpix/s",
              "jbg85 Mpix/s", "ratio", "coded %");
  for (const Page& page : pages()) {
    const auto a = collector.seconds.find("ours/" + page.name);
    const auto j = collector.seconds.find("jbg85/" + page.name);
    if (a == collector.seconds.end() || j == collector.seconds.end()) continue;
    const double mpix = static_cast<double>(page.bitmap.width) * page.bitmap.height / 1e6;
    std::printf("%-6s %12.1f %12.1f %14.0f %14.0f %7.2fx %9.1f%%\n", page.name.c_str(),
                a->second * 1e3, j->second * 1e3, mpix / a->second, mpix / j->second,
                j->second / a->second,
                100.0 * static_cast<double>(jbigtest::coded_pixels(page.bitmap)) / (mpix * 1e6));
  }
  print_band_table(collector);
  return 0;
}
