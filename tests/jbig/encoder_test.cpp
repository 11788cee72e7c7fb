// The encoder on its own: hand-checked byte sequences, stripe and span
// delivery, the output chain's trailing-zero removal and the failure
// paths.  Equality with JBIG-KIT on every kind of image is in t82_test.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encoder_util.h"
#include "jbig.h"
#include "jbig_pool.h"
#include "jbig_span.h"
#include "test_images.h"

using namespace jbigtest;
using Bytes = std::vector<uint8_t>;

namespace {

// Every 0xFF of stripe data is followed by 0x00, except the final ESC SDNORM.
void expect_stripe_syntax(const Bytes& stripe) {
  ASSERT_GE(stripe.size(), 2u);
  EXPECT_EQ(stripe[stripe.size() - 2], 0xFF);
  EXPECT_EQ(stripe[stripe.size() - 1], 0x02);
  for (size_t i = 0; i + 2 < stripe.size(); ++i) {
    if (stripe[i] == 0xFF) {
      EXPECT_EQ(stripe[i + 1], 0x00) << "unstuffed 0xFF at " << i;
      ++i;
    }
  }
  // No zero byte right before the marker (trailing zeros removed), unless it
  // is the stuffing of a 0xFF.
  if (stripe.size() >= 3 && stripe[stripe.size() - 3] == 0x00) {
    ASSERT_GE(stripe.size(), 4u);
    EXPECT_EQ(stripe[stripe.size() - 4], 0xFF);
  }
}

}  // namespace

// --- Hand-checked examples ----------------------------------------------------

TEST(JbigEncoder, SecondLineOfTheFirstExampleIsTypical) {
  const uint8_t img[] = {0xFF, 0x00, 0xFF, 0x00};
  Capture cap;
  ASSERT_TRUE(encode_into(cap, 16, 2, 2, img));
  EXPECT_EQ(cap.bytes(), (Bytes{0xFE, 0x9F, 0xC8, 0xFF, 0x02}));
  EXPECT_EQ(cap.calls.size(), 1u);
}

TEST(JbigEncoder, ThreeLinesInStripesOfTwoComeAsTwoStripes) {
  const uint8_t img[] = {0x80, 0x80, 0x01};
  Capture cap;
  ASSERT_TRUE(encode_into(cap, 8, 3, 2, img));
  ASSERT_EQ(cap.calls.size(), 2u);  // one span per stripe, stripe by stripe
  EXPECT_EQ(cap.calls[0], (Bytes{0xD5, 0x50, 0xFF, 0x02}));
  EXPECT_EQ(cap.calls[1], (Bytes{0xA6, 0xC0, 0xFF, 0x02}));
}

TEST(JbigEncoder, AllZeroImageIsJustSdnorm) {
  for (int h : {1, 2, 100, 300}) {
    for (int w : {8, 64, 4736}) {
      const Bitmap b = blank_bitmap(w, h);
      EXPECT_EQ(encode(b, h), (Bytes{0xFF, 0x02})) << w << "x" << h;
    }
  }
}

TEST(JbigEncoder, StripesOf128For300Lines) {
  const Bitmap b = random_bitmap(64, 300, 0.2, 7);
  Capture cap;
  ASSERT_TRUE(encode_into(cap, 64, 300, 128, b.bits.data()));
  const auto stripes = split_stripes(cap.bytes());
  ASSERT_EQ(stripes.size(), 3u);
  for (const auto& stripe : stripes) expect_stripe_syntax(stripe);
  // Every stripe comes in its own sequence of calls: a call never spans two.
  size_t stripe = 0, inStripe = 0;
  for (const auto& call : cap.calls) {
    ASSERT_LT(stripe, stripes.size());
    EXPECT_TRUE(std::equal(call.begin(), call.end(), stripes[stripe].begin() + inStripe));
    inStripe += call.size();
    if (inStripe == stripes[stripe].size()) {
      ++stripe;
      inStripe = 0;
    }
  }
  EXPECT_EQ(stripe, 3u);
}

TEST(JbigEncoder, LongStripeComesIn4096BytePieces) {
  const Bitmap b = random_bitmap(1024, 200, 0.5, 99);  // ~25 KB of noise, one stripe
  Capture cap;
  ASSERT_TRUE(encode_into(cap, b.width, b.height, b.height, b.bits.data()));
  ASSERT_GT(cap.calls.size(), 2u);
  for (size_t i = 0; i + 1 < cap.calls.size(); ++i) EXPECT_EQ(cap.calls[i].size(), 4096u);
  EXPECT_LE(cap.calls.back().size(), 4096u);
  EXPECT_GE(cap.calls.back().size(), 1u);
  expect_stripe_syntax(cap.bytes());
}

TEST(JbigEncoder, Width8LoadsNoByteBeyondTheLine) {
  // ASan watches the exact-size heap copy for reads past the end.
  const Bitmap src = random_bitmap(8, 40, 0.4, 5);
  uint8_t* exact = static_cast<uint8_t*>(std::malloc(src.bits.size()));
  std::memcpy(exact, src.bits.data(), src.bits.size());
  Capture cap;
  EXPECT_TRUE(encode_into(cap, 8, 40, 40, exact));
  std::free(exact);
}

// --- The output chain ---------------------------------------------------------

namespace {

using tesvel_jbig::SpanChain;

Bytes chain_bytes(const SpanChain& c, std::vector<size_t>* sizes = nullptr) {
  Capture cap;
  tesvel_jbig::chain_deliver(c, capture_callback, &cap);
  if (sizes) {
    for (const auto& call : cap.calls) sizes->push_back(call.size());
  }
  return cap.bytes();
}

}  // namespace

TEST(JbigSpanChain, TrimsZerosAcrossSeveralSpans) {
  SpanChain c;
  ASSERT_TRUE(tesvel_jbig::chain_start(c));
  for (int i = 0; i < 4000; ++i) tesvel_jbig::chain_put(c, 0x11);
  tesvel_jbig::chain_put(c, 0xFF);
  tesvel_jbig::chain_put(c, 0x00);
  for (int i = 0; i < 9000; ++i) tesvel_jbig::chain_put(c, 0x00);  // two more spans of zeros
  tesvel_jbig::chain_trim_trailing_zeros(c);
  tesvel_jbig::chain_put(c, 0xFF);
  tesvel_jbig::chain_put(c, 0x02);
  std::vector<size_t> sizes;
  const Bytes all = chain_bytes(c, &sizes);
  ASSERT_EQ(all.size(), 4004u);
  EXPECT_EQ(all[4000], 0xFF);
  EXPECT_EQ(all[4001], 0x00);  // the ESC STUFF pair stays whole
  EXPECT_EQ(all[4002], 0xFF);
  EXPECT_EQ(all[4003], 0x02);
  EXPECT_EQ(sizes, (std::vector<size_t>{4004}));
  tesvel_jbig::chain_free(c);
}

TEST(JbigSpanChain, TrimsZerosOfTheSpanBefore) {
  SpanChain c;
  ASSERT_TRUE(tesvel_jbig::chain_start(c));
  for (int i = 0; i < 4090; ++i) tesvel_jbig::chain_put(c, 0x22);
  for (int i = 0; i < 10; ++i) tesvel_jbig::chain_put(c, 0x00);  // spills into a second span
  tesvel_jbig::chain_trim_trailing_zeros(c);
  tesvel_jbig::chain_put(c, 0xFF);
  tesvel_jbig::chain_put(c, 0x02);
  std::vector<size_t> sizes;
  EXPECT_EQ(chain_bytes(c, &sizes).size(), 4092u);
  EXPECT_EQ(sizes, (std::vector<size_t>{4092}));
  tesvel_jbig::chain_free(c);
}

TEST(JbigSpanChain, AllZeroStripeLeavesOnlyTheMarker) {
  SpanChain c;
  ASSERT_TRUE(tesvel_jbig::chain_start(c));
  for (int i = 0; i < 5000; ++i) tesvel_jbig::chain_put(c, 0x00);
  tesvel_jbig::chain_trim_trailing_zeros(c);
  tesvel_jbig::chain_put(c, 0xFF);
  tesvel_jbig::chain_put(c, 0x02);
  EXPECT_EQ(chain_bytes(c), (Bytes{0xFF, 0x02}));
  tesvel_jbig::chain_free(c);
}

// --- Failures -------------------------------------------------------------------

namespace {

int g_allocsLeft = 0;
void* failing_alloc(size_t n) {
  if (g_allocsLeft-- <= 0) return nullptr;
  return std::malloc(n);
}

struct AllocFailure {
  explicit AllocFailure(int allowed) {
    g_allocsLeft = allowed;
    tesvel_jbig::g_spanAlloc = failing_alloc;
  }
  ~AllocFailure() { tesvel_jbig::g_spanAlloc = std::malloc; }
};

}  // namespace

TEST(JbigEncoder, SpanAllocationFailureEndsTheCallWithFalse) {
  const Bitmap b = random_bitmap(1024, 300, 0.5, 17);  // ~12 KB per 100-line stripe
  for (int allowed : {0, 1, 2, 3, 5}) {
    AllocFailure failure(allowed);
    Capture cap;
    EXPECT_FALSE(encode_into(cap, b.width, b.height, 100, b.bits.data())) << allowed;
    // Only whole stripes were delivered before the failure.
    const Bytes got = cap.bytes();
    if (!got.empty()) {
      ASSERT_GE(got.size(), 2u);
      EXPECT_EQ(got[got.size() - 2], 0xFF);
      EXPECT_EQ(got.back(), 0x02);
    }
  }
  // The encoder works again once memory is back (and nothing leaked: ASan).
  Capture cap;
  EXPECT_TRUE(encode_into(cap, b.width, b.height, 100, b.bits.data()));
}

#ifdef NDEBUG
namespace {

bool rejected(int width, int height, int l0, const uint8_t* data, void* ctx, JbigOutputCallback cb,
              const std::string& text) {
  testing::internal::CaptureStderr();
  const bool ok = tesvel_compress(width, height, l0, data, ctx, cb);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("tesvel_compress"), std::string::npos) << err;
  EXPECT_NE(err.find("jbig/src/jbig"), std::string::npos) << err;
  EXPECT_NE(err.find("`" + text + "'"), std::string::npos) << err;
  return !ok;
}

}  // namespace

TEST(JbigEncoder, FailedPreconditionReturnsFalseInReleaseBuilds) {
  const uint8_t img[16] = {};
  Capture cap;
  EXPECT_TRUE(rejected(0, 1, 1, img, &cap, capture_callback, "width != 0"));
  EXPECT_TRUE(rejected(8, 0, 1, img, &cap, capture_callback, "height != 0"));
  EXPECT_TRUE(rejected(12, 1, 1, img, &cap, capture_callback, "(width & 0b0111) == 0"));
  EXPECT_TRUE(rejected(8, 1, 1, nullptr, &cap, capture_callback, "data != NULL"));
  EXPECT_TRUE(rejected(8, 1, 1, img, nullptr, capture_callback, "data_out_ctx != NULL"));
  EXPECT_TRUE(rejected(8, 1, 1, img, &cap, nullptr, "cb != NULL"));
  EXPECT_TRUE(rejected(-8, 1, 1, img, &cap, capture_callback, "width > 0"));
  EXPECT_TRUE(rejected(8, -1, 1, img, &cap, capture_callback, "height > 0"));
  EXPECT_TRUE(rejected(8, 1, 0, img, &cap, capture_callback, "l0 > 0"));
  EXPECT_TRUE(cap.calls.empty());
}
#else
TEST(JbigEncoderDeathTest, FailedPreconditionStopsWithTheAssertionText) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const uint8_t img[16] = {};
  Capture cap;
  EXPECT_DEATH(tesvel_compress(0, 1, 1, img, &cap, capture_callback), "width != 0");
  EXPECT_DEATH(tesvel_compress(8, 0, 1, img, &cap, capture_callback), "height != 0");
  EXPECT_DEATH(tesvel_compress(12, 1, 1, img, &cap, capture_callback),
               "\\(width & 0b0111\\) == 0");
  EXPECT_DEATH(tesvel_compress(8, 1, 1, nullptr, &cap, capture_callback), "data != NULL");
  EXPECT_DEATH(tesvel_compress(8, 1, 1, img, nullptr, capture_callback), "data_out_ctx != NULL");
  EXPECT_DEATH(tesvel_compress(8, 1, 1, img, &cap, nullptr), "cb != NULL");
  EXPECT_DEATH(tesvel_compress(8, 1, 0, img, &cap, capture_callback), "l0 > 0");
}
#endif


TEST(JbigThreads, CountIsTheSetOneElseTheEnvironmentsElseTheCoresUpToFour) {
  struct Case {
    const char* env;
    unsigned cores;
    int threads;
  };
  for (const Case c : {Case{"3", 2, 3}, Case{"1", 4, 1}, Case{"4", 1, 4}, Case{nullptr, 2, 2},
                       Case{nullptr, 16, 4}, Case{nullptr, 0, 1}, Case{"5", 2, 2}, Case{"0", 3, 3},
                       Case{"", 2, 2}, Case{"2x", 1, 1}, Case{"-1", 2, 2}}) {
    EXPECT_EQ(tesvel_jbig::threads_from(c.env, c.cores), c.threads)
        << (c.env ? c.env : "unset") << ", " << c.cores << " cores";
  }
  // The environment is read once: a later change is not seen.
  const int automatic = tesvel_jbig_threads();
  const char* before = std::getenv("TESVEL_JBIG_THREADS");
  const std::string saved = before ? before : "";
  setenv("TESVEL_JBIG_THREADS", automatic == 1 ? "2" : "1", 1);
  EXPECT_EQ(tesvel_jbig_threads(), automatic);
  if (before != nullptr) {
    setenv("TESVEL_JBIG_THREADS", saved.c_str(), 1);
  } else {
    unsetenv("TESVEL_JBIG_THREADS");
  }
  tesvel_jbig_set_threads(9);
  EXPECT_EQ(tesvel_jbig_threads(), 4);
  tesvel_jbig_set_threads(-2);
  EXPECT_EQ(tesvel_jbig_threads(), 1);
  tesvel_jbig_set_threads(0);
  EXPECT_EQ(tesvel_jbig_threads(), automatic);
}
