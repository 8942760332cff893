// Bitmap headers, OS bitmaps and the placement of a raw image into one.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "local/image_ops.h"

// The header records are laid out by the host; the kit's bitmaps are little-endian.
static_assert(std::endian::native == std::endian::little);

void BuildBitmapHeader(uint8_t* pHeader, int32_t iWidth, int32_t iHeight) {
  WGBitmapHeader header{};
  header.info.uiHeaderSize = WG_BITMAP_INFO_HEADER_SIZE;
  header.info.iWidth = iWidth;
  header.info.iHeight = iHeight;
  header.info.usPlanes = 1;
  header.info.usBitCount = 8;
  const int64_t iRows = iHeight < 0 ? -static_cast<int64_t>(iHeight) : iHeight;
  header.info.uiImageSize = static_cast<uint32_t>(static_cast<int64_t>(iWidth) * iRows);
  for (int i = 0; i < WG_BITMAP_PALETTE_ENTRIES; ++i) {
    const auto ucLevel = static_cast<uint8_t>(i);
    header.aPalette[i] = WGPaletteEntry{ucLevel, ucLevel, ucLevel, 0};
  }
  std::memcpy(pHeader, &header, sizeof header);
}

uint8_t* AllocOSBitmap(uint16_t uiSide) {
  const size_t uiPixels = static_cast<size_t>(uiSide) * uiSide;
  auto* pBitmap = static_cast<uint8_t*>(std::calloc(1, WG_OS_BITMAP_PIXEL_OFFSET + uiPixels));
  if (pBitmap != nullptr) BuildBitmapHeader(pBitmap, uiSide, uiSide);
  return pBitmap;
}

void FreeOSBitmap(uint8_t* pBitmap) {
  std::free(pBitmap);
}

void PlaceRawImage(uint8_t* pBitmap, const uint8_t* pImage, uint32_t uiWidth, uint32_t uiHeight) {
  WGBitmapInfoHeader info;
  std::memcpy(&info, pBitmap, sizeof info);
  // A top-down bitmap (negative height) counts as too low: its rows are not ours to reverse.
  if (info.iWidth < 0 || info.iHeight < 0) return;
  const size_t uiW = static_cast<uint32_t>(info.iWidth);
  const size_t uiH = static_cast<uint32_t>(info.iHeight);
  if (uiW < uiWidth || uiH < uiHeight) return;

  const size_t uiTop = (uiH - uiHeight) / 2;
  const size_t uiLeft = (uiW - uiWidth) / 2;
  const size_t uiRight = uiW - uiWidth - uiLeft;
  uint8_t* pRow = pBitmap + info.uiHeaderSize + 4 * WG_BITMAP_PALETTE_ENTRIES;

  // Stored rows run from the bottom of the picture up, so the image goes in last row first.
  std::memset(pRow, 0, uiTop * uiW);
  pRow += uiTop * uiW;
  for (size_t uiRow = uiHeight; uiRow-- > 0; pRow += uiW) {
    std::memset(pRow, 0, uiLeft);
    std::memcpy(pRow + uiLeft, pImage + uiRow * uiWidth, uiWidth);
    std::memset(pRow + uiLeft + uiWidth, 0, uiRight);
  }
  std::memset(pRow, 0, (uiH - uiTop - uiHeight) * uiW);
}
