// The matcher template's bytes. The small form is the first kSmallSize bytes with the form byte
// set to kFormSmall, so what a comparison needs most sits in front: the foreground outline, a
// coarse ridge flow and the best minutiae. The full form adds a finer flow and the remaining
// minutiae behind them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bii/bii_dll.h"

namespace bii {

constexpr size_t kBlockCount = 256;  // 16 x 16 blocks of 8 x 8 pixels, rows top down

constexpr size_t kMagicOffset = 0;                        // 4 bytes: kMagic
constexpr size_t kVersionOffset = 4;                      // 1 byte: kVersion
constexpr size_t kCountOffset = 5;                        // 1 byte: minutiae stored in all
constexpr size_t kFormOffset = BII_TEMPLATE_FORM_OFFSET;  // 1 byte: kFormFull or kFormSmall
constexpr size_t kMaskOffset = 16;  // one bit per block: 1 where the print is usable
constexpr size_t kCoarseFlowOffset = kMaskOffset + kBlockCount / 8;  // 4 bits per block
constexpr size_t kMinutiaeOffset = kCoarseFlowOffset + kBlockCount / 2;
constexpr size_t kMinutiaSize = 4;  // x, y, direction (256ths of a turn), kind and quality
constexpr size_t kSmallSize = BII_SMALL_TEMPLATE_SIZE;
constexpr size_t kSmallMinutiae = (kSmallSize - kMinutiaeOffset) / kMinutiaSize;
// Full form only: the flow in whole degrees per block (0 to 179) and more minutiae.
constexpr size_t kFineFlowOffset = kSmallSize;
constexpr size_t kMoreMinutiaeOffset = kFineFlowOffset + kBlockCount;
constexpr size_t kMaxMinutiae = 64;
// Full form only: the ridges themselves, one bit per pixel (1 on a ridge), of the image less an
// 8-pixel margin where the window cuts them off; rows top down, bit 0 of a byte leftmost.
constexpr size_t kRidgeOffset =
    kMoreMinutiaeOffset + (kMaxMinutiae - kSmallMinutiae) * kMinutiaSize;
constexpr int kRidgeMargin = 8;
constexpr int kRidgeSide = 128 - 2 * kRidgeMargin;
constexpr size_t kFullSize = kRidgeOffset + kRidgeSide * kRidgeSide / 8;

static_assert(kMinutiaeOffset + kSmallMinutiae * kMinutiaSize <= kSmallSize);
static_assert(kSmallMinutiae < kMaxMinutiae);
static_assert(kFormOffset < kMaskOffset);
static_assert(kFullSize <= BII_TEMPLATE_MAX_SIZE);

constexpr std::array<uint8_t, 4> kMagic = {'W', 'G', 'M', 'T'};
constexpr uint8_t kVersion = 1;
constexpr uint8_t kFormFull = 1;
constexpr uint8_t kFormSmall = BII_SMALL_TEMPLATE_FORM;
constexpr uint8_t kForkBit = 0x80;
constexpr uint8_t kQualityMask = 0x7F;
constexpr int kCoarseFlowSteps = 16;

}  // namespace bii
