// Our stripe data decoded by JBIG-KIT's T.85 decoder (jbg85_dec_* from
// jbig85.h): a second, independent decoder.  Linked into a program of its
// own, apart from the T.82 coder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

extern "C" {
#include <jbig85.h>
}

#include "encoder_util.h"
#include "test_images.h"

using namespace jbigtest;
using Bytes = std::vector<uint8_t>;

namespace {

struct Decoded {
  int width = 0;
  Bytes image;
};

int line_out(const jbg85_dec_state* s, unsigned char* start, size_t len, unsigned long y, void* file) {
  (void)s;
  (void)y;
  Decoded* d = static_cast<Decoded*>(file);
  d->image.insert(d->image.end(), start, start + len);
  return 0;
}

Bytes bih(int width, int height, int l0) {
  Bytes h = {0, 0, 1, 0};
  for (uint32_t v : {static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                     static_cast<uint32_t>(l0)}) {
    for (int shift = 24; shift >= 0; shift -= 8) h.push_back(static_cast<uint8_t>(v >> shift));
  }
  h.insert(h.end(), {0, 0, 0, 0x48});
  return h;
}

void check(const Bitmap& b, int l0, const std::string& what) {
  SCOPED_TRACE(what + " " + std::to_string(b.width) + "x" + std::to_string(b.height) + " l0 " +
               std::to_string(l0));
  const Bytes ours = encode(b, l0);
  ASSERT_FALSE(ours.empty());
  Bytes stream = bih(b.width, b.height, l0);
  stream.insert(stream.end(), ours.begin(), ours.end());

  Decoded out;
  Bytes lineBuf(b.bytes_per_line() * 3);
  jbg85_dec_state d;
  jbg85_dec_init(&d, lineBuf.data(), lineBuf.size(), line_out, &out);
  size_t used = 0;
  int r = jbg85_dec_in(&d, stream.data(), stream.size(), &used);
  if (r == JBG_EAGAIN) r = jbg85_dec_end(&d);
  EXPECT_EQ(r, JBG_EOK) << jbg85_strerror(r);
  EXPECT_EQ(jbg85_dec_getwidth(&d), static_cast<unsigned long>(b.width));
  EXPECT_EQ(jbg85_dec_getheight(&d), static_cast<unsigned long>(b.height));
  EXPECT_TRUE(out.image == b.bits) << "decoded image differs";
}

}  // namespace

TEST(JbigT85, DecodesVariedImages) {
  uint32_t seed = 1000;
  for (int w : {8, 16, 64, 1000, 4736, 9600, 9608}) {
    check(random_bitmap(w, 30, 0.3, seed++), 10, "random");
    check(text_page(w, 120, seed++), 128, "text");
  }
  for (int l0 : {1, 2, 128}) {
    for (int h : {1, l0, l0 + 1, 2 * l0 + 1}) {
      check(photo_page(256, h, seed++), l0, "photo");
    }
  }
  check(blank_bitmap(512, 100), 100, "white");
  check(solid_bitmap(512, 100), 100, "black");
  check(repeated_lines_bitmap(512, 100, 9, seed++), 32, "repeated");
  check(random_bitmap(9600, 20, 0.5, seed++), 20, "long stripes");
}

TEST(JbigT85, DecodesWholeA4Pages) {
  check(mixed_page(kPageWidth, kPageHeight, 1101), 256, "mixed page");
  check(photo_page(kPageWidth, kPageHeight, 1102), 256, "photo page");
}
