// The two upsamplers behind the enlarged stream views. They run on every streamed frame, so
// they are single passes in integer arithmetic, with no allocation: each destination row is
// produced once, left to right, rows in order. The inner loops work on eight or sixteen
// pixels at a time through the compiler's vector types (plain SSE2 on x86-64, no byte
// shuffles), with a scalar loop for the columns that remain.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "local/image_ops.h"

// The lanes are read and written as bytes in little-endian order.
static_assert(std::endian::native == std::endian::little);

namespace {

typedef uint8_t U8x16 __attribute__((vector_size(16)));
typedef uint16_t U16x8 __attribute__((vector_size(16)));
typedef int16_t I16x8 __attribute__((vector_size(16)));
typedef uint32_t U32x4 __attribute__((vector_size(16)));
typedef uint64_t U64x2 __attribute__((vector_size(16)));

template <typename V>
V Load(const void* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename V>
void Store(void* p, V v) {
  std::memcpy(p, &v, sizeof v);
}

// Eight pixels as 16-bit lanes: interleaved with zero bytes.
U16x8 Widen8(const uint8_t* p) {
  const U8x16 v = U8x16(U64x2{Load<uint64_t>(p), 0});
  return U16x8(
      __builtin_shufflevector(v, U8x16{}, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
}
// All bits set in the lanes above 255 (the sums stay far below 32768).
U16x8 Above255(U16x8 v) {
  return U16x8(I16x8(v) > 255);
}
uint8_t Saturate(unsigned v) {
  return static_cast<uint8_t>(std::min(v, 255u));
}

// ---- By 2 -------------------------------------------------------------------------------

// One destination row from its source row `pNear` and the neighbouring row `pFar`: the three
// rows of the mix are the near row twice and the far one once. The end pixels are the near
// row's own; between them each pair of neighbours k, k + 1 gives two pixels weighted 2:1 and
// 1:2, over 8.
void DoubleRow(const uint8_t* pFar, const uint8_t* pNear, size_t n, uint8_t* pOut) {
  pOut[0] = pNear[0];
  size_t k = 0;
  for (; k + 9 <= n; k += 8) {
    const U16x8 s0 = Widen8(pFar + k) + 2 * Widen8(pNear + k);
    const U16x8 s1 = Widen8(pFar + k + 1) + 2 * Widen8(pNear + k + 1);
    const U16x8 left = (2 * s0 + s1) >> 3;
    const U16x8 right = (s0 + 2 * s1) >> 3;
    // Little-endian lanes put `left` before `right`: 16 pixels from 2k + 1 on. A lane above
    // 255 is or'ed to all ones, so its byte is 255.
    Store(pOut + 2 * k + 1,
          U16x8(((left | Above255(left)) & 0xFF) | (right | Above255(right)) << 8));
  }
  for (; k + 1 < n; ++k) {
    const unsigned s0 = pFar[k] + 2u * pNear[k];
    const unsigned s1 = pFar[k + 1] + 2u * pNear[k + 1];
    pOut[2 * k + 1] = Saturate((2 * s0 + s1) >> 3);
    pOut[2 * k + 2] = Saturate((s0 + 2 * s1) >> 3);
  }
  pOut[2 * n - 1] = pNear[n - 1];
}

// ---- By 3/2 ------------------------------------------------------------------------------

// Column pairs (2 x 2 blocks) per pass; the vertical mixes of one pass live on the stack.
constexpr size_t kBlocksPerPass = 128;

// One destination row from two source rows with weights out of 4 (1:3, 2:2 or 3:1). Each
// pass first mixes the rows vertically into the even and odd columns of its stretch, then
// turns every pair of columns into three pixels, mixing horizontally with the same weights.
void Row150(const uint8_t* pA, uint16_t uiWeightA, const uint8_t* pB, uint16_t uiWeightB, size_t n,
            uint8_t* pOut) {
  // even[t] is column c0 + 2t and even[blocks] the column right of the stretch; odd[0] is the
  // column left of the stretch and odd[1 + t] column c0 + 2t + 1. The border columns repeat.
  uint16_t auiEven[kBlocksPerPass + 1];
  uint16_t auiOdd[kBlocksPerPass + 1];
  const auto mix = [&](size_t c) {
    return static_cast<uint16_t>(uiWeightA * pA[c] + uiWeightB * pB[c]);
  };
  const U16x8 weightA = U16x8{} + uiWeightA;
  const U16x8 weightB = U16x8{} + uiWeightB;

  for (size_t c0 = 0; c0 < n; c0 += 2 * kBlocksPerPass) {
    const size_t uiBlocks = std::min(kBlocksPerPass, (n - c0) / 2);
    const size_t c1 = c0 + 2 * uiBlocks;
    auiOdd[0] = mix(c0 == 0 ? 0 : c0 - 1);
    size_t t = 0;
    for (; t + 8 <= uiBlocks; t += 8) {
      // Sixteen pixels as eight 16-bit lanes: the even column in the low byte of each.
      const U16x8 a = Load<U16x8>(pA + c0 + 2 * t);
      const U16x8 b = Load<U16x8>(pB + c0 + 2 * t);
      Store(auiEven + t, U16x8(weightA * (a & 0xFF) + weightB * (b & 0xFF)));
      Store(auiOdd + 1 + t, U16x8(weightA * (a >> 8) + weightB * (b >> 8)));
    }
    for (; t < uiBlocks; ++t) {
      auiEven[t] = mix(c0 + 2 * t);
      auiOdd[1 + t] = mix(c0 + 2 * t + 1);
    }
    auiEven[uiBlocks] = mix(c1 == n ? n - 1 : c1);

    // The weights of a destination pixel add up to 16; dividing by 14 brightens by 16/14.
    t = 0;
    for (; t + 8 <= uiBlocks; t += 8) {
      const U16x8 left = Load<U16x8>(auiEven + t);
      const U16x8 right = Load<U16x8>(auiOdd + 1 + t);
      const U16x8 before = Load<U16x8>(auiOdd + t);
      const U16x8 after = Load<U16x8>(auiEven + t + 1);
      U16x8 p0 = (before + 3 * left) / 14;
      U16x8 p1 = (2 * left + 2 * right) / 14;
      U16x8 p2 = (3 * right + after) / 14;
      // Saturated as by 2; the bits above p2's byte are masked off below.
      p0 = (p0 | Above255(p0)) & 0xFF;
      p1 |= Above255(p1);
      p2 |= Above255(p2);
      // Each block's three pixels as one 24-bit lane value p0 | p1 << 8 | p2 << 16 ...
      const U16x8 p01 = p0 | p1 << 8;
      U64x2 q0 = U64x2(U32x4(__builtin_shufflevector(p01, p2, 0, 8, 1, 9, 2, 10, 3, 11)));
      U64x2 q1 = U64x2(U32x4(__builtin_shufflevector(p01, p2, 4, 12, 5, 13, 6, 14, 7, 15)));
      // ... two blocks side by side in each 64-bit lane (48 bits) ...
      q0 = (q0 & 0xFFFFFF) | ((q0 >> 8) & 0xFFFFFF000000);
      q1 = (q1 & 0xFFFFFF) | ((q1 >> 8) & 0xFFFFFF000000);
      // ... and the four lanes' 6 bytes each joined into 24 bytes.
      const uint64_t uiB01 = q0[0], uiB23 = q0[1], uiB45 = q1[0], uiB67 = q1[1];
      Store(pOut, uiB01 | uiB23 << 48);
      Store(pOut + 8, uiB23 >> 16 | uiB45 << 32);
      Store(pOut + 16, uiB45 >> 32 | uiB67 << 16);
      pOut += 24;
    }
    for (; t < uiBlocks; ++t) {
      const unsigned uiLeft = auiEven[t], uiRight = auiOdd[1 + t];
      pOut[0] = Saturate((auiOdd[t] + 3 * uiLeft) / 14);
      pOut[1] = Saturate((2 * uiLeft + 2 * uiRight) / 14);
      pOut[2] = Saturate((3 * uiRight + auiEven[t + 1]) / 14);
      pOut += 3;
    }
  }
}

}  // namespace

WGResult Upsample150(const uint8_t* pSource, uint16_t uiSide, uint8_t* pDest) {
  const size_t n = uiSide;
  if (n % 2 != 0) return WG_BAD_ARGUMENT;
  const size_t m = 3 * n / 2;
  // Each 2 x 2 block of the source becomes a 3 x 3 block, mixing the rows and columns around
  // it; the border rows and columns repeat.
  for (size_t i = 0; i < n; i += 2) {
    const uint8_t* pAbove = pSource + (i == 0 ? 0 : i - 1) * n;
    const uint8_t* pUpper = pSource + i * n;
    const uint8_t* pLower = pUpper + n;
    const uint8_t* pBelow = pSource + (i + 2 == n ? n - 1 : i + 2) * n;
    Row150(pAbove, 1, pUpper, 3, n, pDest);
    Row150(pUpper, 2, pLower, 2, n, pDest + m);
    Row150(pLower, 3, pBelow, 1, n, pDest + 2 * m);
    pDest += 3 * m;
  }
  return WG_OK;
}

WGResult Upsample200(const uint8_t* pSource, uint16_t uiSide, uint8_t* pDest) {
  const size_t n = uiSide;
  // Destination rows 2k and 2k + 1 both centre on source row k; the first leans on the row
  // above, the second on the row below (the border rows lean on themselves).
  for (size_t k = 0; k < n; ++k) {
    const uint8_t* pRow = pSource + k * n;
    const uint8_t* pAbove = pSource + (k == 0 ? 0 : k - 1) * n;
    const uint8_t* pBelow = pSource + (k + 1 == n ? k : k + 1) * n;
    DoubleRow(pAbove, pRow, n, pDest);
    DoubleRow(pBelow, pRow, n, pDest + 2 * n);
    pDest += 4 * n;
  }
  return WG_OK;
}
