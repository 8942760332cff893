#include "local/matcher_adapter.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "bii/bii_dll.h"
#include "connect/settings_table.h"
#include "local/image_ops.h"
#include "local/template_record.h"
#include "shared/little_endian.h"
#include "shared/trace.h"
#include "whorlgate/wg_image.h"
#include "whorlgate/wg_template.h"

namespace {

struct ConfidencePoint {
  float fScore;
  uint16_t uiFalling;
  uint16_t uiRising;
};

// clang-format off
constexpr ConfidencePoint kConfidencePoints[] = {
    // score  falling  rising
    {0.0f,    10000,       0},
    {0.1f,     8306,      10},
    {0.2f,     7974,      50},
    {0.3f,     7617,     150},
    {0.35f,    1000,     185},
    {0.4f,      450,     210},
    {0.5f,      300,     300},
    {0.55f,     200,     330},
    {0.6f,      100,     390},
    {0.7f,       10,     491},
    {0.75f,       5,     833},
    {0.8f,        4,    1068},
    {0.9f,        3,    2274},
    {0.98f,       2,    4124},
    {1.1f,        1,    7500},
    {1.4f,        0,   10000},
};
// clang-format on
constexpr size_t kLastPoint = std::size(kConfidencePoints) - 1;

// The matcher's settings before each kind of work; their meaning is the matcher's.
constexpr int32_t kBiiInit = 8;
constexpr int32_t kBiiLimit = 30;
constexpr int32_t kBiiCompareForBuild = 3;
constexpr int32_t kBiiCompareForMatch = 2;
constexpr int32_t kBiiOutput = 0;
constexpr int32_t kBiiThreshold = 0;
constexpr int32_t kBiiWorkArgument = 8;

constexpr const char* kMinimumScoreSetting = "CorMtchNA";

// A level of the packed match image: 16 grey steps, the top one taking 232 to 255.
constexpr uint8_t kTopLevel = 15;
constexpr uint8_t kTopLevelFrom = 232;
constexpr uint8_t kLevelStep = 16;

uint8_t PixelLevel(uint8_t ucPixel) {
  return ucPixel >= kTopLevelFrom ? kTopLevel : static_cast<uint8_t>((ucPixel + 8) >> 4);
}

void Trace(const char* pszText) {
  TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT, pszText, nullptr);
}

void PrepareMatcher(int32_t iCompare) {
  bii_init(kBiiInit);
  bii_setlim(kBiiLimit);
  bii_setcomp(iCompare);
  bii_setout(kBiiOutput, kBiiOutput);
  bii_setthresh(kBiiThreshold);
}

uint16_t MinimumScore() {
  uint32_t uiSetting = 0;
  if (!GetSetting(kMinimumScoreSetting, true, &uiSetting)) return kDefaultMinimumScore;
  return static_cast<uint16_t>(uiSetting);
}

}  // namespace

uint8_t* MatcherPixelsOf(uint8_t* pBitmap) {
  return pBitmap + WG_OS_BITMAP_PIXEL_OFFSET;
}

// The matcher reads the sensor image upright in its black frame.
uint8_t* MatcherBitmapOf(const uint8_t* pRawImage) {
  uint8_t* pBitmap = AllocOSBitmap(kMatcherBitmapSide);
  if (pBitmap != nullptr) PlaceRawImage(pBitmap, pRawImage, WG_IMAGE_SIDE, WG_IMAGE_SIDE);
  return pBitmap;
}

MatchFigures CompareImageWithBiiTemplate(const uint8_t* pBiiTemplate, const uint8_t* pPixels) {
  PrepareMatcher(kBiiCompareForMatch);
  MatchFigures figures{};
  bii_verify(pPixels, pBiiTemplate, &figures.fQ, &figures.fC, &figures.fS, kBiiWorkArgument);
  return figures;
}

WGResult WGBuildBiiReferenceTemplate(const uint8_t* pPixels, uint8_t* pBiiTemplate,
                                     BuildFigures* pFigures) {
  if (pPixels == nullptr) Trace("WGBuildBiiReferenceTemplate input arg pImage is NULL");
  if (pBiiTemplate == nullptr) Trace("WGBuildBiiReferenceTemplate input arg pBiiTemplate is NULL");
  if (pPixels == nullptr || pBiiTemplate == nullptr) return WG_BAD_ARGUMENT;
  PrepareMatcher(kBiiCompareForBuild);
  float fFirst = 0.0f;
  float fSecond = 0.0f;
  bii_enroll(pPixels, pBiiTemplate, &fFirst, &fSecond, kBiiWorkArgument);
  if (pFigures != nullptr) *pFigures = BuildFigures{fFirst, fSecond};
  return WG_OK;
}

void WGBiiMatchImageToTemplate(const uint8_t* pBiiTemplate, const uint8_t* pPixels, float* pfQ,
                               float* pfC, float* pfS) {
  const MatchFigures figures = CompareImageWithBiiTemplate(pBiiTemplate, pPixels);
  *pfQ = figures.fQ;
  *pfC = figures.fC;
  *pfS = figures.fS;
  char szText[kTraceTextLength];
  std::snprintf(szText, sizeof szText, "WGBiiMatchImageToTemplate: Q %.2f C %.2f S %.2f",
                static_cast<double>(*pfQ), static_cast<double>(*pfC), static_cast<double>(*pfS));
  Trace(szText);
}

bool ScoreExceedsMinimum(float fScore, uint16_t uiMinimumScore) {
  return static_cast<float>(uiMinimumScore) < fScore * 100.0f;
}

WGResult WGMatchBiiTemplatePair(const uint8_t* pBiiTemplate, const uint8_t* pMatchTemplate,
                                uint16_t uiMinimumScore, MatchFigures* pFigures) {
  if (pBiiTemplate == nullptr || pMatchTemplate == nullptr) return WG_BAD_ARGUMENT;
  auto* pImage = static_cast<uint8_t*>(std::malloc(WG_RAW_IMAGE_SIZE));
  if (pImage == nullptr) return WG_OUT_OF_MEMORY;
  WGUnpackMatchImage(pMatchTemplate, pImage);
  uint8_t* pBitmap = MatcherBitmapOf(pImage);
  if (pBitmap == nullptr) {
    std::free(pImage);
    return WG_OUT_OF_MEMORY;
  }
  MatchFigures figures{};
  WGBiiMatchImageToTemplate(pBiiTemplate, MatcherPixelsOf(pBitmap), &figures.fQ, &figures.fC, &figures.fS);
  char szText[kTraceTextLength];
  std::snprintf(szText, sizeof szText, "WGMatchBiiTemplatePair: Q %.2f C %.2f S %.2f MS %.2f",
                static_cast<double>(figures.fQ), static_cast<double>(figures.fC),
                static_cast<double>(figures.fS), uiMinimumScore / 100.0);
  Trace(szText);
  FreeOSBitmap(pBitmap);
  std::free(pImage);
  if (pFigures != nullptr) *pFigures = figures;
  return ScoreExceedsMinimum(figures.fS, uiMinimumScore) ? WG_MATCH : WG_NO_MATCH;
}

WGResult WGSMatchTemplatePair(const uint8_t* pRecord, const uint8_t* pMatchTemplate,
                              MatchFigures* pFigures) {
  if (pRecord == nullptr || pMatchTemplate == nullptr) return WG_BAD_ARGUMENT;
  const int16_t iType = LoadI16(pRecord + kRecType);
  // Both forms carry the matcher template at the same place; the matcher tells them apart.
  if (FindTemplateRecordFormat(iType) == nullptr) {
    TraceValue16(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT,
                 "WGSMatchTemplatePair: illegal reference template type = ", iType);
    return WG_BAD_ARGUMENT;
  }
  return WGMatchBiiTemplatePair(pRecord + kRecMatcherTemplate, pMatchTemplate, MinimumScore(),
                                pFigures);
}

WGResult WGSBuildMatchTemplate(const uint8_t* pImageBuffer, uint8_t* pMatchTemplate) {
  if (pImageBuffer == nullptr) Trace("WGSBuildMatchTemplate: input arg psImageStruct == NULL ");
  if (pMatchTemplate == nullptr) Trace("WGSBuildMatchTemplate: input arg psMatchTemplate == NULL ");
  if (pImageBuffer == nullptr || pMatchTemplate == nullptr) return WG_BAD_ARGUMENT;
  WGPackMatchImage(pImageBuffer, pMatchTemplate);
  std::memcpy(pMatchTemplate + offsetof(WGMatchTemplate, trailer),
              pImageBuffer + offsetof(WGImageBuffer, trailer), WG_IMAGE_TRAILER_SIZE);
  return WG_OK;
}

WGResult WGSBuildReferenceTemplate(const uint8_t* pImageBuffer, uint8_t* pRecord,
                                   BuildFigures* pFigures) {
  if (pImageBuffer == nullptr || pRecord == nullptr) return WG_BAD_ARGUMENT;
  uint8_t* pBitmap = MatcherBitmapOf(pImageBuffer);
  if (pBitmap == nullptr) return WG_FUNCTION_FAILED;
  const WGResult iResult =
      WGBuildBiiReferenceTemplate(MatcherPixelsOf(pBitmap), pRecord + kRecMatcherTemplate, pFigures);
  FreeOSBitmap(pBitmap);
  std::memcpy(pRecord + kRecTrailer, pImageBuffer + offsetof(WGImageBuffer, trailer),
              WG_IMAGE_TRAILER_SIZE);
  StoreI16(pRecord + kRecType, WG_REFERENCE_TEMPLATE_TYPE);
  StoreU16(pRecord + kRecSize, WG_REFERENCE_TEMPLATE_SIZE);
  return iResult;
}

Confidences WGScoreToConfidence(float fScore) {
  const ConfidencePoint& first = kConfidencePoints[0];
  const ConfidencePoint& last = kConfidencePoints[kLastPoint];
  if (fScore <= first.fScore) return {first.uiFalling, first.uiRising};
  if (fScore >= last.fScore) return {last.uiFalling, last.uiRising};
  size_t i = 1;
  while (kConfidencePoints[i].fScore <= fScore) ++i;
  const ConfidencePoint& below = kConfidencePoints[i - 1];
  const ConfidencePoint& above = kConfidencePoints[i];
  const float f = (fScore - below.fScore) / (above.fScore - below.fScore);
  // The falling figure is cut towards zero, the rising one rounded half up.
  const float fFalling = below.uiFalling + (above.uiFalling - below.uiFalling) * f;
  const float fRising = below.uiRising + (above.uiRising - below.uiRising) * f + 0.5f;
  return {static_cast<uint16_t>(static_cast<int32_t>(fFalling)),
          static_cast<uint16_t>(static_cast<int32_t>(fRising))};
}

void WGPackMatchImage(const uint8_t* pRawImage, uint8_t* pPacked) {
  for (size_t i = 0; i < WG_MATCH_IMAGE_SIZE; ++i) {
    pPacked[i] =
        static_cast<uint8_t>(PixelLevel(pRawImage[2 * i]) << 4 | PixelLevel(pRawImage[2 * i + 1]));
  }
}

void WGUnpackMatchImage(const uint8_t* pPacked, uint8_t* pRawImage) {
  for (size_t i = 0; i < WG_MATCH_IMAGE_SIZE; ++i) {
    pRawImage[2 * i] = static_cast<uint8_t>((pPacked[i] >> 4) * kLevelStep);
    pRawImage[2 * i + 1] = static_cast<uint8_t>((pPacked[i] & 0x0F) * kLevelStep);
  }
}
