// Inversion and half-turn of sensor images, in place.
#include <algorithm>

#include "local/image_ops.h"

void InvertImage(uint8_t* pImage, uint32_t uiSide) {
  const size_t uiPixels = static_cast<size_t>(uiSide) * uiSide;
  for (size_t i = 0; i < uiPixels; ++i) pImage[i] = static_cast<uint8_t>(~pImage[i]);
}

// Reversing the bytes of a square image turns it by 180 degrees.
void RotateImage180(uint8_t* pImage) {
  std::reverse(pImage, pImage + WG_RAW_IMAGE_SIZE);
}
