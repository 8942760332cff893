// Masters are grown the way ridges form in the skin: from noise, by filtering again and again
// with a band-pass filter tuned to the local ridge flow, so that ridges, their endings and
// forks come out of the flow field by themselves. The flow field is the pole model of cores and
// deltas, which gives the common pattern classes from a handful of singular points.
#include "fingers/synthetic_finger.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace wg_fingers {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

// splitmix64: tiny, fast and the same everywhere.
class Random {
 public:
  explicit Random(uint64_t uiSeed) : m_uiState(uiSeed) {}
  uint64_t Next() {
    uint64_t z = (m_uiState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // In [0, 1).
  float Uniform() { return static_cast<float>(Next() >> 40) * (1.0f / 16777216.0f); }
  float Range(float fLow, float fHigh) { return fLow + (fHigh - fLow) * Uniform(); }
  float Normal() {
    const float u = std::max(Uniform(), 1e-7f);
    return std::sqrt(-2.0f * std::log(u)) * std::cos(2.0f * kPi * Uniform());
  }

 private:
  uint64_t m_uiState;
};

uint64_t Mix(uint64_t a, uint64_t b) {
  return Random(a * 0x2545F4914F6CDD1Dull ^ b).Next();
}

struct SingularPoint {
  float fX, fY;
  bool bCore;
};

// Ridge direction (radians, modulo pi) at every master pixel.
std::vector<float> FlowField(const Master& master, Random& random) {
  const float cx = master.fCentreX, cy = master.fCentreY;
  std::vector<SingularPoint> points;
  const float jx = random.Range(-12, 12), jy = random.Range(-15, 10);
  switch (master.eClass) {
    case PatternClass::kArch:
      break;
    case PatternClass::kTentedArch:
      points = {{cx + jx, cy + jy - 10, true}, {cx + jx, cy + jy + random.Range(25, 40), false}};
      break;
    case PatternClass::kLeftLoop:
    case PatternClass::kRightLoop: {
      const float side = master.eClass == PatternClass::kLeftLoop ? 1.0f : -1.0f;
      points = {{cx + jx, cy + jy - 15, true},
                {cx + jx + side * random.Range(45, 70), cy + jy + random.Range(45, 65), false}};
      break;
    }
    case PatternClass::kWhorl: {
      const float spread = random.Range(6, 12);
      const float lean = random.Range(-6, 6);
      points = {{cx + jx - lean, cy + jy - spread, true},
                {cx + jx + lean, cy + jy + spread, true},
                {cx + jx - random.Range(65, 85), cy + jy + random.Range(55, 75), false},
                {cx + jx + random.Range(65, 85), cy + jy + random.Range(55, 75), false}};
      break;
    }
  }
  const float tilt = random.Range(-0.15f, 0.15f);
  // A gentle large-scale bend keeps two fingers of one class from sharing one flow.
  const float bendA = random.Range(-0.25f, 0.25f), bendF = random.Range(0.008f, 0.016f);
  const float bendP = random.Range(0, 2 * kPi);
  const float archHeight = random.Range(0.8f, 1.6f), archWidth = random.Range(45, 70);
  std::vector<float> flow(kMasterSide * kMasterSide);
  for (int y = 0; y < kMasterSide; ++y) {
    for (int x = 0; x < kMasterSide; ++x) {
      float theta = tilt + bendA * std::sin(bendF * (x + y) + bendP);
      if (master.eClass == PatternClass::kArch) {
        const float du = (x - cx) / archWidth;
        const float fade = std::clamp((cy + 90 - y) / 140.0f, 0.0f, 1.0f);
        theta += std::atan(archHeight * 2 * du * std::exp(-du * du)) * fade;
      }
      for (const SingularPoint& p : points) {
        const float a = std::atan2(y - p.fY, x - p.fX);
        theta += p.bCore ? 0.5f * a : -0.5f * a;
      }
      flow[y * kMasterSide + x] = theta;
    }
  }
  return flow;
}

constexpr int kFlowBins = 24;
constexpr int kKernelRadius = 6;
constexpr int kKernelSide = 2 * kKernelRadius + 1;

using Kernel = std::array<float, kKernelSide * kKernelSide>;

// Zero-mean band-pass kernels across the ridges, longer along them than across, so that each
// pass both sharpens the period and carries ridges on along the flow.
std::array<Kernel, kFlowBins> GrowthKernels(float fPeriod) {
  std::array<Kernel, kFlowBins> kernels{};
  const float sigmaAcross = 0.45f * fPeriod, sigmaAlong = 0.8f * fPeriod;
  for (int b = 0; b < kFlowBins; ++b) {
    const float theta = kPi * b / kFlowBins;
    const float c = std::cos(theta), s = std::sin(theta);
    Kernel& k = kernels[b];
    float sum = 0, weight = 0;
    std::array<float, kKernelSide * kKernelSide> envelope{};
    for (int v = -kKernelRadius; v <= kKernelRadius; ++v) {
      for (int u = -kKernelRadius; u <= kKernelRadius; ++u) {
        const float along = u * c + v * s, across = -u * s + v * c;
        const float e = std::exp(-0.5f * (along * along / (sigmaAlong * sigmaAlong) +
                                          across * across / (sigmaAcross * sigmaAcross)));
        const int i = (v + kKernelRadius) * kKernelSide + u + kKernelRadius;
        envelope[i] = e;
        k[i] = e * std::cos(2 * kPi * across / fPeriod);
        sum += k[i];
        weight += e;
      }
    }
    for (size_t i = 0; i < k.size(); ++i) k[i] -= sum / weight * envelope[i];
  }
  return kernels;
}

float Smoothstep(float fLow, float fHigh, float x) {
  const float t = std::clamp((x - fLow) / (fHigh - fLow), 0.0f, 1.0f);
  return t * t * (3 - 2 * t);
}

// Smooth random values on a lattice of `fCell` pixels, in [0, 1).
float ValueNoise(uint64_t uiSeed, float x, float y, float fCell) {
  const float gx = x / fCell, gy = y / fCell;
  const float fx = std::floor(gx), fy = std::floor(gy);
  const auto at = [&](int64_t ix, int64_t iy) {
    return static_cast<float>(Mix(uiSeed, static_cast<uint64_t>(ix * 73856093 ^ iy * 19349663)) >>
                              40) *
           (1.0f / 16777216.0f);
  };
  const int64_t ix = static_cast<int64_t>(fx), iy = static_cast<int64_t>(fy);
  const float tx = Smoothstep(0, 1, gx - fx), ty = Smoothstep(0, 1, gy - fy);
  const float top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * tx;
  const float bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * tx;
  return top + (bottom - top) * ty;
}

}  // namespace

PatternClass MasterClass(uint64_t uiSeed) {
  // Roughly the shares of the classes in the population: loops most, arches fewest.
  const float pick = Random(Mix(uiSeed, 0x636C617373000001ull)).Uniform();
  return pick < 0.06f   ? PatternClass::kArch
         : pick < 0.12f ? PatternClass::kTentedArch
         : pick < 0.45f ? PatternClass::kLeftLoop
         : pick < 0.75f ? PatternClass::kRightLoop
                        : PatternClass::kWhorl;
}

Master MakeMaster(uint64_t uiSeed) {
  Random random(Mix(uiSeed, 0x6D61737465720001ull));
  Master master;
  master.uiSeed = uiSeed;
  master.eClass = MasterClass(uiSeed);
  master.fPeriod = random.Range(0.42f, 0.54f) * kPixelsPerMm;
  master.fCentreX = kMasterSide / 2.0f + random.Range(-4, 4);
  master.fCentreY = kMasterSide / 2.0f + random.Range(-4, 4);
  master.fHalfWidth = random.Range(9.0f, 11.0f) * kPixelsPerMm;
  master.fHalfHeight = random.Range(11.5f, 13.5f) * kPixelsPerMm;

  const std::vector<float> flow = FlowField(master, random);
  std::vector<uint8_t> bins(flow.size());
  for (size_t i = 0; i < flow.size(); ++i) {
    float t = std::fmod(flow[i], kPi);
    if (t < 0) t += kPi;
    bins[i] = static_cast<uint8_t>(static_cast<int>(std::lround(t / kPi * kFlowBins)) % kFlowBins);
  }
  const std::array<Kernel, kFlowBins> kernels = GrowthKernels(master.fPeriod);

  std::vector<float> field(flow.size()), next(flow.size());
  for (float& v : field) v = random.Range(-1, 1);
  constexpr int kPasses = 9;
  for (int pass = 0; pass < kPasses; ++pass) {
    double energy = 0;
    for (int y = 0; y < kMasterSide; ++y) {
      for (int x = 0; x < kMasterSide; ++x) {
        const Kernel& k = kernels[bins[y * kMasterSide + x]];
        float acc = 0;
        for (int v = -kKernelRadius; v <= kKernelRadius; ++v) {
          const int yy = std::clamp(y + v, 0, kMasterSide - 1);
          const float* row = &field[yy * kMasterSide];
          const float* krow = &k[(v + kKernelRadius) * kKernelSide + kKernelRadius];
          if (x >= kKernelRadius && x < kMasterSide - kKernelRadius) {
            for (int u = -kKernelRadius; u <= kKernelRadius; ++u) acc += krow[u] * row[x + u];
          } else {
            for (int u = -kKernelRadius; u <= kKernelRadius; ++u)
              acc += krow[u] * row[std::clamp(x + u, 0, kMasterSide - 1)];
          }
        }
        next[y * kMasterSide + x] = acc;
        energy += static_cast<double>(acc) * acc;
      }
    }
    // Saturating after each pass turns the band-passed noise into ridges of even strength.
    const float gain = 1.6f / static_cast<float>(std::sqrt(energy / next.size()) + 1e-9);
    for (size_t i = 0; i < next.size(); ++i) field[i] = std::clamp(next[i] * gain, -1.0f, 1.0f);
  }
  master.ridges = std::move(field);
  return master;
}

ImpressionParams MakeImpressionParams(uint64_t uiSeed) {
  Random random(Mix(uiSeed, 0x696D707265737301ull));
  ImpressionParams p;
  const float radius = 2.5f * kPixelsPerMm * std::sqrt(random.Uniform());
  const float direction = random.Range(0, 2 * kPi);
  p.fOffsetX = radius * std::cos(direction);
  p.fOffsetY = radius * std::sin(direction);
  p.fRotation = random.Range(-15, 15) * kPi / 180;
  p.fDistortion = random.Range(0, 2.5f);
  for (float& phase : p.fDistortionPhase) phase = random.Range(0, 2 * kPi);
  p.fMoisture = std::clamp(random.Normal() * 0.4f, -0.9f, 0.9f);
  p.fNoise = random.Range(2, 10);
  p.fContrast = random.Range(110, 200);
  p.fBackground = random.Range(215, 248);
  if (random.Uniform() < 0.1f) {
    p.fContact = random.Range(0.45f, 0.8f);
    p.fContactAngle = random.Range(0, 2 * kPi);
  }
  p.uiNoiseSeed = random.Next();
  return p;
}

Image RenderImpression(const Master& master, const ImpressionParams& p) {
  Image image{};
  Random noise(p.uiNoiseSeed);
  const float c = std::cos(p.fRotation), s = std::sin(p.fRotation);
  const float half = (kImageSide - 1) / 2.0f;
  const float edge = half * std::numbers::sqrt2_v<float>;
  const float liftX = std::cos(p.fContactAngle), liftY = std::sin(p.fContactAngle);
  const float liftAt = 2 * p.fContact - 1;
  // Dry skin loses ridge pieces; wet skin fills valleys. The threshold moves the ridge edge.
  const float threshold = -0.55f * p.fMoisture;
  const float breaks = std::max(0.0f, -p.fMoisture - 0.2f);
  for (int v = 0; v < kImageSide; ++v) {
    for (int u = 0; u < kImageSide; ++u) {
      const float pu = u - half, pv = v - half;
      // Skin stretches more the farther it is from the middle of the contact.
      const float reach = std::sqrt(pu * pu + pv * pv) / edge;
      const float dx = p.fDistortion * reach * std::sin(0.03f * pv + p.fDistortionPhase[0]) *
                       std::cos(0.025f * pu + p.fDistortionPhase[1]);
      const float dy = p.fDistortion * reach * std::sin(0.028f * pu + p.fDistortionPhase[2]) *
                       std::cos(0.021f * pv + p.fDistortionPhase[3]);
      const float mx = master.fCentreX + p.fOffsetX + c * (pu + dx) - s * (pv + dy);
      const float my = master.fCentreY + p.fOffsetY + s * (pu + dx) + c * (pv + dy);
      float pressure = 0, ridge = 0;
      if (mx >= 0 && my >= 0 && mx < kMasterSide - 1 && my < kMasterSide - 1) {
        const float ex = (mx - master.fCentreX) / master.fHalfWidth;
        const float ey = (my - master.fCentreY) / master.fHalfHeight;
        pressure = Smoothstep(1.0f, 0.8f, ex * ex + ey * ey);
        if (p.fContact < 1)
          pressure *= Smoothstep(liftAt + 0.08f, liftAt - 0.08f, ex * liftX + ey * liftY);
        const int ix = static_cast<int>(mx), iy = static_cast<int>(my);
        const float fx = mx - ix, fy = my - iy;
        const float* r0 = &master.ridges[iy * kMasterSide + ix];
        const float* r1 = r0 + kMasterSide;
        ridge = (r0[0] * (1 - fx) + r0[1] * fx) * (1 - fy) + (r1[0] * (1 - fx) + r1[1] * fx) * fy;
      }
      float dark = 1 / (1 + std::exp(-5 * (ridge - threshold)));
      if (breaks > 0)
        dark *= 1 - breaks * Smoothstep(0.55f, 0.8f, ValueNoise(p.uiNoiseSeed, mx, my, 3));
      const float value = p.fBackground - p.fContrast * dark * pressure + p.fNoise * noise.Normal();
      image[v * kImageSide + u] = static_cast<uint8_t>(std::clamp(std::lround(value), 0l, 255l));
    }
  }
  return image;
}

uint64_t FingerSeed(uint64_t uiDatabaseSeed, uint32_t uiFinger) {
  return Mix(uiDatabaseSeed, 0x66696E6765720000ull + uiFinger);
}

Image MakeImpression(const Master& master, uint32_t uiImpression) {
  return RenderImpression(master, MakeImpressionParams(Mix(master.uiSeed, uiImpression)));
}

Bitmap ToMatcherBitmap(const Image& image, bool bMatchLevels) {
  Bitmap bitmap{};
  for (int row = 0; row < kImageSide; ++row) {
    uint8_t* out = &bitmap[(kBitmapBorder + kImageSide - 1 - row) * kBitmapSide + kBitmapBorder];
    for (int col = 0; col < kImageSide; ++col) {
      const uint8_t v = image[row * kImageSide + col];
      out[col] = bMatchLevels ? static_cast<uint8_t>(16 * (v > 231 ? 15 : (v + 8) >> 4)) : v;
    }
  }
  return bitmap;
}

std::shared_ptr<const Master> MasterCache::Get(uint64_t uiSeed) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_masters.find(uiSeed);
    if (found != m_masters.end()) return found->second;
  }
  // Made outside the lock: a slow master must not hold up impressions of cached ones.
  auto master = std::make_shared<const Master>(MakeMaster(uiSeed));
  std::lock_guard<std::mutex> guard(m_lock);
  return m_masters.emplace(uiSeed, std::move(master)).first->second;
}

}  // namespace wg_fingers
