// An identification compares one probe with many templates, and the matcher keeps the probe's
// features between the comparisons: a score must not depend on what was compared before, nor
// on the thread.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "bii/bii_dll.h"
#include "fingers/synthetic_finger.h"

namespace {

struct Print {
  wg_fingers::Bitmap enrolled;
  wg_fingers::Bitmap probe;
  std::vector<uint8_t> matcherTemplate = std::vector<uint8_t>(BII_TEMPLATE_MAX_SIZE);
};

Print MakePrint(uint64_t seed) {
  wg_fingers::Master master = wg_fingers::MakeMaster(wg_fingers::FingerSeed(5, static_cast<uint32_t>(seed)));
  Print print;
  print.enrolled = wg_fingers::ToMatcherBitmap(wg_fingers::MakeImpression(master, 0), false);
  print.probe = wg_fingers::ToMatcherBitmap(wg_fingers::MakeImpression(master, 1), true);
  float q1 = 0, q2 = 0;
  bii_init(8);
  bii_enroll(print.enrolled.data(), print.matcherTemplate.data(), &q1, &q2, 8);
  return print;
}

float Score(const wg_fingers::Bitmap& probe, const Print& reference) {
  float clarity = 0, paired = 0, score = 0;
  bii_init(8);
  bii_verify(probe.data(), reference.matcherTemplate.data(), &clarity, &paired, &score, 8);
  return score;
}

TEST(ProbeFeatures, AScoreDependsOnNothingComparedBeforeItNorOnTheThread) {
  const Print a = MakePrint(1), b = MakePrint(2);
  const float aWithA = Score(a.probe, a);
  const float aWithB = Score(a.probe, b);
  const float bWithA = Score(b.probe, a);
  EXPECT_GT(aWithA, aWithB);
  EXPECT_EQ(Score(a.probe, a), aWithA);
  EXPECT_EQ(Score(b.probe, a), bWithA);
  // The same image bytes at another address are the same probe.
  wg_fingers::Bitmap copy = a.probe;
  EXPECT_EQ(Score(copy, b), aWithB);
  // A probe changed in one pixel is another probe.
  copy[BII_IMAGE_SIDE * 72 + 72] ^= 0x80;
  Score(copy, a);
  EXPECT_EQ(Score(a.probe, a), aWithA);
  float other = 0;
  std::thread([&] { other = Score(a.probe, a); }).join();
  EXPECT_EQ(other, aWithA);
}

}  // namespace
