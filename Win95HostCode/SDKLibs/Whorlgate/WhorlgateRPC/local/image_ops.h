// Pixel work on caller-owned buffers: OS bitmaps, placement, inversion, rotation and the two
// upsamplers used for the enlarged stream views. None keeps state; none checks its pointers.
#pragma once

#include <cstdint>

#include "whorlgate/wg_image.h"

// Writes a bitmap header of the given size into `pHeader` (1064 bytes). A negative height
// stores the rows top-down.
void BuildBitmapHeader(uint8_t* pHeader, int32_t iWidth, int32_t iHeight);

// A zero-filled (black) OS bitmap of side x side pixels, rows bottom-up, pixel rows at
// WG_OS_BITMAP_PIXEL_OFFSET; null when memory is short. Freed with FreeOSBitmap.
uint8_t* AllocOSBitmap(uint16_t uiSide);
// Ignores null.
void FreeOSBitmap(uint8_t* pBitmap);

// Rewrites the pixels of the OS bitmap with the w x h image centred in a black frame, rows
// reversed so that the picture stands upright. A bitmap (as its header says) narrower or lower
// than the image is left unchanged.
void PlaceRawImage(uint8_t* pBitmap, const uint8_t* pImage, uint32_t uiWidth, uint32_t uiHeight);

// Every pixel of the n x n image becomes 255 - pixel.
void InvertImage(uint8_t* pImage, uint32_t uiSide);
// Turns the 128 x 128 image by 180 degrees in place.
void RotateImage180(uint8_t* pImage);

// Enlarges the n x n source to (3n/2) x (3n/2) in `pDest`, brightened by 16/14. WG_OK, or
// WG_BAD_ARGUMENT for an odd side (which has no whole 3/2 image); `pDest` is then not written.
WGResult Upsample150(const uint8_t* pSource, uint16_t uiSide, uint8_t* pDest);
// Enlarges the n x n source to 2n x 2n in `pDest`, brightened by 9/8. WG_OK.
WGResult Upsample200(const uint8_t* pSource, uint16_t uiSide, uint8_t* pDest);
