// Synthetic fingertips and the impressions a 128 x 128 capacitive sensor at 250 dpi takes of
// them. The simulated sensor of the server stand-in, the matcher tests and the evaluation tool
// share them, so every part of the kit sees the same fingers. Everything follows from seeds:
// the same seed gives the same master and the same impression on every machine (the random
// numbers and their distributions are the kit's own, not the standard library's).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace wg_fingers {

constexpr int kImageSide = 128;
constexpr int kImagePixels = kImageSide * kImageSide;
// The master covers 29 mm: more than the window (13 mm) moved by 2.5 mm and turned by 15
// degrees, so a window never runs off the ridges except where the fingertip itself ends.
constexpr int kMasterSide = 288;
// 250 dpi.
constexpr float kPixelsPerMm = 250.0f / 25.4f;
// The matcher bitmap: the image centred in an 8-pixel black border, rows bottom-up.
constexpr int kBitmapSide = 144;
constexpr int kBitmapBorder = 8;

using Image = std::array<uint8_t, kImagePixels>;
using Bitmap = std::array<uint8_t, kBitmapSide * kBitmapSide>;

enum class PatternClass : uint8_t { kArch, kTentedArch, kLeftLoop, kRightLoop, kWhorl };

// One fingertip: ridge values in [-1, 1] (positive on a ridge) on a kMasterSide square, and the
// elliptic outline of the skin that can touch the sensor.
struct Master {
  uint64_t uiSeed = 0;
  PatternClass eClass = PatternClass::kArch;
  float fPeriod = 0;  // ridge period in pixels
  float fCentreX = 0, fCentreY = 0;
  float fHalfWidth = 0, fHalfHeight = 0;
  std::vector<float> ridges;
};

// How one impression is taken. MakeImpressionParams draws them as the standard database does.
struct ImpressionParams {
  float fOffsetX = 0, fOffsetY = 0;  // window centre relative to the fingertip centre, pixels
  float fRotation = 0;               // radians
  float fDistortion = 0;             // largest elastic displacement at the window edge, pixels
  float fDistortionPhase[4] = {};
  float fMoisture = 0;      // -1 dry (thin, broken ridges) to +1 wet (thick, merging ridges)
  float fNoise = 0;         // standard deviation of the sensor noise, grey levels
  float fContrast = 0;      // grey levels between valley and ridge
  float fBackground = 0;    // grey level where nothing touches
  float fContact = 1;       // share of the fingertip outline pressed on the sensor (partial < 1)
  float fContactAngle = 0;  // where a partial contact lifts off
  uint64_t uiNoiseSeed = 0;
};

// The pattern class a master of this seed has; cheap, unlike the master itself.
PatternClass MasterClass(uint64_t uiSeed);
Master MakeMaster(uint64_t uiSeed);
ImpressionParams MakeImpressionParams(uint64_t uiSeed);
// Dark ridges on a light background, rows top to bottom (0 black, 255 white).
Image RenderImpression(const Master& master, const ImpressionParams& params);

// The standard database: finger f (from 0) and impression k (from 0) of a database seed.
uint64_t FingerSeed(uint64_t uiDatabaseSeed, uint32_t uiFinger);
Image MakeImpression(const Master& master, uint32_t uiImpression);

// What the matcher sees of an image: the 144 x 144 matcher bitmap. With bMatchLevels the image
// first goes through the 16 grey levels of a match template (the form in which a probe reaches
// the matcher).
Bitmap ToMatcherBitmap(const Image& image, bool bMatchLevels);

// Masters take tens of milliseconds, impressions about a millisecond: a server that makes
// impressions on the fly keeps the masters it has made. Safe for concurrent use.
class MasterCache {
 public:
  std::shared_ptr<const Master> Get(uint64_t uiSeed);

 private:
  std::mutex m_lock;
  std::map<uint64_t, std::shared_ptr<const Master>> m_masters;
};

}  // namespace wg_fingers
