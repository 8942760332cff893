// Drawing 8-bit indexed device-independent bitmaps: the information header, its palette and
// the pixel rows, stored top-down (negative height) or bottom-up, each row padded to 4 bytes.
#pragma once

#include <QImage>

#include <cstdint>

class QPainter;
class QRect;
struct WGBitmapHeader;

namespace desktop {

// The bitmap as a picture, rows upright; a null image when the header describes no
// uncompressed 8-bit bitmap.
QImage DibToImage(const WGBitmapHeader& header, const uint8_t* pixels);

// Stretches the whole bitmap onto `target`; draws nothing for a header DibToImage refuses.
void StretchDib(QPainter& painter, const QRect& target, const WGBitmapHeader& header,
                const uint8_t* pixels);

}  // namespace desktop
