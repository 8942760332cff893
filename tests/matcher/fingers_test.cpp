// The synthetic fingers: what the standard database promises about its masters and impressions.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <thread>
#include <vector>

#include "fingers/synthetic_finger.h"

namespace {

using namespace wg_fingers;

TEST(SyntheticFingers, AreTheSameForTheSameSeedAndDifferForAnother) {
  const Master a = MakeMaster(FingerSeed(1, 4)), b = MakeMaster(FingerSeed(1, 4));
  EXPECT_EQ(a.ridges, b.ridges);
  EXPECT_EQ(MakeImpression(a, 2), MakeImpression(b, 2));
  EXPECT_NE(MakeImpression(a, 2), MakeImpression(a, 3));
  EXPECT_NE(MakeMaster(FingerSeed(1, 5)).ridges, a.ridges);
  EXPECT_NE(FingerSeed(1, 4), FingerSeed(2, 4));
}

TEST(SyntheticFingers, MastersCoverTheClassesWithRidgePeriodsOfRealFingers) {
  std::set<PatternClass> classes;
  for (uint32_t f = 0; f < 100; ++f) classes.insert(MasterClass(FingerSeed(3, f)));
  EXPECT_EQ(classes.size(), 5u);
  for (uint32_t f = 0; f < 6; ++f) {
    const Master m = MakeMaster(FingerSeed(3, f));
    EXPECT_EQ(m.eClass, MasterClass(FingerSeed(3, f)));
    EXPECT_GE(m.fPeriod / kPixelsPerMm, 0.40f);
    EXPECT_LE(m.fPeriod / kPixelsPerMm, 0.55f);
    // Larger than the window however it is placed.
    EXPECT_GT(2 * std::min(m.fHalfWidth, m.fHalfHeight), kImageSide);
    EXPECT_EQ(m.ridges.size(), static_cast<size_t>(kMasterSide * kMasterSide));
  }
}

TEST(SyntheticFingers, ImpressionsAreDrawnWithinTheStandardDatabaseLimits) {
  int partial = 0, dry = 0, wet = 0;
  constexpr int kDraws = 1000;
  for (uint64_t seed = 0; seed < kDraws; ++seed) {
    const ImpressionParams p = MakeImpressionParams(seed);
    EXPECT_LE(std::hypot(p.fOffsetX, p.fOffsetY), 2.5f * kPixelsPerMm + 1e-3f);
    EXPECT_LE(std::fabs(p.fRotation), 15 * 3.14159266f / 180);
    partial += p.fContact < 1;
    dry += p.fMoisture < -0.3f;
    wet += p.fMoisture > 0.3f;
  }
  // A few partial contacts, and both kinds of skin.
  EXPECT_GT(partial, kDraws / 50);
  EXPECT_LT(partial, kDraws / 5);
  EXPECT_GT(dry, kDraws / 20);
  EXPECT_GT(wet, kDraws / 20);
}

TEST(SyntheticFingers, ImpressionsShowDarkRidgesOnALightBackground) {
  const Master m = MakeMaster(FingerSeed(1, 0));
  ImpressionParams p = MakeImpressionParams(9);
  p.fContact = 1;
  p.fOffsetX = p.fOffsetY = 0;
  const Image centred = RenderImpression(m, p);
  // Across the middle row, ridges and valleys alternate about every 2 to 3 pixels.
  int dark = 0, changes = 0;
  const int row = kImageSide / 2;
  for (int x = 0; x < kImageSide; ++x) {
    const bool d = centred[row * kImageSide + x] < p.fBackground - p.fContrast / 2;
    dark += d;
    if (x > 0)
      changes += d != (centred[row * kImageSide + x - 1] < p.fBackground - p.fContrast / 2);
  }
  EXPECT_GT(dark, kImageSide / 5);
  EXPECT_LT(dark, kImageSide * 4 / 5);
  EXPECT_GT(changes, 2 * kImageSide / (static_cast<int>(m.fPeriod) + 3));
  // A window pushed off the fingertip sees the bare sensor: light.
  p.fOffsetX = 2 * m.fHalfWidth;
  const Image off = RenderImpression(m, p);
  double mean = 0;
  for (uint8_t v : off) mean += v;
  EXPECT_GT(mean / off.size(), p.fBackground - 3 * p.fNoise);
}

TEST(SyntheticFingers, MatcherBitmapIsUpsideDownInABlackBorderWithMatchLevels) {
  Image image;
  for (int i = 0; i < kImagePixels; ++i) image[i] = static_cast<uint8_t>(i % 251);
  image[0] = 231;
  image[1] = 232;
  const Bitmap plain = ToMatcherBitmap(image, false), levels = ToMatcherBitmap(image, true);
  const int firstRowStored = (kBitmapBorder + kImageSide - 1) * kBitmapSide + kBitmapBorder;
  EXPECT_EQ(plain[firstRowStored], 231);
  EXPECT_EQ(levels[firstRowStored], 224);
  EXPECT_EQ(levels[firstRowStored + 1], 240);
  EXPECT_EQ(plain[kBitmapBorder * kBitmapSide + kBitmapBorder],
            image[(kImageSide - 1) * kImageSide]);
  for (int i = 0; i < kBitmapSide; ++i) {
    EXPECT_EQ(plain[i], 0);
    EXPECT_EQ(plain[i * kBitmapSide], 0);
    EXPECT_EQ(plain[i * kBitmapSide + kBitmapSide - 1], 0);
  }
  for (uint8_t v : levels) EXPECT_EQ(v % 16, 0);
}

TEST(SyntheticFingers, CacheHandsOutOneMasterPerSeedToConcurrentCallers) {
  MasterCache cache;
  std::vector<std::shared_ptr<const Master>> got(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { got[t] = cache.Get(77); });
  for (std::thread& t : threads) t.join();
  for (const auto& m : got) EXPECT_EQ(m, got[0]);
  EXPECT_EQ(got[0]->ridges, MakeMaster(77).ridges);
  EXPECT_NE(cache.Get(78), got[0]);
}

}  // namespace
