// Blowfish rounds and key schedule.
#include "local/blowfish.h"

#include "shared/little_endian.h"

namespace {

inline uint32_t F(const BlowfishState& s, uint32_t x) {
  return ((s.auiS[0][x >> 24] + s.auiS[1][(x >> 16) & 0xFF]) ^ s.auiS[2][(x >> 8) & 0xFF]) +
         s.auiS[3][x & 0xFF];
}

// Two rounds per step with the halves' roles exchanged, so no swap is needed.
inline void EncipherHalves(const BlowfishState& s, uint32_t& uiLeft, uint32_t& uiRight) {
  uint32_t l = uiLeft, r = uiRight;
  for (int i = 0; i < kBlowfishRounds; i += 2) {
    l ^= s.auiP[i];
    r ^= F(s, l);
    r ^= s.auiP[i + 1];
    l ^= F(s, r);
  }
  uiLeft = r ^ s.auiP[kBlowfishRounds + 1];
  uiRight = l ^ s.auiP[kBlowfishRounds];
}

inline void DecipherHalves(const BlowfishState& s, uint32_t& uiLeft, uint32_t& uiRight) {
  uint32_t l = uiLeft, r = uiRight;
  for (int i = kBlowfishRounds + 1; i > 1; i -= 2) {
    l ^= s.auiP[i];
    r ^= F(s, l);
    r ^= s.auiP[i - 1];
    l ^= F(s, r);
  }
  uiLeft = r ^ s.auiP[0];
  uiRight = l ^ s.auiP[1];
}

template <void (*Cipher)(const BlowfishState&, uint32_t&, uint32_t&)>
void CipherBlocks(const BlowfishState& s, uint8_t* pBlocks, size_t uiBlocks) {
  for (uint8_t* p = pBlocks; p != pBlocks + uiBlocks * kBlowfishBlockSize;
       p += kBlowfishBlockSize) {
    uint32_t uiLeft = LoadU32(p), uiRight = LoadU32(p + 4);
    Cipher(s, uiLeft, uiRight);
    StoreU32(p, uiLeft);
    StoreU32(p + 4, uiRight);
  }
}

}  // namespace

BlowfishState BlowfishKeySchedule(const uint8_t* pKey, size_t uiKeyLength) {
  BlowfishState s;
  for (int i = 0; i < kBlowfishRounds + 2; ++i) s.auiP[i] = kBlowfishInitialP[i];
  for (int b = 0; b < 4; ++b)
    for (int i = 0; i < 256; ++i) s.auiS[b][i] = kBlowfishInitialS[b][i];

  // The key, taken cyclically as big-endian words, goes into the P entries ...
  size_t uiNext = 0;
  for (uint32_t& uiP : s.auiP) {
    uint32_t uiWord = 0;
    for (int k = 0; k < 4; ++k) {
      uiWord = uiWord << 8 | pKey[uiNext];
      uiNext = (uiNext + 1) % uiKeyLength;
    }
    uiP ^= uiWord;
  }
  // ... then an all-zero block, enciphered over and over, replaces P and the S-boxes in pairs.
  uint32_t uiLeft = 0, uiRight = 0;
  for (int i = 0; i < kBlowfishRounds + 2; i += 2) {
    EncipherHalves(s, uiLeft, uiRight);
    s.auiP[i] = uiLeft;
    s.auiP[i + 1] = uiRight;
  }
  for (auto& box : s.auiS) {
    for (int i = 0; i < 256; i += 2) {
      EncipherHalves(s, uiLeft, uiRight);
      box[i] = uiLeft;
      box[i + 1] = uiRight;
    }
  }
  return s;
}

void BlowfishEncipher(const BlowfishState& state, uint8_t* pBlocks, size_t uiBlocks) {
  CipherBlocks<EncipherHalves>(state, pBlocks, uiBlocks);
}

void BlowfishDecipher(const BlowfishState& state, uint8_t* pBlocks, size_t uiBlocks) {
  CipherBlocks<DecipherHalves>(state, pBlocks, uiBlocks);
}
