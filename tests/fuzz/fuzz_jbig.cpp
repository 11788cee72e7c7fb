// JBIG round trip: images made from the input through our encoder, decoded
// by JBIG-KIT's T.82 decoder, must come back bit for bit, and the coded
// data must equal JBIG-KIT's own encoder's byte for byte.
// Input: width/8 - 1, height - 1, L0 - 1, then the image bits (repeated).
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include JBIGKIT_JBIG_H
}

#include "fuzz_target.h"
#include "jbig.h"

namespace {

void collect(const uint8_t* bytes, size_t length, void* ctx) {
  auto* out = static_cast<std::vector<uint8_t>*>(ctx);
  out->insert(out->end(), bytes, bytes + length);
}

void collectJbigKit(unsigned char* bytes, size_t length, void* ctx) {
  collect(bytes, length, ctx);
}

void put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int width = 8 * (1 + data[0] % 40);
  const int height = 1 + data[1];
  const int l0 = 1 + data[2] % 80;
  std::vector<uint8_t> image(static_cast<size_t>(width / 8) * height, 0);
  for (size_t i = 0; i < image.size() && size > 3; ++i) image[i] = data[3 + i % (size - 3)];

  std::vector<uint8_t> coded;
  // Header as the printer's decoder builds it: one layer, one plane,
  // LRLTWO and TPBON, no AT moves.
  coded.insert(coded.end(), {0, 0, 1, 0});
  put32(coded, static_cast<uint32_t>(width));
  put32(coded, static_cast<uint32_t>(height));
  put32(coded, static_cast<uint32_t>(l0));
  coded.insert(coded.end(), {0, 0, 0, JBG_LRLTWO | JBG_TPBON});
  FUZZ_CHECK(tesvel_compress(width, height, l0, image.data(), &coded, collect));

  jbg_dec_state d;
  jbg_dec_init(&d);
  size_t used = 0;
  const int r = jbg_dec_in(&d, coded.data(), coded.size(), &used);
  FUZZ_CHECK(r == JBG_EOK);
  FUZZ_CHECK(jbg_dec_getwidth(&d) == static_cast<unsigned long>(width));
  FUZZ_CHECK(jbg_dec_getheight(&d) == static_cast<unsigned long>(height));
  FUZZ_CHECK(jbg_dec_getsize(&d) == image.size());
  FUZZ_CHECK(std::memcmp(jbg_dec_getimage(&d, 0), image.data(), image.size()) == 0);
  jbg_dec_free(&d);

  // JBIG-KIT's encoder with the same choices: sequential, LRLTWO | TPBON,
  // no AT moves.  Its BIH is the one written above.  It reads outside its
  // buffers with one-line stripes over several lines, so those are left to
  // the decoder check.
  if (l0 == 1 && height > 1) return 0;
  std::vector<uint8_t> reference;
  std::vector<uint8_t> planeCopy = image;
  unsigned char* planes[1] = {planeCopy.data()};
  jbg_enc_state e;
  jbg_enc_init(&e, static_cast<unsigned long>(width), static_cast<unsigned long>(height), 1, planes,
               collectJbigKit, &reference);
  jbg_enc_layers(&e, 0);
  jbg_enc_options(&e, 0, JBG_LRLTWO | JBG_TPBON, static_cast<unsigned long>(l0), 0, 0);
  jbg_enc_out(&e);
  jbg_enc_free(&e);
  FUZZ_CHECK(reference == coded);
  return 0;
}

std::vector<std::string> fuzzSeeds() {
  return {std::string("\x00\x00\x00", 3), std::string("\x03\x07\x01\xff\x00", 5),
          std::string("\x27\xff\x4f\xaa\x55\x0f\xf0", 7), std::string("\x09\x80\x00", 3) + std::string(64, '\x01')};
}
