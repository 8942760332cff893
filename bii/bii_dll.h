/* The matcher library bii_dll: builds a matcher template from a fingerprint image and compares
   an image with a template. The client library calls it on the application's thread, always
   in the order bii_init, bii_setlim, bii_setcomp, bii_setout, bii_setthresh and then one work
   call; the return values carry no meaning for it.

   The image is the pixel area of a 144 x 144 matcher bitmap: one byte per grey level, bottom row
   first, the 128 x 128 sensor image (250 dpi) centred in an 8-pixel black border. */
#ifndef WHORLGATE_BII_DLL_H
#define WHORLGATE_BII_DLL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define BII_IMAGE_SIDE 144
#define BII_TEMPLATE_MAX_SIZE 2352
/* The small form: the first 348 bytes of a template with byte 13 set to 2. */
#define BII_SMALL_TEMPLATE_SIZE 348
#define BII_TEMPLATE_FORM_OFFSET 13
#define BII_SMALL_TEMPLATE_FORM 2

int32_t bii_init(int32_t iArgument);
int32_t bii_setlim(int32_t iArgument);
int32_t bii_setcomp(int32_t iArgument);
int32_t bii_setout(int32_t iFirst, int32_t iSecond);
int32_t bii_setthresh(int32_t iArgument);
/* Writes a template of at most 2352 bytes into pTemplate and two quality figures, the share
   of the window holding a clear print and the richness in minutiae: a clear print gives the
   first above 0.5 and the second above 0.3. The settings (bii_init to bii_setthresh) belong to
   the calling thread. */
int32_t bii_enroll(const uint8_t* pImage, uint8_t* pTemplate, float* pfQuality1, float* pfQuality2,
                   int32_t iArgument);
/* Compares the image with a template (full or small form). The figures: the probe's clarity
   (as the first build figure), the number of minutiae paired, and the match score, 0 to 1.4,
   higher for a better match (0 for bytes that are no template of this matcher). */
int32_t bii_verify(const uint8_t* pImage, const uint8_t* pTemplate, float* pfFigure1,
                   float* pfFigure2, float* pfScore, int32_t iArgument);

#ifdef __cplusplus
}
#endif

#endif
