// The matcher through its seven calls, as the client library makes them, on synthetic fingers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "bii/bii_dll.h"
#include "fingers/synthetic_finger.h"

namespace {

using wg_fingers::Bitmap;
using wg_fingers::Image;
using Template = std::array<uint8_t, BII_TEMPLATE_MAX_SIZE>;

// The client library's default minimum score ("CorMtchNA", hundredths).
constexpr float kMinimumScore = 0.50f;
constexpr uint64_t kDatabase = 7;
constexpr int kFingers = 5;
constexpr int kImpressions = 4;

struct Build {
  Template bytes{};
  float fQuality1 = -1, fQuality2 = -1;
};

Build Enroll(const Image& image) {
  Build build;
  const Bitmap bitmap = wg_fingers::ToMatcherBitmap(image, false);
  bii_init(8);
  bii_setlim(30);
  bii_setcomp(3);
  bii_setout(0, 0);
  bii_setthresh(0);
  EXPECT_EQ(bii_enroll(bitmap.data(), build.bytes.data(), &build.fQuality1, &build.fQuality2, 8),
            0);
  return build;
}

// The probe reaches the matcher in the 16 grey levels of a match template.
float Verify(const Image& probe, const uint8_t* pTemplate) {
  const Bitmap bitmap = wg_fingers::ToMatcherBitmap(probe, true);
  float q = -1, c = -1, s = -1;
  bii_init(8);
  bii_setlim(30);
  bii_setcomp(2);
  bii_setout(0, 0);
  bii_setthresh(0);
  bii_verify(bitmap.data(), pTemplate, &q, &c, &s, 8);
  return s;
}

// The small form in a buffer of exactly its size, so that reading past it is caught.
std::unique_ptr<uint8_t[]> SmallForm(const Template& full) {
  auto small = std::make_unique<uint8_t[]>(BII_SMALL_TEMPLATE_SIZE);
  std::memcpy(small.get(), full.data(), BII_SMALL_TEMPLATE_SIZE);
  small[BII_TEMPLATE_FORM_OFFSET] = BII_SMALL_TEMPLATE_FORM;
  return small;
}

class MatcherTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_impressions = new std::vector<std::vector<Image>>(kFingers);
    for (int f = 0; f < kFingers; ++f) {
      const wg_fingers::Master master =
          wg_fingers::MakeMaster(wg_fingers::FingerSeed(kDatabase, f));
      for (int k = 0; k < kImpressions; ++k)
        (*s_impressions)[f].push_back(wg_fingers::MakeImpression(master, k));
    }
  }
  static void TearDownTestSuite() {
    delete s_impressions;
    s_impressions = nullptr;
  }
  static const Image& Impression(int f, int k) { return (*s_impressions)[f][k]; }
  static std::vector<std::vector<Image>>* s_impressions;
};

std::vector<std::vector<Image>>* MatcherTest::s_impressions = nullptr;

TEST_F(MatcherTest, SameFingerMatchesAndOtherFingersDoNotInFullAndSmallForm) {
  for (bool bSmall : {false, true}) {
    SCOPED_TRACE(bSmall ? "small form" : "full form");
    int genuine = 0, matched = 0;
    for (int f = 0; f < kFingers; ++f) {
      const Build build = Enroll(Impression(f, 0));
      const auto small = SmallForm(build.bytes);
      const uint8_t* pTemplate = bSmall ? small.get() : build.bytes.data();
      for (int k = 1; k < kImpressions; ++k) {
        ++genuine;
        matched += Verify(Impression(f, k), pTemplate) > kMinimumScore;
      }
      for (int g = 0; g < kFingers; ++g) {
        if (g == f) continue;
        EXPECT_LT(Verify(Impression(g, 0), pTemplate), kMinimumScore) << f << " " << g;
      }
    }
    // Synthetic impressions include partial contacts and far-apart windows: most genuine pairs,
    // not every one, clear the minimum; fewer with the small form, which keeps only minutiae
    // and is scored more cautiously for it.
    EXPECT_GE(matched, bSmall ? genuine * 3 / 5 : genuine * 4 / 5) << matched << " of " << genuine;
  }
}

// The same skin seen through a window moved and turned by known amounts, up to what two
// impressions of the standard database can differ by: the comparison must find the turn and
// shift itself, wherever they fall between its search steps.
TEST_F(MatcherTest, MovedAndTurnedWindowsOfOneFingerMatch) {
  const wg_fingers::Master master = wg_fingers::MakeMaster(wg_fingers::FingerSeed(kDatabase, 1));
  wg_fingers::ImpressionParams base = wg_fingers::MakeImpressionParams(21);
  base.fContact = 1;
  base.fOffsetX = base.fOffsetY = 0;
  base.fRotation = 0;
  const Build build = Enroll(wg_fingers::RenderImpression(master, base));
  struct Move {
    float fX, fY, fDegrees;
  };
  constexpr std::array<Move, 8> kMoves = {{{0, 0, 0},
                                           {0, 0, 3},
                                           {3, -3, 0},
                                           {9, 0, -9},
                                           {-14, 10, 14},
                                           {20, 5, -20},
                                           {-4, -24, 27},
                                           {24, 24, -6}}};
  for (const Move& move : kMoves) {
    wg_fingers::ImpressionParams params = base;
    params.fOffsetX = move.fX;
    params.fOffsetY = move.fY;
    params.fRotation = move.fDegrees * 3.14159265f / 180;
    const Image probe = wg_fingers::RenderImpression(master, params);
    EXPECT_GT(Verify(probe, build.bytes.data()), kMinimumScore)
        << move.fX << " " << move.fY << " " << move.fDegrees;
  }
}

TEST_F(MatcherTest, TheSameImageMatchesItsOwnTemplateWithAHighScore) {
  const Build build = Enroll(Impression(0, 0));
  EXPECT_GT(Verify(Impression(0, 0), build.bytes.data()), 1.0f);
  EXPECT_GT(Verify(Impression(0, 0), SmallForm(build.bytes).get()), 0.8f);
}

TEST_F(MatcherTest, QualityFiguresTellAClearPrintFromBlankNoiseAndBarelyTouched) {
  for (int f = 0; f < kFingers; ++f) {
    const Build build = Enroll(Impression(f, 0));
    EXPECT_GT(build.fQuality1, 0.5f) << f;
    EXPECT_GT(build.fQuality2, 0.3f) << f;
  }
  Image blank;
  blank.fill(240);
  Image black;
  black.fill(0);
  Image noise;
  std::mt19937 random(3);
  for (uint8_t& p : noise) p = static_cast<uint8_t>(random());
  // The fingertip barely on the sensor: a sliver of skin at one edge.
  const wg_fingers::Master master = wg_fingers::MakeMaster(wg_fingers::FingerSeed(kDatabase, 0));
  wg_fingers::ImpressionParams touch = wg_fingers::MakeImpressionParams(11);
  touch.fContact = 0.08f;
  touch.fContactAngle = 0;
  const Image barely = wg_fingers::RenderImpression(master, touch);
  for (const Image* pImage : std::array<const Image*, 4>{&blank, &black, &noise, &barely}) {
    const Build build = Enroll(*pImage);
    EXPECT_FALSE(build.fQuality1 > 0.5f && build.fQuality2 > 0.3f)
        << build.fQuality1 << " " << build.fQuality2;
    // Such a template matches nothing, not even the image it came from.
    EXPECT_LE(Verify(*pImage, build.bytes.data()), kMinimumScore);
  }
}

TEST_F(MatcherTest, TemplateStaysWithinItsSizeAndIsTheSameForTheSameImage) {
  constexpr uint8_t kGuard = 0xA5;
  std::vector<uint8_t> buffer(BII_TEMPLATE_MAX_SIZE + 64, kGuard);
  const Bitmap bitmap = wg_fingers::ToMatcherBitmap(Impression(1, 0), false);
  float q1 = 0, q2 = 0;
  bii_enroll(bitmap.data(), buffer.data(), &q1, &q2, 8);
  EXPECT_TRUE(std::all_of(buffer.begin() + BII_TEMPLATE_MAX_SIZE, buffer.end(),
                          [](uint8_t b) { return b == kGuard; }));
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + BII_TEMPLATE_MAX_SIZE,
                         Enroll(Impression(1, 0)).bytes.begin()));
}

TEST_F(MatcherTest, ForeignOrDamagedTemplatesScoreZero) {
  Template foreign{};
  std::mt19937 random(5);
  for (uint8_t& b : foreign) b = static_cast<uint8_t>(random());
  EXPECT_EQ(Verify(Impression(0, 0), foreign.data()), 0.0f);
  Build build = Enroll(Impression(0, 0));
  build.bytes[BII_TEMPLATE_FORM_OFFSET] = 7;  // neither form
  EXPECT_EQ(Verify(Impression(0, 0), build.bytes.data()), 0.0f);
  float q = 0, c = 0, s = 0;
  EXPECT_NE(bii_verify(nullptr, build.bytes.data(), &q, &c, &s, 8), 0);
  EXPECT_NE(bii_enroll(nullptr, build.bytes.data(), &q, &c, 8), 0);
}

TEST_F(MatcherTest, ConcurrentComparisonsGiveTheScoresOfSequentialOnes) {
  std::vector<Build> builds;
  for (int f = 0; f < kFingers; ++f) builds.push_back(Enroll(Impression(f, 0)));
  std::vector<float> expected;
  for (int f = 0; f < kFingers; ++f)
    for (int g = 0; g < kFingers; ++g)
      expected.push_back(Verify(Impression(g, 1), builds[f].bytes.data()));
  constexpr int kThreads = 4;
  std::vector<std::vector<float>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      // One thread raises its own score floor: the others must not see it.
      if (t == 0) bii_setthresh(200);
      for (int round = 0; round < 3; ++round)
        for (int f = 0; f < kFingers; ++f)
          for (int g = 0; g < kFingers; ++g) {
            const Bitmap probe = wg_fingers::ToMatcherBitmap(Impression(g, 1), true);
            float q = 0, c = 0, s = 0;
            if (t != 0) {
              bii_init(8);
              bii_setlim(30);
            }
            bii_verify(probe.data(), builds[f].bytes.data(), &q, &c, &s, 8);
            seen[t].push_back(s);
          }
    });
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t)
    for (size_t i = 0; i < seen[t].size(); ++i) {
      if (t == 0) {
        EXPECT_EQ(seen[t][i], 0.0f);
      } else {
        EXPECT_EQ(seen[t][i], expected[i % expected.size()]) << t << " " << i;
      }
    }
}

}  // namespace
