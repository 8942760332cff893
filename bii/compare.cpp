// Comparison in three steps. Every minutia carries a local descriptor: the ridge flow sampled
// on rings around it, measured against the minutia's own direction, so it does not change when
// the print turns or moves. A vote over all pairings of probe and template minutiae, weighted
// by how alike their descriptors are, finds the likely turn and shift between the prints (a
// Hough transform: no core or other reference point is needed, which partial prints often
// lack). Under the best few alignments the minutiae are paired one to one within a tolerance
// that absorbs skin distortion, and the weighted share of paired minutiae among those lying
// where both prints overlap gives the score.
#include "bii/compare.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

namespace bii {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kCentre = (kSide - 1) / 2.0f;

constexpr float kAngleBin = 6 * kPi / 180;
constexpr float kShiftBin = 6;
// Each window lies within 2.5 mm of the fingertip's centre, so two impressions are at most
// 5 mm (49 pixels) apart, plus what a turn about the window centre adds.
constexpr int kShiftBins = 24;  // +-72 pixels
constexpr int kPeaks = 5;
// The votes a peak's alignment is worked out from: within a bin and a half of its turn.
constexpr float kPeakTurnReach = 1.5f * kAngleBin;
constexpr float kPairDistance = 7;
constexpr float kPairAngle = 20 * kPi / 180;
// Fewer minutiae than this in the common area say little: the score is cut accordingly.
constexpr float kMinCommon = 12;

// Ridge agreement (full form): what aligned unrelated prints reach after the patches' own
// shifts, what same-finger prints reach, the common pixels that make a full
// verdict, and the weight of the ridges against the minutiae.
constexpr float kRidgeChance = 0.72f;
constexpr float kRidgeSure = 0.95f;
constexpr float kRidgeSamples = 3200;
constexpr float kRidgeWeight = 0.5f;
constexpr size_t kRidgeCandidates = 3;
// The minutiae share that unrelated prints reach now and then under their best alignment. The
// small form keeps only the best minutiae and a coarse flow, so chance pairings weigh more in
// it; setting it back further keeps one minimum score at about the same false match rate for
// both forms.
constexpr float kMinutiaeChance = 0.3f;
constexpr float kSmallMinutiaeChance = 0.36f;
// The top of the score scale the client library maps to confidences.
constexpr float kTopScore = 1.4f;

// Descriptor rings: radius in pixels and points on the ring.
struct Ring {
  float fRadius;
  int iPoints;
};
constexpr std::array<Ring, 3> kRings = {{{14, 6}, {28, 10}, {42, 14}}};
constexpr int kDescriptorPoints = 30;
// Fewer common ring points than this and two descriptors cannot be told apart.
constexpr int kMinCommonPoints = 8;
// Descriptor agreement (mean cosine of the doubled flow difference) mapped to a pair weight:
// below kSimilarityFloor the pair is not believed at all.
constexpr float kSimilarityFloor = 0.55f;
constexpr float kSimilarityFull = 0.9f;

// Neighbourhood: the nearest minutiae around a minutia, in its own frame (x along its
// direction), up to kNeighbours within kNeighbourReach.
constexpr int kNeighbours = 8;
constexpr float kNeighbourReach = 45;
constexpr float kNeighbourDistance = 6;
constexpr float kNeighbourAngle = 25 * kPi / 180;
// This many neighbours found again in place make a pair fully believed.
constexpr int kNeighboursConfirming = 3;

struct Neighbour {
  float fX, fY, fAngle;
};

// Set bits of a word, counted in parallel within it: a population-count instruction is not
// available on every processor this library is built for.
int Ones64(uint64_t v) {
  v -= (v >> 1) & 0x5555555555555555ull;
  v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int>((v * 0x0101010101010101ull) >> 56);
}

// Ring points off the print are 0 in c and s, so that they add nothing to a sum of products.
// Room for whole vector registers of four points; the points past the last ring stay 0.
constexpr int kLanes = 4;
constexpr int kLanePoints = (kDescriptorPoints + kLanes - 1) / kLanes * kLanes;
using Lanes = float __attribute__((vector_size(kLanes * sizeof(float))));
struct RingPoints {
  std::array<float, kLanePoints> c{}, s{};
  uint32_t uiValid = 0;  // bit k: point k lies on the print
};
static_assert(kDescriptorPoints <= 32);

struct Descriptor {
  // `turned`: the same points with each ring rotated by half its points, the minutia taken as
  // pointing the other way.
  RingPoints points, turned;
  std::array<Neighbour, kNeighbours> neighbours;
  int iNeighbours;
};

// Doubled-angle vectors of the block flow, so that sampling needs no trigonometry.
struct FlowMap {
  std::array<float, kBlockCount> c, s;
  const std::array<uint8_t, kBlockCount>* pForeground;
  explicit FlowMap(const Features& f) : pForeground(&f.foreground) {
    for (size_t b = 0; b < kBlockCount; ++b) {
      c[b] = std::cos(2 * f.blockFlow[b]);
      s[b] = std::sin(2 * f.blockFlow[b]);
    }
  }
};

// Ring points as unit steps, so that a descriptor needs one turn per minutia, not per point.
struct RingTable {
  std::array<float, kDescriptorPoints> c, s, r;
  RingTable() {
    int k = 0;
    for (const Ring& ring : kRings)
      for (int p = 0; p < ring.iPoints; ++p, ++k) {
        c[k] = std::cos(2 * kPi * p / ring.iPoints);
        s[k] = std::sin(2 * kPi * p / ring.iPoints);
        r[k] = ring.fRadius;
      }
  }
};

const RingTable& Rings() {
  static const RingTable table;
  return table;
}

void Describe(const Features& f, const FlowMap& map, std::vector<Descriptor>& out) {
  const RingTable& rings = Rings();
  out.resize(f.iCount);
  for (int i = 0; i < f.iCount; ++i) {
    const Minutia& m = f.minutiae[i];
    const float c1 = std::cos(m.fAngle), s1 = std::sin(m.fAngle);
    // The doubled direction, to turn the doubled-angle flow back by it.
    const float c2 = c1 * c1 - s1 * s1, s2 = 2 * s1 * c1;
    Descriptor& d = out[i];
    d.points = RingPoints{};
    for (int k = 0; k < kDescriptorPoints; ++k) {
      const float x = m.fX + rings.r[k] * (c1 * rings.c[k] - s1 * rings.s[k]);
      const float y = m.fY + rings.r[k] * (s1 * rings.c[k] + c1 * rings.s[k]);
      if (x < 0 || y < 0 || x >= kSide || y >= kSide) continue;
      const int b = static_cast<int>(y) / kBlock * kBlocks + static_cast<int>(x) / kBlock;
      if (!(*map.pForeground)[b]) continue;
      d.points.uiValid |= 1u << k;
      d.points.c[k] = map.c[b] * c2 + map.s[b] * s2;
      d.points.s[k] = map.s[b] * c2 - map.c[b] * s2;
    }
    d.turned = RingPoints{};
    for (int first = 0; const Ring& ring : kRings) {
      for (int p = 0; p < ring.iPoints; ++p) {
        const int from = first + (p + ring.iPoints / 2) % ring.iPoints;
        d.turned.uiValid |= ((d.points.uiValid >> from) & 1u) << (first + p);
        d.turned.c[first + p] = d.points.c[from];
        d.turned.s[first + p] = d.points.s[from];
      }
      first += ring.iPoints;
    }
    std::array<std::pair<float, int>, kMaxMinutiae> near{};
    int n = 0;
    for (int j = 0; j < f.iCount; ++j) {
      const float dx = f.minutiae[j].fX - m.fX, dy = f.minutiae[j].fY - m.fY;
      const float d2 = dx * dx + dy * dy;
      if (j != i && d2 < kNeighbourReach * kNeighbourReach) near[n++] = {d2, j};
    }
    std::sort(near.begin(), near.begin() + n);
    d.iNeighbours = std::min(n, kNeighbours);
    for (int k2 = 0; k2 < d.iNeighbours; ++k2) {
      const Minutia& o = f.minutiae[near[k2].second];
      const float dx = o.fX - m.fX, dy = o.fY - m.fY;
      d.neighbours[k2] = {c1 * dx + s1 * dy, -s1 * dx + c1 * dy, o.fAngle - m.fAngle};
    }
  }
}

// The direction a minutia points along its ridge is the least certain thing about it (a
// fork's stem is misjudged, a wet print turns an ending into a fork of the valley); pairing
// therefore compares directions modulo half a turn and lets the geometry decide. The result
// lies in [-pi/2, pi/2).
float Fold(float a) {
  return a - kPi * std::floor(a / kPi + 0.5f);
}

// `bTurned`: b's minutia taken as pointing the other way, which turns its frame half round.
int NeighboursFound(const Descriptor& a, const Descriptor& b, bool bTurned) {
  const float sign = bTurned ? -1.0f : 1.0f;
  int found = 0;
  uint32_t used = 0;
  for (int i = 0; i < a.iNeighbours; ++i) {
    for (int j = 0; j < b.iNeighbours; ++j) {
      if (used & (1u << j)) continue;
      const float dx = a.neighbours[i].fX - sign * b.neighbours[j].fX;
      const float dy = a.neighbours[i].fY - sign * b.neighbours[j].fY;
      if (dx * dx + dy * dy > kNeighbourDistance * kNeighbourDistance) continue;
      if (std::fabs(Fold(a.neighbours[i].fAngle - b.neighbours[j].fAngle)) > kNeighbourAngle)
        continue;
      used |= 1u << j;
      ++found;
      break;
    }
  }
  return found;
}

// The ring agreement over the points both descriptors have, mapped to a weight; 0 when they
// share too few points to tell.
float RingWeight(float fSum, int iCommon) {
  if (iCommon < kMinCommonPoints) return 0;
  return std::clamp((fSum / iCommon - kSimilarityFloor) / (kSimilarityFull - kSimilarityFloor),
                    0.0f, 1.0f);
}

// Descriptor agreement with b read as is or half turned, the better of the two; the neighbours
// are then looked for in the same frame. Both readings are summed in one pass, point by point
// in ring order; a point missing from either side adds 0.
float PairWeight(const Descriptor& a, const Descriptor& b) {
  Lanes sums{}, sumsTurned{};
  for (int k = 0; k < kLanePoints; k += kLanes) {
    Lanes ac, as, bc, bs, tc, ts;
    std::memcpy(&ac, &a.points.c[k], sizeof ac);
    std::memcpy(&as, &a.points.s[k], sizeof as);
    std::memcpy(&bc, &b.points.c[k], sizeof bc);
    std::memcpy(&bs, &b.points.s[k], sizeof bs);
    std::memcpy(&tc, &b.turned.c[k], sizeof tc);
    std::memcpy(&ts, &b.turned.s[k], sizeof ts);
    sums += ac * bc + as * bs;
    sumsTurned += ac * tc + as * ts;
  }
  const float sum = (sums[0] + sums[1]) + (sums[2] + sums[3]);
  const float sumTurned = (sumsTurned[0] + sumsTurned[1]) + (sumsTurned[2] + sumsTurned[3]);
  const int common = Ones64(a.points.uiValid & b.points.uiValid);
  const int commonTurned = Ones64(a.points.uiValid & b.turned.uiValid);
  const float flow = RingWeight(sum, common), flowTurned = RingWeight(sumTurned, commonTurned);
  const bool turned = flowTurned > flow;
  const float bestFlow = turned ? flowTurned : flow;
  if (bestFlow <= 0) return 0;
  const float confirmed =
      std::min(1.0f, static_cast<float>(NeighboursFound(a, b, turned)) / kNeighboursConfirming);
  return bestFlow * confirmed;
}

// The turn's cosine and sine are kept with it: every pairing applies it to every minutia.
class Alignment {
 public:
  Alignment(float fTurn, float fShiftX, float fShiftY)
      : m_fTurn(fTurn),
        m_fShiftX(fShiftX),
        m_fShiftY(fShiftY),
        m_fCos(std::cos(fTurn)),
        m_fSin(std::sin(fTurn)) {}
  float Turn() const { return m_fTurn; }
  float ShiftX() const { return m_fShiftX; }
  float ShiftY() const { return m_fShiftY; }
  float Cos() const { return m_fCos; }
  float Sin() const { return m_fSin; }
  // Probe point into template coordinates (both relative to the image centre).
  void Apply(float x, float y, float& ox, float& oy) const {
    ox = m_fCos * x - m_fSin * y + m_fShiftX;
    oy = m_fSin * x + m_fCos * y + m_fShiftY;
  }
  void Invert(float x, float y, float& ox, float& oy) const {
    x -= m_fShiftX;
    y -= m_fShiftY;
    ox = m_fCos * x + m_fSin * y;
    oy = -m_fSin * x + m_fCos * y;
  }

 private:
  float m_fTurn, m_fShiftX, m_fShiftY, m_fCos, m_fSin;
};

bool InForeground(const Features& f, float x, float y) {
  const float px = x + kCentre, py = y + kCentre;
  if (px < 0 || py < 0 || px >= kSide || py >= kSide) return false;
  return f.foreground[static_cast<int>(py) / kBlock * kBlocks + static_cast<int>(px) / kBlock];
}

struct Pairing {
  float fWeight = 0;
  std::vector<std::pair<int, int>> pairs;  // template index, probe index
};

// A template and a probe minutia whose descriptors agree, with the pair's weight; in probe
// order, and in template order for each probe minutia.
struct Link {
  int iRef, iProbe;
  float fWeight;
};

Pairing Pair(const Features& probe, const Features& ref, const std::vector<Link>& links,
             const Alignment& al) {
  struct Candidate {
    float fCost;
    int iRef, iProbe;
    float fWeight;
  };
  std::vector<Candidate> candidates;
  float x = 0, y = 0, a = 0;
  for (size_t k = 0; k < links.size(); ++k) {
    const Link& link = links[k];
    if (k == 0 || link.iProbe != links[k - 1].iProbe) {
      const Minutia& p = probe.minutiae[link.iProbe];
      al.Apply(p.fX - kCentre, p.fY - kCentre, x, y);
      a = p.fAngle + al.Turn();
    }
    const Minutia& r = ref.minutiae[link.iRef];
    const float dx = r.fX - kCentre - x, dy = r.fY - kCentre - y;
    const float d2 = dx * dx + dy * dy;
    if (d2 > kPairDistance * kPairDistance) continue;
    const float gap = std::fabs(Fold(r.fAngle - a));
    if (gap > kPairAngle) continue;
    candidates.push_back({std::sqrt(d2) / kPairDistance + gap / kPairAngle - link.fWeight,
                          link.iRef, link.iProbe, link.fWeight});
  }
  std::sort(candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.fCost < b.fCost; });
  std::array<uint8_t, kMaxMinutiae> refUsed{}, probeUsed{};
  Pairing result;
  for (const Candidate& c : candidates) {
    if (refUsed[c.iRef] || probeUsed[c.iProbe]) continue;
    refUsed[c.iRef] = probeUsed[c.iProbe] = 1;
    result.pairs.emplace_back(c.iRef, c.iProbe);
    result.fWeight += c.fWeight;
  }
  return result;
}

// The rigid motion that best lays the paired probe minutiae on their template partners.
Alignment Refit(const Features& probe, const Features& ref, const Pairing& pairing) {
  float pcx = 0, pcy = 0, rcx = 0, rcy = 0;
  for (auto [i, j] : pairing.pairs) {
    pcx += probe.minutiae[j].fX;
    pcy += probe.minutiae[j].fY;
    rcx += ref.minutiae[i].fX;
    rcy += ref.minutiae[i].fY;
  }
  const float n = static_cast<float>(pairing.pairs.size());
  pcx /= n, pcy /= n, rcx /= n, rcy /= n;
  float dot = 0, cross = 0;
  for (auto [i, j] : pairing.pairs) {
    const float px = probe.minutiae[j].fX - pcx, py = probe.minutiae[j].fY - pcy;
    const float rx = ref.minutiae[i].fX - rcx, ry = ref.minutiae[i].fY - rcy;
    dot += px * rx + py * ry;
    cross += px * ry - py * rx;
  }
  const float turn = std::atan2(cross, dot);
  const float c = std::cos(turn), s = std::sin(turn);
  return Alignment(turn, (rcx - kCentre) - (c * (pcx - kCentre) - s * (pcy - kCentre)),
                   (rcy - kCentre) - (s * (pcx - kCentre) + c * (pcy - kCentre)));
}

// Rows of one-bit pixels, with room to read 24 bits from any pixel of a row.
constexpr int kRowBytes = kSide / 8 + 3;
using BitRows = std::array<uint8_t, kSide * kRowBytes>;

// The 16 pixels of row y from x on, leftmost in bit 0.
uint32_t Bits16(const BitRows& rows, int x, int y) {
  const uint8_t* p = &rows[y * kRowBytes + x / 8];
  const uint32_t v = p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
  return (v >> (x % 8)) & 0xFFFF;
}

// Share of template pixels whose ridge or valley the aligned probe shows too, over the area
// both prints cover; 0.5 is chance. Each 16 x 16 patch may shift by up to kReach pixels on its
// own, which is what skin distortion does to the ridges between the minutiae.
struct TemplateRidges {
  BitRows want{}, wantCovered{};
  // A block is 8 pixels wide, one byte of a row.
  explicit TemplateRidges(const Features& ref) {
    static_assert(kBlock == 8);
    for (int y = 0; y < kSide; ++y)
      for (int bx = 0; bx < kBlocks; ++bx) {
        if (!ref.foreground[y / kBlock * kBlocks + bx]) continue;
        wantCovered[y * kRowBytes + bx] = 0xFF;
        uint8_t bits = 0;
        for (int i = 0; i < kBlock; ++i)
          bits |= static_cast<uint8_t>((ref.ridges[y * kSide + bx * kBlock + i] & 1) << i);
        want[y * kRowBytes + bx] = bits;
      }
  }
};

// Four rows of a patch in one word, row by row from bit 0.
constexpr int kPatch = 16;
constexpr int kPatchRows = kPatch / 4;
uint64_t Pack4(const uint32_t* pRows) {
  return pRows[0] | static_cast<uint64_t>(pRows[1]) << 16 | static_cast<uint64_t>(pRows[2]) << 32 |
         static_cast<uint64_t>(pRows[3]) << 48;
}

float RidgeAgreement(const Features& probe, const TemplateRidges& ridges, const Alignment& al,
                     int& iSamples) {
  constexpr int kReach = 2;
  // The probe position is stepped in fixed point, 16 bits of fraction.
  constexpr float kOne = 65536.0f;
  const BitRows& want = ridges.want;
  const BitRows& wantCovered = ridges.wantCovered;
  BitRows have{}, haveCovered{};
  const float c = al.Cos(), s = al.Sin();
  const int32_t stepX = static_cast<int32_t>(std::lround(c * kOne));
  const int32_t stepY = static_cast<int32_t>(std::lround(-s * kOne));
  // Only where the patches and their shifts can read.
  constexpr int kFrom = kRidgeMargin - kReach, kTo = kSide - kRidgeMargin + kReach;
  for (int y = kFrom; y < kTo; ++y) {
    // The probe pixel under template pixel (x, y), stepped along the row; half a pixel added
    // so that the whole part rounds.
    const float ry = y - kCentre - al.ShiftY();
    int32_t qx = static_cast<int32_t>(
        std::lround((c * (kFrom - kCentre - al.ShiftX()) + s * ry + kCentre + 0.5f) * kOne));
    int32_t qy = static_cast<int32_t>(
        std::lround((-s * (kFrom - kCentre - al.ShiftX()) + c * ry + kCentre + 0.5f) * kOne));
    // The row is gathered in registers and stored once.
    std::array<uint64_t, kSide / 64> covered{}, ridge{};
    for (int x = kFrom; x < kTo; ++x, qx += stepX, qy += stepY) {
      const int ix = qx >> 16, iy = qy >> 16;
      if (static_cast<unsigned>(ix) >= kSide || static_cast<unsigned>(iy) >= kSide ||
          !probe.foreground[iy / kBlock * kBlocks + ix / kBlock])
        continue;
      covered[x / 64] |= uint64_t{1} << (x % 64);
      ridge[x / 64] |= static_cast<uint64_t>(probe.ridges[iy * kSide + ix]) << (x % 64);
    }
    for (int b = 0; b < kSide / 8; ++b) {
      haveCovered[y * kRowBytes + b] = static_cast<uint8_t>(covered[b / 8] >> (8 * (b % 8)));
      have[y * kRowBytes + b] = static_cast<uint8_t>(ridge[b / 8] >> (8 * (b % 8)));
    }
  }
  int agree = 0;
  iSamples = 0;
  for (int py = kRidgeMargin; py + kPatch <= kSide - kRidgeMargin; py += kPatch) {
    for (int px = kRidgeMargin; px + kPatch <= kSide - kRidgeMargin; px += kPatch) {
      std::array<uint32_t, kPatch> rows, rowsCovered, probeCovered;
      for (int y = 0; y < kPatch; ++y) {
        rows[y] = Bits16(want, px, py + y);
        rowsCovered[y] = Bits16(wantCovered, px, py + y);
        probeCovered[y] = Bits16(haveCovered, px, py + y);
      }
      std::array<uint64_t, kPatchRows> wanted, wantedCovered;
      int samples = 0;
      for (int q = 0; q < kPatchRows; ++q) {
        wanted[q] = Pack4(&rows[4 * q]);
        wantedCovered[q] = Pack4(&rowsCovered[4 * q]);
        samples += Ones64(wantedCovered[q] & Pack4(&probeCovered[4 * q]));
      }
      if (samples < kPatch * kPatch / 4) continue;
      int most = 0;
      for (int dx = -kReach; dx <= kReach; ++dx) {
        std::array<uint32_t, kPatch + 2 * kReach> had, hadCovered;
        for (int y = 0; y < kPatch + 2 * kReach; ++y) {
          had[y] = Bits16(have, px + dx, py + y - kReach);
          hadCovered[y] = Bits16(haveCovered, px + dx, py + y - kReach);
        }
        for (int dy = 0; dy <= 2 * kReach; ++dy) {
          int hits = 0;
          for (int q = 0; q < kPatchRows; ++q)
            hits += Ones64(~(wanted[q] ^ Pack4(&had[4 * q + dy])) & wantedCovered[q] &
                           Pack4(&hadCovered[4 * q + dy]));
          most = std::max(most, hits);
        }
      }
      agree += std::min(most, samples);
      iSamples += samples;
    }
  }
  return iSamples ? static_cast<float>(agree) / iSamples : 0;
}

// The shift that lays probe minutia p on template minutia r once the probe is turned by the
// angle whose cosine and sine are c and s (both relative to the image centre).
void ShiftFor(float c, float s, const Minutia& r, const Minutia& p, float& fShiftX,
              float& fShiftY) {
  const float px = p.fX - kCentre, py = p.fY - kCentre;
  fShiftX = (r.fX - kCentre) - (c * px - s * py);
  fShiftY = (r.fY - kCentre) - (s * px + c * py);
}

// Shift bins: bin b is centred on ShiftOfBin(b); ShiftBinOf is its inverse.
float ShiftBinOf(float fShift) {
  return fShift / kShiftBin + (kShiftBins - 1) / 2.0f;
}
float ShiftOfBin(int iBin) {
  return (static_cast<float>(iBin) - (kShiftBins - 1) / 2.0f) * kShiftBin;
}

// Where one weighted pair puts the probe: the turn between the two minutiae and the shift
// that then lays one on the other.
struct Vote {
  float fTurn, fShiftX, fShiftY, fWeight;
  int iRef, iProbe;
};

// A peak's bin says roughly where its votes lie; the weighted mean of the votes around it
// says it to a pixel, which the pairing tolerance needs at the far side of the window.
Alignment PeakAlignment(const std::vector<Vote>& votes, const Features& ref, const Features& probe,
                        float fTurn, float fShiftX, float fShiftY) {
  std::vector<const Vote*> near;
  float turn = 0, weight = 0;
  for (const Vote& v : votes) {
    if (std::fabs(v.fTurn - fTurn) > kPeakTurnReach || std::fabs(v.fShiftX - fShiftX) > kShiftBin ||
        std::fabs(v.fShiftY - fShiftY) > kShiftBin)
      continue;
    near.push_back(&v);
    turn += v.fWeight * v.fTurn;
    weight += v.fWeight;
  }
  if (weight <= 0) return Alignment(fTurn, fShiftX, fShiftY);
  turn /= weight;
  const float c = std::cos(turn), s = std::sin(turn);
  float sumX = 0, sumY = 0;
  for (const Vote* v : near) {
    float sx, sy;
    ShiftFor(c, s, ref.minutiae[v->iRef], probe.minutiae[v->iProbe], sx, sy);
    sumX += v->fWeight * sx;
    sumY += v->fWeight * sy;
  }
  return Alignment(turn, sumX / weight, sumY / weight);
}
}  // namespace

void WriteTemplate(const Features& f, uint8_t* pTemplate) {
  std::memset(pTemplate, 0, BII_TEMPLATE_MAX_SIZE);
  std::copy(kMagic.begin(), kMagic.end(), pTemplate + kMagicOffset);
  pTemplate[kVersionOffset] = kVersion;
  pTemplate[kCountOffset] = static_cast<uint8_t>(f.iCount);
  pTemplate[kFormOffset] = kFormFull;
  for (size_t b = 0; b < kBlockCount; ++b) {
    if (!f.foreground[b]) continue;
    pTemplate[kMaskOffset + b / 8] |= static_cast<uint8_t>(1 << (b % 8));
    const float theta = f.blockFlow[b];
    const long coarse = std::lround(theta / kPi * kCoarseFlowSteps) % kCoarseFlowSteps;
    pTemplate[kCoarseFlowOffset + b / 2] |= static_cast<uint8_t>(coarse << (4 * (b % 2)));
    pTemplate[kFineFlowOffset + b] = static_cast<uint8_t>(1 + std::lround(theta * 180 / kPi) % 180);
  }
  for (int i = 0; i < f.iCount; ++i) {
    const Minutia& m = f.minutiae[i];
    uint8_t* out = pTemplate + (i < static_cast<int>(kSmallMinutiae)
                                    ? kMinutiaeOffset + i * kMinutiaSize
                                    : kMoreMinutiaeOffset + (i - kSmallMinutiae) * kMinutiaSize);
    out[0] = static_cast<uint8_t>(std::clamp(std::lround(m.fX), 0l, static_cast<long>(kSide - 1)));
    out[1] = static_cast<uint8_t>(std::clamp(std::lround(m.fY), 0l, static_cast<long>(kSide - 1)));
    out[2] = static_cast<uint8_t>(std::lround(m.fAngle / (2 * kPi) * 256) & 0xFF);
    out[3] = static_cast<uint8_t>(
        (m.bFork ? kForkBit : 0) |
        std::clamp(std::lround(m.fQuality * kQualityMask), 0l, static_cast<long>(kQualityMask)));
  }
  for (int y = 0; y < kRidgeSide; ++y)
    for (int x = 0; x < kRidgeSide; ++x)
      if (f.ridges[(y + kRidgeMargin) * kSide + x + kRidgeMargin]) {
        const int bit = y * kRidgeSide + x;
        pTemplate[kRidgeOffset + bit / 8] |= static_cast<uint8_t>(1 << (bit % 8));
      }
}

bool ReadTemplate(const uint8_t* pTemplate, Reference& reference) {
  if (!std::equal(kMagic.begin(), kMagic.end(), pTemplate + kMagicOffset)) return false;
  const uint8_t form = pTemplate[kFormOffset];
  const uint8_t count = pTemplate[kCountOffset];
  if (pTemplate[kVersionOffset] != kVersion || (form != kFormFull && form != kFormSmall) ||
      count > kMaxMinutiae)
    return false;
  const bool full = form == kFormFull;
  reference = Reference{};
  Features& f = reference.features;
  for (size_t b = 0; b < kBlockCount; ++b) {
    f.foreground[b] = (pTemplate[kMaskOffset + b / 8] >> (b % 8)) & 1;
    if (full) {
      const uint8_t code = pTemplate[kFineFlowOffset + b];
      if (code > 180) return false;
      f.blockFlow[b] = code ? (code - 1) * kPi / 180 : 0;
    } else {
      const int coarse = (pTemplate[kCoarseFlowOffset + b / 2] >> (4 * (b % 2))) & 0x0F;
      f.blockFlow[b] = coarse * kPi / kCoarseFlowSteps;
    }
  }
  f.iCount = full ? count : std::min<int>(count, kSmallMinutiae);
  for (int i = 0; i < f.iCount; ++i) {
    const uint8_t* in =
        pTemplate + (i < static_cast<int>(kSmallMinutiae)
                         ? kMinutiaeOffset + i * kMinutiaSize
                         : kMoreMinutiaeOffset + (i - kSmallMinutiae) * kMinutiaSize);
    Minutia& m = f.minutiae[i];
    m.fX = in[0];
    m.fY = in[1];
    m.fAngle = in[2] * (2 * kPi / 256);
    m.bFork = (in[3] & kForkBit) != 0;
    m.fQuality = static_cast<float>(in[3] & kQualityMask) / kQualityMask;
  }
  if (full)
    for (int y = 0; y < kRidgeSide; ++y)
      for (int x = 0; x < kRidgeSide; ++x) {
        const int bit = y * kRidgeSide + x;
        f.ridges[(y + kRidgeMargin) * kSide + x + kRidgeMargin] =
            (pTemplate[kRidgeOffset + bit / 8] >> (bit % 8)) & 1;
      }
  reference.bFine = full;
  return true;
}

Comparison Compare(const Features& probe, const Reference& reference, int iRotationLimit) {
  const Features& ref = reference.features;
  Comparison result;
  if (probe.iCount < 3 || ref.iCount < 3) return result;
  std::vector<Descriptor> probeRings, refRings;
  Describe(probe, FlowMap(probe), probeRings);
  Describe(ref, FlowMap(ref), refRings);
  const float limit = static_cast<float>(iRotationLimit) * kPi / 180;
  // A pair turned further than any searched alignment plus the pairing tolerance (and a bin
  // for the refit) can never be paired: its weight is not worth working out.
  const float reach = limit + kAngleBin + kPairAngle;
  std::vector<float> weights(static_cast<size_t>(ref.iCount) * probe.iCount, 0);
  for (int i = 0; i < ref.iCount; ++i)
    for (int j = 0; j < probe.iCount; ++j)
      if (std::fabs(Fold(ref.minutiae[i].fAngle - probe.minutiae[j].fAngle)) <= reach)
        weights[i * probe.iCount + j] = PairWeight(refRings[i], probeRings[j]);

  std::vector<Link> links;
  for (int j = 0; j < probe.iCount; ++j)
    for (int i = 0; i < ref.iCount; ++i)
      if (const float w = weights[i * probe.iCount + j]; w > 0) links.push_back({i, j, w});

  const int halfTurns = static_cast<int>(std::ceil(limit / kAngleBin)) + 1;
  const int turnBins = 2 * halfTurns + 1;
  std::vector<float> votes(static_cast<size_t>(turnBins) * kShiftBins * kShiftBins, 0);
  const auto at = [&](int t, int x, int y) {
    return (static_cast<size_t>(t) * kShiftBins + y) * kShiftBins + x;
  };
  std::vector<Vote> cast;
  for (int i = 0; i < ref.iCount; ++i) {
    const Minutia& r = ref.minutiae[i];
    for (int j = 0; j < probe.iCount; ++j) {
      const float w = weights[i * probe.iCount + j];
      if (w <= 0) continue;
      const Minutia& p = probe.minutiae[j];
      const float turn = Fold(r.fAngle - p.fAngle);
      if (std::fabs(turn) > limit + kAngleBin / 2) continue;
      float sx, sy;
      ShiftFor(std::cos(turn), std::sin(turn), r, p, sx, sy);
      const int t = static_cast<int>(std::lround(turn / kAngleBin)) + halfTurns;
      // Shared out between the four shift bins around it by nearness, so that a peak's bin
      // says where its votes lie and is not split between two bins.
      const float gx = ShiftBinOf(sx), gy = ShiftBinOf(sy);
      const int x0 = static_cast<int>(std::floor(gx)), y0 = static_cast<int>(std::floor(gy));
      if (x0 < 0 || y0 < 0 || x0 + 1 >= kShiftBins || y0 + 1 >= kShiftBins) continue;
      const float fx = gx - x0, fy = gy - y0;
      votes[at(t, x0, y0)] += w * (1 - fx) * (1 - fy);
      votes[at(t, x0 + 1, y0)] += w * fx * (1 - fy);
      votes[at(t, x0, y0 + 1)] += w * (1 - fx) * fy;
      votes[at(t, x0 + 1, y0 + 1)] += w * fx * fy;
      cast.push_back({turn, sx, sy, w, i, j});
    }
  }
  // Votes of neighbouring turns count half: a turn between two bins splits its votes, and a
  // peak still lies on the bin nearest to it.
  std::vector<float> peaks(votes.size());
  for (int t = 0; t < turnBins; ++t)
    for (int y = 0; y < kShiftBins; ++y)
      for (int x = 0; x < kShiftBins; ++x)
        peaks[at(t, x, y)] =
            votes[at(t, x, y)] + 0.5f * ((t > 0 ? votes[at(t - 1, x, y)] : 0) +
                                         (t + 1 < turnBins ? votes[at(t + 1, x, y)] : 0));
  struct Candidate {
    Alignment al;
    float fMinutiae;
    int iPaired;
  };
  std::vector<Candidate> candidates;
  for (int peak = 0; peak < kPeaks; ++peak) {
    const size_t top =
        static_cast<size_t>(std::max_element(peaks.begin(), peaks.end()) - peaks.begin());
    if (peaks[top] <= 0) break;
    const int bt = static_cast<int>(top / (kShiftBins * kShiftBins));
    const int by = static_cast<int>(top / kShiftBins % kShiftBins);
    const int bx = static_cast<int>(top % kShiftBins);
    Alignment al = PeakAlignment(cast, ref, probe, (bt - halfTurns) * kAngleBin, ShiftOfBin(bx),
                                 ShiftOfBin(by));
    Pairing pairing = Pair(probe, ref, links, al);
    for (int round = 0; round < 2 && pairing.pairs.size() >= 3; ++round) {
      const Alignment refit = Refit(probe, ref, pairing);
      Pairing again = Pair(probe, ref, links, refit);
      if (again.fWeight < pairing.fWeight) break;
      al = refit;
      pairing = std::move(again);
    }
    int refCommon = 0, probeCommon = 0;
    for (int i = 0; i < ref.iCount; ++i) {
      float x, y;
      al.Invert(ref.minutiae[i].fX - kCentre, ref.minutiae[i].fY - kCentre, x, y);
      refCommon += InForeground(probe, x, y);
    }
    for (int j = 0; j < probe.iCount; ++j) {
      float x, y;
      al.Apply(probe.minutiae[j].fX - kCentre, probe.minutiae[j].fY - kCentre, x, y);
      probeCommon += InForeground(ref, x, y);
    }
    const float n = pairing.fWeight;
    const float share = n / std::sqrt(std::max(static_cast<float>(refCommon), kMinCommon) *
                                      std::max(static_cast<float>(probeCommon), kMinCommon));
    candidates.push_back({al, std::min(1.0f, share), static_cast<int>(pairing.pairs.size())});
    // Clear the peak so that the next round looks at another alignment.
    for (int t = std::max(0, bt - 2); t <= std::min(turnBins - 1, bt + 2); ++t)
      for (int y = std::max(0, by - 2); y <= std::min(kShiftBins - 1, by + 2); ++y)
        for (int x = std::max(0, bx - 2); x <= std::min(kShiftBins - 1, bx + 2); ++x)
          peaks[at(t, x, y)] = 0;
  }
  // The ridges are compared under the best alignments only: they cost more than the minutiae.
  std::sort(candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.fMinutiae > b.fMinutiae; });
  float best = 0;
  const std::unique_ptr<TemplateRidges> ridges(reference.bFine ? new TemplateRidges(ref) : nullptr);
  for (size_t k = 0; k < candidates.size(); ++k) {
    // The share unrelated prints reach by chance is taken off, so that the score says how
    // much more than chance the prints share.
    const float chance = reference.bFine ? kMinutiaeChance : kSmallMinutiaeChance;
    float score = std::clamp((candidates[k].fMinutiae - chance) / (1 - chance), 0.0f, 1.0f);
    if (reference.bFine) {
      // Candidates come best minutiae first: once even full ridge agreement could not lift
      // one above the best score, none after it can either.
      if (k >= kRidgeCandidates || (1 - kRidgeWeight) * score + kRidgeWeight <= best) break;
      int samples = 0;
      const float agreement = RidgeAgreement(probe, *ridges, candidates[k].al, samples);
      const float ridges =
          std::clamp((agreement - kRidgeChance) / (kRidgeSure - kRidgeChance), 0.0f, 1.0f) *
          std::min(1.0f, static_cast<float>(samples) / kRidgeSamples);
      score = (1 - kRidgeWeight) * score + kRidgeWeight * ridges;
    }
    if (score > best) {
      best = score;
      result.iPaired = candidates[k].iPaired;
    }
  }
  result.fScore = kTopScore * best;
  return result;
}

}  // namespace bii
