/* Sensor images as they leave the library: the image buffer and the bitmap header. */
#ifndef WHORLGATE_WG_IMAGE_H
#define WHORLGATE_WG_IMAGE_H

#include <stddef.h>
#include <stdint.h>

#include "whorlgate/wg_export.h"
#include "whorlgate/wg_results.h"


/* The sensor's images are square, one grey byte per pixel (0 black, 255 white), rows from the
   top of the picture down. */
#define WG_IMAGE_SIDE 128
#define WG_RAW_IMAGE_SIZE (WG_IMAGE_SIDE * WG_IMAGE_SIDE)
#define WG_IMAGE_TRAILER_SIZE 17
#define WG_IMAGE_BUFFER_SIZE (WG_RAW_IMAGE_SIZE + WG_IMAGE_TRAILER_SIZE)
#define WG_BITMAP_INFO_HEADER_SIZE 40
#define WG_BITMAP_PALETTE_ENTRIES 256
#define WG_BITMAP_HEADER_SIZE (WG_BITMAP_INFO_HEADER_SIZE + 4 * WG_BITMAP_PALETTE_ENTRIES)
/* Pixel rows of an OS bitmap start right after its header. */
#define WG_OS_BITMAP_PIXEL_OFFSET WG_BITMAP_HEADER_SIZE

#pragma pack(push, 1)

/* Written by the server with each image; the library copies it, never reads it. */
typedef struct WGImageTrailer {
  uint32_t uiWord1;
  uint32_t uiWord2;
  uint32_t uiWord3;
  uint8_t ucByte;
  uint16_t usWord1;
  uint16_t usWord2;
} WGImageTrailer;

/* One captured image with its trailer; the application allocates and frees it. */
typedef struct WGImageBuffer {
  uint8_t aucRawImage[WG_RAW_IMAGE_SIZE];
  WGImageTrailer trailer;
} WGImageBuffer;

/* The device-independent bitmap information header (little-endian). */
typedef struct WGBitmapInfoHeader {
  uint32_t uiHeaderSize; /* 40 */
  int32_t iWidth;
  int32_t iHeight;        /* negative: rows stored top-down */
  uint16_t usPlanes;      /* 1 */
  uint16_t usBitCount;    /* 8 */
  uint32_t uiCompression; /* 0: uncompressed */
  uint32_t uiImageSize;   /* width times absolute height */
  int32_t iXPelsPerMeter;
  int32_t iYPelsPerMeter;
  uint32_t uiColoursUsed;
  uint32_t uiColoursImportant;
} WGBitmapInfoHeader;

typedef struct WGPaletteEntry {
  uint8_t ucBlue;
  uint8_t ucGreen;
  uint8_t ucRed;
  uint8_t ucReserved;
} WGPaletteEntry;

/* The information header and a 256-level grey palette. */
typedef struct WGBitmapHeader {
  WGBitmapInfoHeader info;
  WGPaletteEntry aPalette[WG_BITMAP_PALETTE_ENTRIES];
} WGBitmapHeader;

#pragma pack(pop)

WG_STATIC_ASSERT(sizeof(WGImageTrailer) == WG_IMAGE_TRAILER_SIZE, "image trailer is 17 bytes");
WG_STATIC_ASSERT(sizeof(WGImageBuffer) == 16401, "image buffer is 16401 bytes");
WG_STATIC_ASSERT(offsetof(WGImageBuffer, trailer) == 16384, "trailer follows the raw image");
WG_STATIC_ASSERT(sizeof(WGBitmapInfoHeader) == WG_BITMAP_INFO_HEADER_SIZE, "info header size");
WG_STATIC_ASSERT(offsetof(WGBitmapInfoHeader, uiImageSize) == 20, "info header layout");
WG_STATIC_ASSERT(sizeof(WGBitmapHeader) == 1064, "bitmap header is 1064 bytes");

/* Size of the image buffer the application allocates for WGEndAcquireImage: 16401. */
WG_API uint16_t WGGetImageBufferSize(void);
/* Size of the bitmap header the application allocates for WGBuildOSBmpHeader: 1064. */
WG_API uint16_t WGGetOSBmpHeaderSize(void);
/* Writes the display header (128 x 128, rows top-down) into the caller's 1064-byte buffer, so
   that a raw image placed right behind it can be shown as it is. uiUnused is not read.
   WG_OK, or WG_BAD_POINTER when pHeader is null. */
WG_API WGResult WGBuildOSBmpHeader(uint32_t uiUnused, uint8_t* pHeader);

#endif
