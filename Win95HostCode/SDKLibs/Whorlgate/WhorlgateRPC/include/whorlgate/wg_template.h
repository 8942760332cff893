/* Fingerprint templates as they leave the library. Reference template records are sealed
   (checksummed and enciphered) and opaque to applications, which store them and hand them back
   unchanged; the match template is plain. The application allocates and frees every template
   buffer, with the sizes the size calls report. */
#ifndef WHORLGATE_WG_TEMPLATE_H
#define WHORLGATE_WG_TEMPLATE_H

#include <stdint.h>

#include "whorlgate/wg_export.h"
#include "whorlgate/wg_image.h"
#include "whorlgate/wg_results.h"

/* Record types, stored in the first two bytes of a plain record. */
#define WG_SMALL_REFERENCE_TEMPLATE_TYPE 22
#define WG_REFERENCE_TEMPLATE_TYPE 23

#define WG_REFERENCE_TEMPLATE_SIZE 2384
#define WG_SMALL_REFERENCE_TEMPLATE_SIZE 384
#define WG_MATCH_TEMPLATE_SIZE 8209
#define WG_MATCH_IMAGE_SIZE (WG_RAW_IMAGE_SIZE / 2)

#pragma pack(push, 1)

/* The raw image at 4 bits per pixel (left pixel in the high nibble) and the image trailer. */
typedef struct WGMatchTemplate {
  uint8_t aucPackedImage[WG_MATCH_IMAGE_SIZE];
  WGImageTrailer trailer;
} WGMatchTemplate;

#pragma pack(pop)

WG_STATIC_ASSERT(sizeof(WGMatchTemplate) == WG_MATCH_TEMPLATE_SIZE, "match template size");

/* Size of a sealed reference template record: 2384. */
WG_API uint16_t WGGetReferenceTemplateSize(void);
/* Size of a sealed small reference template record: 384. */
WG_API uint16_t WGGetSmallReferenceTemplateSize(void);
/* Makes a sealed small record in the caller's 384-byte pSmall from the sealed reference record
   pReference, which stays unchanged. WG_OK, or WG_FUNCTION_FAILED when pReference is not a
   valid type-23 record or pSmall is null. */
WG_API WGResult WGConvertNormalReferenceTemplateToSmall(uint8_t* pSmall, const uint8_t* pReference);

#endif
