// What the matcher takes from one fingerprint image: the foreground, the ridge flow and the
// minutiae (ridge endings and forks), in image coordinates (x right, y down, 128 x 128).
#pragma once

#include <array>
#include <cstdint>

#include "bii/template_layout.h"

namespace bii {

constexpr int kSide = 128;
constexpr int kBlock = 8;                // foreground and stored flow
constexpr int kBlocks = kSide / kBlock;  // 16
constexpr int kCell = 4;                 // ridge flow inside the matcher
constexpr int kCells = kSide / kCell;    // 32

struct Minutia {
  float fX = 0, fY = 0;
  float fAngle = 0;  // radians; endings point out of their ridge, forks towards their stem
  bool bFork = false;
  float fQuality = 0;
};

struct Features {
  std::array<uint8_t, kBlocks * kBlocks> foreground{};  // 1 where the print is usable
  std::array<float, kCells * kCells> flow{};            // ridge direction modulo pi
  std::array<uint8_t, kCells * kCells> flowValid{};
  std::array<float, kBlocks * kBlocks> blockFlow{};  // ridge direction per block, modulo pi
  std::array<uint8_t, kSide * kSide> ridges{};       // 1 where the cleaned image has a ridge
  std::array<Minutia, kMaxMinutiae> minutiae{};
  int iCount = 0;
  float fClarity = 0;   // first build figure
  float fRichness = 0;  // second build figure
};

// `pBitmap` is the 144 x 144 matcher bitmap, rows bottom-up.
void ExtractFeatures(const uint8_t* pBitmap, Features& features);

}  // namespace bii
