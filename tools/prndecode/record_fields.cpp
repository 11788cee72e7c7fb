// The fields of each command record and the checks that
// concern one record alone.  Payload values are little-endian.
#include <cstring>
#include <string>

#include "bytes.h"
#include "record_tokens.h"

namespace prndecode {

namespace {

// cmdTonerParamTXD, both forms, checksum excluded.
std::string toner_txd(size_t length) {
  std::string b;
  if (length == 36) {
    b = std::string("\x0b\x24\x1e\x00\x1e\x24\x26\x2f\x50\x06\x20\x20\x20\x28\x2c", 15);
    b += std::string(18, '\x20');
    b += std::string("\x0a\x00", 2);
  } else {
    b = std::string("\x0b\x28\x1e\x00\x17\x26\x00\x30\x40\x20\x17\x20\x20\x00\x00", 15);
    b += std::string(17, '\x20');
    b += std::string("\x08\x0a\x00\x00\x00\x00\x00", 7);
  }
  return b;
}

class Describer {
 public:
  Describer(Walk& w, const Token& t, Item& it) : w_(w), t_(t), it_(it), r_(w.data + t.pos), name_(t.record.name ? t.record.name : "record") {}

  void run();

 private:
  Walk& w_;
  const Token& t_;
  Item& it_;
  const uint8_t* r_;
  std::string name_;

  void bad(const std::string& what) { w_.violation(t_.pos, name_ + " " + what); }
  void want_byte(size_t k, unsigned want, const char* what) {
    if (r_[k] != want) bad(std::string(what) + " (byte " + std::to_string(k) + ") is " + hex_byte(r_[k]) + ", expected " + hex_byte(want));
  }
  void band_header();
  void payload();
};

void Describer::run() {
  it_.num("length", t_.len).hex("id", r_[2]);
  if (!t_.record.name) {
    w_.violation(t_.pos, "unknown record: id " + hex_byte(r_[2]) + " with length " + std::to_string(t_.len));
  } else {
    if (t_.record.other_dialect) {
      const char* mine = w_.report.dialect == Dialect::PlatformC ? "PLATFORM_C" : "PLATFORM_Z";
      bad("(id " + hex_byte(r_[2]) + ", length " + std::to_string(t_.len) + ") is not a " + mine + " record");
    }
    payload();
  }
  uint8_t sum = byte_sum(r_, t_.len);
  it_.hex("checksum", r_[t_.len - 1]);
  if (sum != 0) {
    uint8_t want = uint8_t(0x100 - byte_sum(r_, t_.len - 1));
    std::string who = t_.record.name ? name_ : "record";
    w_.violation(t_.pos, who + " bytes sum to " + hex_byte(sum) + ", not 0 (checksum byte " + hex_byte(r_[t_.len - 1]) +
                             ", expected " + hex_byte(want) + ")");
  }
}

void Describer::payload() {
  const uint8_t* r = r_;
  switch (t_.record.rec) {
    case Rec::QueryStatusCmd:
      want_byte(3, 0x80, "payload");
      break;
    case Rec::RasterImage:
      it_.num("imageFlags0", r[3]).hex("imageFlags", r[4]).num("imageWidth", le16(r + 5)).num("imageHeight", le16(r + 7));
      it_.num("imageParam", le16(r + 9)).num("stripeLines", le16(r + 11)).num("dataSize", le32(r + 13));
      if (le16(r + 5) == 0 || le16(r + 5) % 8) bad("imageWidth " + std::to_string(le16(r + 5)) + " is not a nonzero multiple of 8");
      if (le16(r + 7) == 0) bad("imageHeight is 0");
      break;
    case Rec::JobSpec:
      if (t_.len == 6) it_.num("jobId", r[3]).hex("flags", r[4]);
      else it_.hex("flags", r[3]).num("jobId", le32(r + 4));
      break;
    case Rec::PageSpec:
      it_.num("paperCode", r[3]).num("mediaType", r[4]).num("xResolution", r[5]).num("yResolution", r[6]);
      it_.num("inputTray", r[7]).hex("specFlags", r[8]).num("copies", le16(r + 9)).num("offsetX", le16(r + 11));
      it_.num("offsetY", le16(r + 13)).num("pageNumber", le16(r + 15));
      if (w_.report.dialect == Dialect::PlatformZ) want_byte(8, 0, "PLATFORM_Z page flags");
      break;
    case Rec::CustomPaper:
      it_.num("paperWidthDots", le16(r + 3)).num("paperHeightDots", le16(r + 5));
      it_.num("imageWidth", le16(r + 7)).num("imageHeight", le16(r + 9));
      break;
    case Rec::Density:
      it_.num("density", r[3]);
      break;
    case Rec::TonerSave:
      it_.num("tonerSave", r[3]);
      break;
    case Rec::FineMode:
      it_.num("fineMode", r[3]);
      break;
    case Rec::Coverage:
      if (t_.len == 6) {
        it_.num("coverage", le16(r + 3));
      } else {
        // Dot count D split as (D / 1000) mod 64, (D / 64000) mod 64, (D / 4096000) mod 16.
        it_.num("dots1000", r[3]).num("dots64000", r[4]).num("dots4096000", r[5]);
        if (r[3] > 63 || r[4] > 63 || r[5] > 15) bad("bytes " + std::to_string(r[3]) + " " + std::to_string(r[4]) + " " + std::to_string(r[5]) + " exceed 64, 64, 16");
      }
      break;
    case Rec::ImageDataChenksum:
      it_.num("imageChecksum", le16(r + 3));
      want_byte(4, 0, "high byte of imageChecksum");
      break;
    case Rec::BandHeader:
      band_header();
      break;
    case Rec::TonerParamTXD: {
      std::string want = toner_txd(t_.len);
      for (size_t k = 0; k < want.size(); ++k) {
        if (r[k] != uint8_t(want[k])) {
          want_byte(k, uint8_t(want[k]), "fixed byte");
          break;
        }
      }
      break;
    }
    case Rec::SysTime:
      it_.num("year", le16(r + 3)).num("month", r[5]).num("day", r[6]);
      if (le16(r + 3) < 1000 || le16(r + 3) > 9999) bad("year " + std::to_string(le16(r + 3)) + " has not four digits");
      if (r[5] < 1 || r[5] > 12) bad("month " + std::to_string(r[5]) + " is not 1-12");
      if (r[6] < 1 || r[6] > 31) bad("day " + std::to_string(r[6]) + " is not 1-31");
      break;
    default:  // fixed 4-byte records: id and length say everything
      break;
  }
}

void Describer::band_header() {
  const uint8_t* r = r_;
  it_.num("index", le24(r + 36)).num("P", r[5]).num("width", le32(r + 7)).num("stripeLines", le32(r + 11));
  it_.num("lines", le32(r + 15)).num("MX", r[19]).num("MY", r[20]).num("order", r[21]).hex("options", r[22]);
  it_.num("size", le32(r + 23)).num("size2", le32(r + 27));
  want_byte(3, 0, "reserved byte");
  want_byte(4, 0, "reserved byte");
  want_byte(5, 1, "P");
  want_byte(6, 0, "reserved byte");
  want_byte(19, 0, "MX");
  want_byte(20, 0, "MY");
  want_byte(21, 3, "order byte");
  want_byte(22, 0x58, "options byte");
  for (size_t k : {31, 32, 33, 34, 35, 40, 41, 42, 43, 44, 45, 46}) want_byte(k, 0, "reserved byte");
  want_byte(39, 3, "constant");
  if (le32(r + 11) != le32(r + 15)) {
    bad("stripe lines " + std::to_string(le32(r + 11)) + " differ from its line count " + std::to_string(le32(r + 15)));
  }
  if (le32(r + 23) != le32(r + 27)) {
    bad("size fields differ: " + std::to_string(le32(r + 23)) + " and " + std::to_string(le32(r + 27)));
  }
}

}  // namespace

void describe_record(Walk& w, const Token& t, Item& it) { Describer(w, t, it).run(); }

}  // namespace prndecode
