// prndecode: lists, checks and renders a printer file of rasterfilter.
//
//   prndecode [--check] [--list] [--json] [-o DIR] [--dialect C|Z|M]
//             [--no-images] [--no-png] FILE|-
//
// Exit status: 0 the stream is what the printer expects; 1 it does not (the first
// violation goes to standard error as "prndecode: FILE: offset N: message",
// also when listing); 2 wrong arguments or an input/output error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "format.h"
#include "model.h"
#include "page_files.h"

namespace {

using namespace prndecode;

const char kUsage[] =
    "usage: prndecode [--check] [--list] [--json] [-o DIR] [--dialect C|Z|M] [--no-images] [--no-png] FILE|-\n"
    "  (default)        list the stream, one line per PJL line, chunk, item group or record\n"
    "  --check          validate everything; exit 1 with the offset and a message at the first violation\n"
    "  --list           list as well when checking\n"
    "  --json           the listing as JSON, with every violation\n"
    "  -o DIR           write each page as DIR/page-NNN.pbm (or .pgm for 2-bit pages) and DIR/page-NNN.png\n"
    "  --dialect D      take the stream as PLATFORM_D (C, Z or M); a stream without job start is then a page sequence\n"
    "  --no-images      do not decode the JBIG images\n"
    "  --no-png         with -o, write the PBM/PGM pages only (the PNG previews take most of the time)\n";

struct Args {
  bool check = false, list = false, json = false, images = true, png = true;
  std::string out_dir, file;
  Dialect dialect = Dialect::Unknown;
};

int usage(const std::string& why) {
  if (!why.empty()) std::cerr << "prndecode: " << why << "\n";
  std::cerr << kUsage;
  return 2;
}

bool parse_args(int argc, char** argv, Args* args, std::string* why) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--check") args->check = true;
    else if (a == "--list") args->list = true;
    else if (a == "--json") args->json = true;
    else if (a == "--no-images") args->images = false;
    else if (a == "--no-png") args->png = false;
    else if ((a == "-o" || a == "--dialect") && i + 1 < argc) {
      std::string v = argv[++i];
      if (a == "-o") {
        args->out_dir = v;
      } else if (v == "C" || v == "PLATFORM_C") {
        args->dialect = Dialect::PlatformC;
      } else if (v == "Z" || v == "PLATFORM_Z") {
        args->dialect = Dialect::PlatformZ;
      } else if (v == "M" || v == "PLATFORM_M") {
        args->dialect = Dialect::PlatformM;
      } else {
        *why = "unknown dialect " + v;
        return false;
      }
    } else if (a == "-h" || a == "--help") {
      *why = "";
      return false;
    } else if ((a.size() > 1 && a[0] == '-') || !args->file.empty()) {
      *why = "unexpected argument " + a;
      return false;
    } else {
      args->file = a;
    }
  }
  if (args->file.empty()) *why = "no input file";
  else if (!args->out_dir.empty() && !args->images) *why = "-o needs the images decoded";
  else return true;
  return false;
}

bool read_all(const std::string& name, std::vector<uint8_t>* data, std::string* why) {
  FILE* f = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  if (!f) {
    *why = "cannot open " + name + ": " + std::strerror(errno);
    return false;
  }
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data->insert(data->end(), buf, buf + n);
  bool bad = std::ferror(f);
  if (f != stdin) std::fclose(f);
  if (bad) *why = "cannot read " + name;
  return !bad;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  std::string why;
  if (!parse_args(argc, argv, &args, &why)) return usage(why);
  std::vector<uint8_t> data;
  if (!read_all(args.file, &data, &why)) {
    std::cerr << "prndecode: " << why << "\n";
    return 2;
  }
  if (!args.out_dir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(args.out_dir, ec);
    if (ec) {
      std::cerr << "prndecode: cannot create " << args.out_dir << ": " << ec.message() << "\n";
      return 2;
    }
  }
  Options options;
  options.force = args.dialect;
  options.decode_images = args.images;
  std::string write_error;
  PageSink sink;
  if (!args.out_dir.empty()) {
    sink = [&](const PageImage& page) {
      if (write_error.empty()) write_error = write_page_files(args.out_dir, page, args.png);
    };
  }
  Report report = inspect(data.data(), data.size(), options, sink);
  if (args.json) write_json(std::cout, args.file, report);
  else if (!args.check || args.list) write_listing(std::cout, args.file, report);
  std::cout.flush();
  if (!write_error.empty()) {
    std::cerr << "prndecode: " << write_error << "\n";
    return 2;
  }
  if (!report.violations.empty()) {
    std::cerr << "prndecode: " << args.file << ": " << violation_text(report.violations.front()) << "\n";
    return 1;
  }
  if (args.check && !args.json) {
    std::cout << "check ok dialect=" << dialect_name(report.dialect) << " pages=" << report.pages << "\n";
  }
  return 0;
}
