// Feature extraction, kept to a few passes over the image so that a probe can be extracted and
// compared well inside a millisecond: gradients give the ridge flow, a filter along the flow
// cleans the ridges, thinning gives one-pixel ridge lines, and the crossing number on those
// lines finds the endings and forks.
#include "bii/features.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

namespace bii {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr int kBitmapSide = BII_IMAGE_SIDE;
constexpr int kBorder = (kBitmapSide - kSide) / 2;

// The smoothing filter's reach: 3 pixels along the ridge, 1 across.
constexpr int kPad = 4;
constexpr int kPadded = kSide + 2 * kPad;
constexpr int kFlowBins = 16;
constexpr int kAlongTaps = 7;
constexpr int kAcrossTaps = 3;
constexpr int kFilterTaps = kAlongTaps * kAcrossTaps;
// Cells filtered together.
constexpr int kGroup = 4;
// The filter's sums for the four pixels of a cell row, one vector register.
using CellSum = float __attribute__((vector_size(kCell * sizeof(float))));
constexpr std::array<float, kAlongTaps> kAlongWeights = {1, 2, 3, 4, 3, 2, 1};
constexpr std::array<float, kAcrossTaps> kAcrossWeights = {1, 2, 1};

// Foreground: enough contrast, and ridges that run one way (noise has no direction).
constexpr float kMinBlockDeviation = 14.0f;
constexpr float kMinBlockCoherence = 0.35f;
// A ridge traced for fewer steps than this from an ending is a spur or a speck.
constexpr int kTraceSteps = 7;
constexpr int kMinTraceSteps = 5;
// Closer than this, two minutiae are one flaw of the ridge line (a spur, a bridge, a hole).
constexpr float kFlawDistance = 6.0f;
// Two endings this close that face each other are the two sides of a broken ridge.
constexpr float kBreakDistance = 11.0f;

struct Tap {
  int iOffset;
  float fWeight;
};

struct FilterBank {
  std::array<std::array<Tap, kFilterTaps>, kFlowBins> taps;
  FilterBank() {
    for (int b = 0; b < kFlowBins; ++b) {
      const float theta = kPi * b / kFlowBins;
      const float c = std::cos(theta), s = std::sin(theta);
      float total = 0;
      int n = 0;
      for (int i = 0; i < kAlongTaps; ++i) {
        for (int j = 0; j < kAcrossTaps; ++j) {
          const float along = static_cast<float>(i - kAlongTaps / 2);
          const float across = static_cast<float>(j - kAcrossTaps / 2);
          const int dx = static_cast<int>(std::lround(along * c - across * s));
          const int dy = static_cast<int>(std::lround(along * s + across * c));
          const float w = kAlongWeights[i] * kAcrossWeights[j];
          taps[b][n++] = {dy * kPadded + dx, w};
          total += w;
        }
      }
      for (Tap& t : taps[b]) t.fWeight /= total;
    }
  }
};

// Made once, read only: safe to share between threads.
const FilterBank& Filters() {
  static const FilterBank bank;
  return bank;
}

// The local mean reaches this far each way; near the image edge its window is cut off, so
// it is scaled by the inverse of however many pixels it holds (a product is much cheaper than
// a quotient per pixel).
constexpr int kMeanReach = 4;
constexpr int kMeanSide = 2 * kMeanReach + 1;
struct MeanScale {
  std::array<float, kMeanSide * kMeanSide + 1> inverse{};
  MeanScale() {
    for (size_t n = 1; n < inverse.size(); ++n) inverse[n] = 1.0f / static_cast<float>(n);
  }
};

const MeanScale& MeanScales() {
  static const MeanScale scale;
  return scale;
}

// Crossing number of each neighbourhood code: the number of ridge runs around a pixel.
struct CrossingTable {
  std::array<uint8_t, 256> crossings{};
  constexpr CrossingTable() {
    for (int code = 0; code < 256; ++code) {
      int changes = 0;
      for (int i = 0; i < 8; ++i) changes += ((code >> i) & 1) != ((code >> ((i + 1) % 8)) & 1);
      crossings[code] = static_cast<uint8_t>(changes / 2);
    }
  }
};
constexpr CrossingTable kCrossings;

// One image row as one bit per pixel (bit x for column x), so that thinning works on a whole row
// at once.
using BitRow = unsigned __int128;
static_assert(sizeof(BitRow) * 8 == kSide);

// Adds the one-bit numbers of `bits` to the bit-sliced counters `count` (bit k of count[i] is
// bit i of pixel k's total).
void CountInto(BitRow bits, std::array<BitRow, 4>& count) {
  for (BitRow& digit : count) {
    const BitRow carry = digit & bits;
    digit ^= bits;
    bits = carry;
  }
}

// One sub-iteration of Zhang and Suen's thinning on all pixels at once: a pixel goes when it
// has 2 to 6 neighbours, exactly one rise from background to ridge around it (north first,
// clockwise), and pass 0 finds east or south or both north and west empty, pass 1 west or north
// or both south and east. Returns whether any pixel went.
bool ThinPass(std::array<BitRow, kSide>& rows, int iPass) {
  std::array<BitRow, kSide> doomed;
  BitRow any = 0;
  for (int y = 0; y < kSide; ++y) {
    const BitRow up = y > 0 ? rows[y - 1] : 0, mid = rows[y],
                 down = y + 1 < kSide ? rows[y + 1] : 0;
    // Neighbour i of each pixel, north first, clockwise; bit x holds column x's neighbour.
    const std::array<BitRow, 8> p = {up,   up >> 1,   mid >> 1, down >> 1,
                                     down, down << 1, mid << 1, up << 1};
    std::array<BitRow, 4> neighbours{};
    BitRow oneRise = 0, moreRises = 0;
    for (int i = 0; i < 8; ++i) {
      CountInto(p[i], neighbours);
      const BitRow rise = ~p[i] & p[(i + 1) % 8];
      moreRises |= oneRise & rise;
      oneRise |= rise;
    }
    const BitRow shape = ~neighbours[3] & (neighbours[1] | neighbours[2]) &
                         ~(neighbours[0] & neighbours[1] & neighbours[2]) & oneRise & ~moreRises;
    const BitRow open = iPass == 0 ? ~(p[0] & p[2] & p[4]) & ~(p[2] & p[4] & p[6])
                                   : ~(p[0] & p[2] & p[6]) & ~(p[0] & p[4] & p[6]);
    doomed[y] = mid & shape & open;
    any |= doomed[y];
  }
  for (int y = 0; y < kSide; ++y) rows[y] &= ~doomed[y];
  return any != 0;
}

// Neighbour offsets in a padded grid, north first, clockwise.
constexpr std::array<int, 8> kNeighbourX = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr std::array<int, 8> kNeighbourY = {-1, -1, 0, 1, 1, 1, 0, -1};

struct Work {
  std::array<float, kSide * kSide> image;
  std::array<float, (kSide + 1) * (kSide + 1)> integral;
  std::array<float, kPadded * kPadded> signal;
  std::array<uint8_t, kPadded * kPadded> skeleton;
  std::array<BitRow, kSide> skeletonRows;
  std::array<float, kCells * kCells> cellA, cellB, cellE, coherence;
};

int NeighbourCode(const uint8_t* p) {
  int code = 0;
  for (int i = 0; i < 8; ++i) code |= (p[kNeighbourY[i] * kPadded + kNeighbourX[i]] != 0) << i;
  return code;
}

struct TraceEnd {
  int iX, iY, iSteps;
};

// Follows a ridge line from (x0, y0) through its neighbour (x1, y1) until it ends, forks or
// has gone kTraceSteps; `avoid` are pixels it must not step on (the other branches' starts).
TraceEnd TraceRidge(const uint8_t* skel, int x0, int y0, int x1, int y1,
                    const std::array<int, 6>& avoid, int iAvoid) {
  int px = x0, py = y0, x = x1, y = y1, steps = 1;
  while (steps < kTraceSteps) {
    int nx = 0, ny = 0, found = 0;
    for (int i = 0; i < 8; ++i) {
      const int cx = x + kNeighbourX[i], cy = y + kNeighbourY[i];
      if (!skel[(cy + kPad) * kPadded + cx + kPad]) continue;
      if ((cx == px && cy == py) || (cx == x0 && cy == y0)) continue;
      // Never cut a corner back next to where we came from.
      if (std::abs(cx - px) <= 1 && std::abs(cy - py) <= 1) continue;
      bool blocked = false;
      for (int a = 0; a < iAvoid; a += 2) blocked |= cx == avoid[a] && cy == avoid[a + 1];
      if (blocked) continue;
      nx = cx;
      ny = cy;
      ++found;
    }
    if (found != 1) break;
    px = x;
    py = y;
    x = nx;
    y = ny;
    ++steps;
  }
  return {x, y, steps};
}

float AngleGap(float a, float b) {
  float d = std::fmod(std::fabs(a - b), 2 * kPi);
  return d > kPi ? 2 * kPi - d : d;
}

// Sums over the 3 x 3 and the 5 x 5 cells around each cell, zero beyond the image.
struct BoxSums {
  std::array<float, kCells * kCells> near, wide;
};

BoxSums SumAround(const std::array<float, kCells * kCells>& cells) {
  std::array<float, kCells * kCells> rows3{}, rows5{};
  for (int cy = 0; cy < kCells; ++cy)
    for (int cx = 0; cx < kCells; ++cx) {
      float s3 = 0, s5 = 0;
      for (int dx = -2; dx <= 2; ++dx) {
        const int x = cx + dx;
        if (x < 0 || x >= kCells) continue;
        s5 += cells[cy * kCells + x];
        if (std::abs(dx) <= 1) s3 += cells[cy * kCells + x];
      }
      rows3[cy * kCells + cx] = s3;
      rows5[cy * kCells + cx] = s5;
    }
  BoxSums sums{};
  for (int cy = 0; cy < kCells; ++cy)
    for (int dy = -2; dy <= 2; ++dy) {
      const int y = cy + dy;
      if (y < 0 || y >= kCells) continue;
      for (int cx = 0; cx < kCells; ++cx) {
        sums.wide[cy * kCells + cx] += rows5[y * kCells + cx];
        if (std::abs(dy) <= 1) sums.near[cy * kCells + cx] += rows3[y * kCells + cx];
      }
    }
  return sums;
}

void FlowAndForeground(Work& w, Features& f) {
  // Gradients summed per 4 x 4 cell as the doubled-angle tensor; a row of gradients first,
  // so that the sums per cell do not wait on each other.
  w.cellA.fill(0);
  w.cellB.fill(0);
  w.cellE.fill(0);
  for (int y = 1; y < kSide - 1; ++y) {
    const float* r0 = &w.image[(y - 1) * kSide];
    const float* r1 = r0 + kSide;
    const float* r2 = r1 + kSide;
    std::array<float, kSide> ta{}, tb{}, te{};
    for (int x = 1; x < kSide - 1; ++x) {
      const float gx =
          (r0[x + 1] + 2 * r1[x + 1] + r2[x + 1]) - (r0[x - 1] + 2 * r1[x - 1] + r2[x - 1]);
      const float gy = (r2[x - 1] + 2 * r2[x] + r2[x + 1]) - (r0[x - 1] + 2 * r0[x] + r0[x + 1]);
      ta[x] = gx * gx - gy * gy;
      tb[x] = 2 * gx * gy;
      te[x] = gx * gx + gy * gy;
    }
    const int row = (y / kCell) * kCells;
    for (int cx = 0; cx < kCells; ++cx) {
      const int x = cx * kCell;
      w.cellA[row + cx] += (ta[x] + ta[x + 1]) + (ta[x + 2] + ta[x + 3]);
      w.cellB[row + cx] += (tb[x] + tb[x + 1]) + (tb[x + 2] + tb[x + 3]);
      w.cellE[row + cx] += (te[x] + te[x + 1]) + (te[x + 2] + te[x + 3]);
    }
  }
  // Coherence over 3 x 3 cells, direction over 5 x 5 cells (20 pixels, about four ridges):
  // sums along the rows, then down the columns.
  const BoxSums a = SumAround(w.cellA), b = SumAround(w.cellB), e = SumAround(w.cellE);
  // The doubled ridge direction as a unit vector, for the block flow.
  std::array<float, kCells * kCells> doubledC, doubledS;
  for (int c = 0; c < kCells * kCells; ++c) {
    w.coherence[c] =
        e.near[c] > 0 ? std::sqrt(a.near[c] * a.near[c] + b.near[c] * b.near[c]) / e.near[c] : 0;
    // The gradient runs across the ridges; the ridge direction is a quarter turn on.
    float theta = 0.5f * std::atan2(b.wide[c], a.wide[c]) + kPi / 2;
    if (theta >= kPi) theta -= kPi;
    f.flow[c] = theta;
    const float r = std::sqrt(a.wide[c] * a.wide[c] + b.wide[c] * b.wide[c]);
    doubledC[c] = r > 0 ? -a.wide[c] / r : -1;
    doubledS[c] = r > 0 ? -b.wide[c] / r : 0;
  }
  // Blocks of 8 x 8 pixels: contrast and coherence.
  std::array<uint8_t, kBlocks * kBlocks> raw{};
  for (int by = 0; by < kBlocks; ++by) {
    for (int bx = 0; bx < kBlocks; ++bx) {
      float sum = 0, sum2 = 0;
      for (int y = by * kBlock; y < (by + 1) * kBlock; ++y)
        for (int x = bx * kBlock; x < (bx + 1) * kBlock; ++x) {
          sum += w.image[y * kSide + x];
          sum2 += w.image[y * kSide + x] * w.image[y * kSide + x];
        }
      const float n = kBlock * kBlock;
      const float deviation = std::sqrt(std::max(0.0f, sum2 / n - (sum / n) * (sum / n)));
      float coh = 0;
      for (int cy = 2 * by; cy < 2 * by + 2; ++cy)
        for (int cx = 2 * bx; cx < 2 * bx + 2; ++cx) coh += w.coherence[cy * kCells + cx] / 4;
      raw[by * kBlocks + bx] = deviation > kMinBlockDeviation && coh > kMinBlockCoherence;
    }
  }
  // Specks of foreground go, small holes are filled.
  for (int by = 0; by < kBlocks; ++by) {
    for (int bx = 0; bx < kBlocks; ++bx) {
      int around = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int x = bx + dx, y = by + dy;
          if ((dx || dy) && x >= 0 && y >= 0 && x < kBlocks && y < kBlocks)
            around += raw[y * kBlocks + x];
        }
      const uint8_t self = raw[by * kBlocks + bx];
      f.foreground[by * kBlocks + bx] = self ? around >= 3 : around >= 7;
    }
  }
  for (int c = 0; c < kCells * kCells; ++c)
    f.flowValid[c] = f.foreground[(c / kCells / 2) * kBlocks + (c % kCells) / 2];
  for (int by = 0; by < kBlocks; ++by) {
    for (int bx = 0; bx < kBlocks; ++bx) {
      float sumC = 0, sumS = 0;
      for (int cy = 2 * by; cy < 2 * by + 2; ++cy)
        for (int cx = 2 * bx; cx < 2 * bx + 2; ++cx) {
          sumC += doubledC[cy * kCells + cx];
          sumS += doubledS[cy * kCells + cx];
        }
      float theta = 0.5f * std::atan2(sumS, sumC);
      if (theta < 0) theta += kPi;
      f.blockFlow[by * kBlocks + bx] = theta;
    }
  }
}

// True when the pixel lies well inside the print: minutiae near the edge of the contact or of
// the window are mostly where ridge lines are cut off.
bool Inside(const Features& f, int x, int y) {
  const int bx = x / kBlock, by = y / kBlock;
  if (x < kBlock || y < kBlock || x >= kSide - kBlock || y >= kSide - kBlock) return false;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const int nx = bx + dx, ny = by + dy;
      if (nx < 0 || ny < 0 || nx >= kBlocks || ny >= kBlocks) return false;
      if (!f.foreground[ny * kBlocks + nx]) return false;
    }
  return true;
}

void EnhanceAndThin(Work& w, Features& f) {
  // Local mean over 9 x 9 pixels, about two ridge periods, taken out so that gain and wetness
  // changes do not move the ridge edges.
  for (int x = 0; x <= kSide; ++x) w.integral[x] = 0;
  for (int y = 0; y < kSide; ++y) {
    float row = 0;
    w.integral[(y + 1) * (kSide + 1)] = 0;
    for (int x = 0; x < kSide; ++x) {
      row += w.image[y * kSide + x];
      w.integral[(y + 1) * (kSide + 1) + x + 1] = w.integral[y * (kSide + 1) + x + 1] + row;
    }
  }
  w.signal.fill(0);
  const MeanScale& scale = MeanScales();
  for (int y = 0; y < kSide; ++y) {
    const int y0 = std::max(0, y - kMeanReach), y1 = std::min(kSide, y + kMeanReach + 1);
    for (int x = 0; x < kSide; ++x) {
      const int x0 = std::max(0, x - kMeanReach), x1 = std::min(kSide, x + kMeanReach + 1);
      const float box = w.integral[y1 * (kSide + 1) + x1] - w.integral[y0 * (kSide + 1) + x1] -
                        w.integral[y1 * (kSide + 1) + x0] + w.integral[y0 * (kSide + 1) + x0];
      w.signal[(y + kPad) * kPadded + x + kPad] =
          w.image[y * kSide + x] - box * scale.inverse[(y1 - y0) * (x1 - x0)];
    }
  }
  const FilterBank& bank = Filters();
  std::array<uint8_t, kCells * kCells> bins;
  for (int c = 0; c < kCells * kCells; ++c)
    bins[c] =
        static_cast<uint8_t>(static_cast<int>(f.flow[c] / kPi * kFlowBins + 0.5f) % kFlowBins);
  std::array<BitRow, kSide> rows{};
  for (int y = 0; y < kSide; ++y) {
    // The four pixels of a cell share its filter, so they are filtered side by side, and four
    // foreground cells of the row at once, so that their sums do not wait for each other.
    std::array<int, kCells> cells;
    int n = 0;
    for (int x0 = 0; x0 < kSide; x0 += kCell)
      if (f.foreground[(y / kBlock) * kBlocks + x0 / kBlock]) cells[n++] = x0;
    for (int g = 0; g < n; g += kGroup) {
      std::array<const Tap*, kGroup> taps;
      std::array<const float*, kGroup> at;
      // A short last group repeats its last cell.
      for (int k = 0; k < kGroup; ++k) {
        const int x0 = cells[std::min(g + k, n - 1)];
        taps[k] = bank.taps[bins[(y / kCell) * kCells + x0 / kCell]].data();
        at[k] = &w.signal[(y + kPad) * kPadded + x0 + kPad];
      }
      std::array<CellSum, kGroup> acc{};
      for (int t = 0; t < kFilterTaps; ++t)
        for (int k = 0; k < kGroup; ++k) {
          CellSum v;
          std::memcpy(&v, at[k] + taps[k][t].iOffset, sizeof v);
          acc[k] += taps[k][t].fWeight * v;
        }
      // Ridges are dark. Written without a branch: ridge or valley is a coin toss per pixel.
      for (int k = 0; k < kGroup && g + k < n; ++k) {
        const int x0 = cells[g + k];
        unsigned bits = 0;
        for (int i = 0; i < kCell; ++i) {
          const unsigned ridge = acc[k][i] < 0;
          f.ridges[y * kSide + x0 + i] = static_cast<uint8_t>(ridge);
          bits |= ridge << i;
        }
        rows[y] |= BitRow{bits} << x0;
      }
    }
  }
  for (bool changed = true; changed;) {
    changed = ThinPass(rows, 0);
    changed |= ThinPass(rows, 1);
  }
  w.skeleton.fill(0);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x)
      w.skeleton[(y + kPad) * kPadded + x + kPad] = static_cast<uint8_t>((rows[y] >> x) & 1);
  w.skeletonRows = rows;
}

void FindMinutiae(const Work& w, Features& f) {
  std::vector<Minutia> found;
  const uint8_t* skel = w.skeleton.data();
  // Only the skeleton's pixels are visited, a row's set bits one after the other: most pixels
  // are not on it, and asking each would cost a guess per pixel.
  for (int y = 0; y < kSide; ++y) {
    for (int word = 0; word < kSide / 64; ++word) {
      for (uint64_t bits = static_cast<uint64_t>(w.skeletonRows[y] >> (64 * word)); bits;
           bits &= bits - 1) {
        const int x = 64 * word + __builtin_ctzll(bits);
        const int at = (y + kPad) * kPadded + x + kPad;
        const int code = NeighbourCode(&skel[at]);
        const int crossings = kCrossings.crossings[code];
        if ((crossings != 1 && crossings != 3) || !Inside(f, x, y)) continue;
        // One start pixel per branch: the straight neighbour of a run if it has one.
        std::array<int, 6> starts{};
        int n = 0;
        for (int i = 0; i < 8 && n < 6; ++i) {
          if (!((code >> i) & 1) || ((code >> ((i + 7) % 8)) & 1)) continue;  // run start
          int pick = i;
          for (int j = i; (code >> (j % 8)) & 1 && j < i + 8; ++j)
            if ((j % 8) % 2 == 0) {
              pick = j % 8;
              break;
            }
          starts[n++] = x + kNeighbourX[pick];
          starts[n++] = y + kNeighbourY[pick];
        }
        if (n != 2 * crossings) continue;
        Minutia m;
        m.fX = static_cast<float>(x);
        m.fY = static_cast<float>(y);
        m.bFork = crossings == 3;
        if (!m.bFork) {
          const TraceEnd end = TraceRidge(skel, x, y, starts[0], starts[1], starts, 0);
          if (end.iSteps < kMinTraceSteps) continue;
          m.fAngle = std::atan2(static_cast<float>(y - end.iY), static_cast<float>(x - end.iX));
        } else {
          float angles[3];
          for (int b = 0; b < 3; ++b) {
            const TraceEnd end =
                TraceRidge(skel, x, y, starts[2 * b], starts[2 * b + 1], starts, 6);
            angles[b] = std::atan2(static_cast<float>(end.iY - y), static_cast<float>(end.iX - x));
          }
          // The two prongs leave side by side; the stem is the branch on its own.
          int stem = 0;
          float best = 1e9f;
          for (int b = 0; b < 3; ++b) {
            const float prongs = AngleGap(angles[(b + 1) % 3], angles[(b + 2) % 3]);
            if (prongs < best) {
              best = prongs;
              stem = b;
            }
          }
          m.fAngle = angles[stem];
        }
        // The traced line is a few pixels long and jagged; the flow is smoother, the trace only
        // says which way along it.
        const int cell = (y / kCell) * kCells + x / kCell;
        const float flow = f.flow[cell];
        m.fAngle = AngleGap(m.fAngle, flow) <= kPi / 2 ? flow : flow + kPi;
        m.fQuality = w.coherence[cell];
        found.push_back(m);
      }
    }
  }
  std::vector<uint8_t> flawed(found.size(), 0);
  for (size_t i = 0; i < found.size(); ++i) {
    for (size_t j = i + 1; j < found.size(); ++j) {
      const float dx = found[i].fX - found[j].fX, dy = found[i].fY - found[j].fY;
      const float d2 = dx * dx + dy * dy;
      const bool flaw = d2 < kFlawDistance * kFlawDistance;
      const bool gap = !found[i].bFork && !found[j].bFork && d2 < kBreakDistance * kBreakDistance &&
                       AngleGap(found[i].fAngle, found[j].fAngle) > 2 * kPi / 3;
      if (flaw || gap) flawed[i] = flawed[j] = 1;
    }
  }
  std::vector<Minutia> kept;
  for (size_t i = 0; i < found.size(); ++i)
    if (!flawed[i]) kept.push_back(found[i]);
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Minutia& a, const Minutia& b) { return a.fQuality > b.fQuality; });
  f.iCount = static_cast<int>(std::min(kept.size(), f.minutiae.size()));
  std::copy_n(kept.begin(), f.iCount, f.minutiae.begin());
}

}  // namespace

void ExtractFeatures(const uint8_t* pBitmap, Features& features) {
  // Every part of the work area is written before it is read; zeroing it would cost more
  // than a quarter of the extraction.
  std::unique_ptr<Work> work(new Work);
  for (int y = 0; y < kSide; ++y) {
    const uint8_t* row = pBitmap + (kBorder + kSide - 1 - y) * kBitmapSide + kBorder;
    for (int x = 0; x < kSide; ++x) work->image[y * kSide + x] = row[x];
  }
  features = Features{};
  FlowAndForeground(*work, features);
  EnhanceAndThin(*work, features);
  FindMinutiae(*work, features);

  int blocks = 0;
  float coherence = 0;
  for (int c = 0; c < kCells * kCells; ++c)
    if (features.flowValid[c]) {
      ++blocks;
      coherence += work->coherence[c];
    }
  const float share = static_cast<float>(blocks) / (kCells * kCells);
  const float meanCoherence = blocks ? coherence / blocks : 0;
  features.fClarity = std::min(1.0f, share / 0.4f) * std::min(1.0f, meanCoherence / 0.55f);
  features.fRichness = std::min(1.0f, features.iCount / 30.0f);
}

}  // namespace bii
