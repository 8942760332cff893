// The Blowfish block cipher (16 rounds, as published) on 8-byte blocks, electronic-codebook
// fashion. The kit reads each half of a block as a little-endian word, unlike the published
// test vectors, which read them big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kBlowfishBlockSize = 8;
inline constexpr int kBlowfishRounds = 16;

// The published initial tables: the fractional hexadecimal digits of pi, P first, then the
// four S-boxes.
extern const uint32_t kBlowfishInitialP[kBlowfishRounds + 2];
extern const uint32_t kBlowfishInitialS[4][256];

struct BlowfishState {
  uint32_t auiP[kBlowfishRounds + 2];
  uint32_t auiS[4][256];
};

// The state for `uiKeyLength` (1 to 56) key bytes: the initial tables rewritten by the key
// schedule.
BlowfishState BlowfishKeySchedule(const uint8_t* pKey, size_t uiKeyLength);
// Enciphers or deciphers `uiBlocks` blocks in place, each on its own.
void BlowfishEncipher(const BlowfishState& state, uint8_t* pBlocks, size_t uiBlocks);
void BlowfishDecipher(const BlowfishState& state, uint8_t* pBlocks, size_t uiBlocks);
