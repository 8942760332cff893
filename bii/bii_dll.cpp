// The seven calls. The settings live per thread: the client library makes its setting calls
// and its work call on one application thread, and two applications' threads must never see
// each other's settings.
#include "bii/bii_dll.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "bii/compare.h"
#include "bii/features.h"

#define BII_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Two impressions may each be turned by up to 15 degrees, so 30 between them.
constexpr int32_t kDefaultRotationLimit = 30;

struct Settings {
  int32_t iRotationLimit = kDefaultRotationLimit;
  float fScoreFloor = 0;
};

thread_local Settings t_settings;

// A search compares one probe with many templates, so the probe's features are kept per thread
// and taken again while the image stays the same bytes.
struct Probe {
  bool bValid = false;
  std::array<uint8_t, BII_IMAGE_SIDE * BII_IMAGE_SIDE> image;
  bii::Features features;
};
thread_local Probe t_probe;

const bii::Features& ProbeFeatures(const uint8_t* pImage) {
  if (!t_probe.bValid || std::memcmp(t_probe.image.data(), pImage, t_probe.image.size()) != 0) {
    std::memcpy(t_probe.image.data(), pImage, t_probe.image.size());
    t_probe.features = bii::Features{};
    bii::ExtractFeatures(pImage, t_probe.features);
    t_probe.bValid = true;
  }
  return t_probe.features;
}

}  // namespace

// The argument is the image's bits per pixel; this matcher reads 8-bit images only and
// starts every build and comparison from the default settings.
BII_EXPORT int32_t bii_init(int32_t iArgument) {
  t_settings = Settings{};
  return iArgument == 8 ? 0 : -1;
}

// The largest turn between two prints that a comparison searches, in degrees.
BII_EXPORT int32_t bii_setlim(int32_t iArgument) {
  t_settings.iRotationLimit = std::clamp(iArgument, 0, 180);
  return 0;
}

// The mode (3 build, 2 compare) is known from the work call itself; accepted for the client
// library's sake.
BII_EXPORT int32_t bii_setcomp(int32_t) {
  return 0;
}

// This matcher writes no diagnostic output; accepted for the client library's sake.
BII_EXPORT int32_t bii_setout(int32_t, int32_t) {
  return 0;
}

// Scores below the argument (in hundredths) are reported as 0.
BII_EXPORT int32_t bii_setthresh(int32_t iArgument) {
  t_settings.fScoreFloor = static_cast<float>(std::max(iArgument, 0)) / 100.0f;
  return 0;
}

BII_EXPORT int32_t bii_enroll(const uint8_t* pImage, uint8_t* pTemplate, float* pfQuality1,
                              float* pfQuality2, int32_t) {
  if (!pImage || !pTemplate || !pfQuality1 || !pfQuality2) return -1;
  bii::Features features;
  bii::ExtractFeatures(pImage, features);
  bii::WriteTemplate(features, pTemplate);
  *pfQuality1 = features.fClarity;
  *pfQuality2 = features.fRichness;
  return 0;
}

// Figures: the probe's clarity, the number of paired minutiae, the score. A template that is
// not one of this matcher's gives 0 for the last two.
BII_EXPORT int32_t bii_verify(const uint8_t* pImage, const uint8_t* pTemplate, float* pfFigure1,
                              float* pfFigure2, float* pfScore, int32_t) {
  if (!pImage || !pTemplate || !pfFigure1 || !pfFigure2 || !pfScore) return -1;
  const bii::Features& probe = ProbeFeatures(pImage);
  *pfFigure1 = probe.fClarity;
  *pfFigure2 = 0;
  *pfScore = 0;
  bii::Reference reference;
  if (!bii::ReadTemplate(pTemplate, reference)) return -1;
  const bii::Comparison comparison = bii::Compare(probe, reference, t_settings.iRotationLimit);
  *pfFigure2 = static_cast<float>(comparison.iPaired);
  *pfScore = comparison.fScore < t_settings.fScoreFloor ? 0 : comparison.fScore;
  return 0;
}
