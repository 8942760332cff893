// The layer between the kit's image buffers and template records and the matcher library
// bii_dll: building matcher templates from images, comparing an image with a matcher template,
// deciding match or no match against a minimum score, and turning a score into the two
// confidence figures applications see. Runs on the caller's thread and keeps no state.
#pragma once

#include <cstdint>

#include "whorlgate/wg_results.h"

// The minimum score when the server's "CorMtchNA" cannot be read, and the value the server
// stand-in gives that setting: in hundredths, so a score must exceed 0.50 to match.
inline constexpr uint16_t kDefaultMinimumScore = 50;

// The side of the bitmap the matcher library reads: the sensor image in an 8-pixel black frame.
inline constexpr uint16_t kMatcherBitmapSide = 144;

// What bii_enroll says of a new template, in the order it writes them.
struct BuildFigures {
  float fFirst;
  float fSecond;
};
static_assert(sizeof(BuildFigures) == 8);

// What bii_verify says of a comparison: Q, C and the match score S. Only S decides.
struct MatchFigures {
  float fQ;
  float fC;
  float fS;
};
static_assert(sizeof(MatchFigures) == 12);

// Falling goes from 10000 down to 0 as the score rises, rising from 0 up to 10000.
struct Confidences {
  uint16_t uiFalling;
  uint16_t uiRising;
};

// Builds a matcher template (at most 2352 bytes) from the pixel area of a matcher bitmap, with
// the build figures when `pFigures` is given. WG_OK, or WG_BAD_ARGUMENT for a null input.
WGResult WGBuildBiiReferenceTemplate(const uint8_t* pPixels, uint8_t* pBiiTemplate,
                                     BuildFigures* pFigures);
// The matcher bitmap of a 128 x 128 raw image: an OS bitmap that FreeOSBitmap releases, or null
// when it cannot be had; and the pixel area the matcher reads.
uint8_t* MatcherBitmapOf(const uint8_t* pRawImage);
uint8_t* MatcherPixelsOf(uint8_t* pBitmap);
// One comparison under the match settings, untraced: for a caller that compares one image
// with many templates and traces the outcome once.
MatchFigures CompareImageWithBiiTemplate(const uint8_t* pBiiTemplate, const uint8_t* pPixels);
// Compares the pixel area of a matcher bitmap with a matcher template.
void WGBiiMatchImageToTemplate(const uint8_t* pBiiTemplate, const uint8_t* pPixels, float* pfQ,
                               float* pfC, float* pfS);
// Compares a matcher template with a match template; WG_MATCH when the score exceeds
// `uiMinimumScore` hundredths, else WG_NO_MATCH; WG_BAD_ARGUMENT for a null input,
// WG_OUT_OF_MEMORY when no working memory can be had. The figures go to `pFigures` if given.
WGResult WGMatchBiiTemplatePair(const uint8_t* pBiiTemplate, const uint8_t* pMatchTemplate,
                                uint16_t uiMinimumScore, MatchFigures* pFigures);
// The decision of WGMatchBiiTemplatePair: a score exactly at the minimum does not match.
bool ScoreExceedsMinimum(float fScore, uint16_t uiMinimumScore);
// Compares an opened (plain) reference or small reference template record with a match
// template against the server's "CorMtchNA" minimum (kDefaultMinimumScore when it cannot be
// read). As WGMatchBiiTemplatePair; WG_BAD_ARGUMENT also for a record type other than 22 or 23.
WGResult WGSMatchTemplatePair(const uint8_t* pRecord, const uint8_t* pMatchTemplate,
                              MatchFigures* pFigures);
// Packs the image buffer's raw image into an 8209-byte match template with its trailer.
// WG_OK, or WG_BAD_ARGUMENT for a null input.
WGResult WGSBuildMatchTemplate(const uint8_t* pImageBuffer, uint8_t* pMatchTemplate);
// Builds a plain type-23 record (2384 bytes) from an image buffer: matcher template, trailer,
// type and size; offsets 2 to 7 keep what the buffer held, and the caller seals the record.
// WG_OK, WG_BAD_ARGUMENT for a null input, WG_FUNCTION_FAILED when no bitmap can be had.
WGResult WGSBuildReferenceTemplate(const uint8_t* pImageBuffer, uint8_t* pRecord,
                                   BuildFigures* pFigures);
// The confidences of a score, from the fixed table of confidence points.
Confidences WGScoreToConfidence(float fScore);
// 128 x 128 raw image to 8192 bytes of 4-bit levels, left pixel in the high nibble, and back
// (each level L becoming the pixel 16 L).
void WGPackMatchImage(const uint8_t* pRawImage, uint8_t* pPacked);
void WGUnpackMatchImage(const uint8_t* pPacked, uint8_t* pRawImage);
