/* The image stream: live sensor images while a context is open, fetched by polling, and the
   bitmap and resampling calls that help to show them. The server calls block for up to ten
   seconds. */
#ifndef WHORLGATE_WG_STREAM_H
#define WHORLGATE_WG_STREAM_H

#include <stdint.h>

#include "whorlgate/wg_basic.h"
#include "whorlgate/wg_export.h"
#include "whorlgate/wg_image.h"
#include "whorlgate/wg_results.h"

#pragma pack(push, 1)

/* What WhorlgateGetImageState exchanges with the server. */
typedef struct WGImageState {
  int16_t iRequest; /* sent to the server unchanged (the basic demo sets 4) */
  int16_t iState;   /* out: the server's state word, 0 when the call did not succeed */
} WGImageState;

#pragma pack(pop)

WG_STATIC_ASSERT(sizeof(WGImageState) == 4, "image state record is two 16-bit words");

/* Image formats of WhorlgateGetCurrentImage; any other value delivers the raw image too. */
#define WG_STREAM_FORMAT_RAW 0 /* 128 x 128, 16384 bytes */
#define WG_STREAM_FORMAT_150 1 /* 192 x 192, 36864 bytes: enlarged by 3/2 */
#define WG_STREAM_FORMAT_200 2 /* 256 x 256, 65536 bytes: enlarged by 2 */

/* Bits of the image state word as the basic demo reads them; the others are the server's. */
#define WG_IMAGE_STATE_FINGER_PRESENT 0x4000
#define WG_IMAGE_STATE_STABLE_MASK 0x001F

/* Starts the server's image stream for the context; ulStreamOption is the server's (pass 0). */
WG_API WGResult WhorlgateOpenStream(WGContextHandle hContext, uint32_t ulStreamOption);
WG_API WGResult WhorlgateCloseStream(WGContextHandle hContext);
/* The server's current image in iFormat, inverted (255 - pixel, before any enlarging) when
   uiInvert is not 0. The buffer belongs to the library: hand it back with WhorlgateReleaseImage
   before the next one can be fetched. Null when the server has no image or on failure. */
WG_API uint8_t* WhorlgateGetCurrentImage(WGContextHandle hContext, int16_t iFormat,
                                         uint32_t uiInvert);
/* Takes back the image WhorlgateGetCurrentImage handed out (hContext is not read). WG_OK also
   for null while no image is out; WG_FUNCTION_FAILED for any other pointer. */
WG_API WGResult WhorlgateReleaseImage(WGContextHandle hContext, uint8_t* pImage);
/* Asks the server for the finger and image state; pState is the caller's. */
WG_API WGResult WhorlgateGetImageState(WGContextHandle hContext, WGImageState* pState);

/* A black OS bitmap of uiSide x uiSide pixels (a WGBitmapHeader, then the rows bottom-up at
   WG_OS_BITMAP_PIXEL_OFFSET), null when memory is short; free it with WhorlgateDeleteOSBitmap. */
WG_API uint8_t* WhorlgateAllocOSBitmap(uint16_t uiSide);
/* Frees an OS bitmap; null is ignored. */
WG_API void WhorlgateDeleteOSBitmap(uint8_t* pBitmap);
/* Places the uiSide x uiSide raw image upright in the middle of the OS bitmap, in a black
   frame; a bitmap smaller than the image is left as it is. Both buffers are the caller's. */
WG_API void WhorlgateConvertRawImageToOSBmp(uint8_t* pBitmap, const uint8_t* pRawImage,
                                            uint16_t uiSide);
/* Enlarges the uiSide x uiSide image by 3/2 into the caller's (3 uiSide / 2)^2-byte pDest.
   WG_OK, or WG_BAD_ARGUMENT for an odd side. */
WG_API WGResult WhorlgateResample150(const uint8_t* pSource, uint16_t uiSide, uint8_t* pDest);
/* Enlarges the uiSide x uiSide image by 2 into the caller's (2 uiSide)^2-byte pDest. WG_OK. */
WG_API WGResult WhorlgateResample200(const uint8_t* pSource, uint16_t uiSide, uint8_t* pDest);

#endif
