#include "platform/desktop/dib.h"

#include <QPainter>

#include <cstdlib>
#include <cstring>

#include "whorlgate/wg_image.h"

namespace desktop {
namespace {

// Far above any picture the kit shows; keeps a damaged header from asking for gigabytes.
constexpr int32_t kMaxSide = 16384;

}  // namespace

QImage DibToImage(const WGBitmapHeader& header, const uint8_t* pixels) {
  const WGBitmapInfoHeader& info = header.info;
  if (!pixels || info.uiHeaderSize < WG_BITMAP_INFO_HEADER_SIZE || info.usBitCount != 8 ||
      info.uiCompression != 0 || info.iWidth <= 0 || info.iWidth > kMaxSide || info.iHeight == 0 ||
      info.iHeight < -kMaxSide || info.iHeight > kMaxSide) {
    return QImage();
  }
  const int width = info.iWidth;
  const int height = std::abs(info.iHeight);
  const bool topDown = info.iHeight < 0;
  const int stride = (width + 3) & ~3;
  QImage image(width, height, QImage::Format_Indexed8);
  uint32_t colours = info.uiColoursUsed == 0 || info.uiColoursUsed > WG_BITMAP_PALETTE_ENTRIES
                         ? WG_BITMAP_PALETTE_ENTRIES
                         : info.uiColoursUsed;
  QList<QRgb> table;
  for (uint32_t i = 0; i < colours; ++i) {
    const WGPaletteEntry& entry = header.aPalette[i];
    table.push_back(qRgb(entry.ucRed, entry.ucGreen, entry.ucBlue));
  }
  // A pixel beyond a short palette shows black rather than reading past it.
  while (table.size() < 256) table.push_back(qRgb(0, 0, 0));
  image.setColorTable(table);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = pixels + static_cast<size_t>(topDown ? y : height - 1 - y) * stride;
    std::memcpy(image.scanLine(y), row, static_cast<size_t>(width));
  }
  return image;
}

void StretchDib(QPainter& painter, const QRect& target, const WGBitmapHeader& header,
                const uint8_t* pixels) {
  QImage image = DibToImage(header, pixels);
  if (!image.isNull()) painter.drawImage(target, image);
}

}  // namespace desktop
