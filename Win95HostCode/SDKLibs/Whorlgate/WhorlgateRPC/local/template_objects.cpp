// The sensor-level objects: raw buffers, transient images, identifying and authorized
// templates and the one search print, over the extended calls and the matcher adapter.
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "local/image_ops.h"
#include "local/matcher_adapter.h"
#include "local/sensor_status.h"
#include "local/template_record.h"
#include "whorlgate/wg_extended.h"
#include "whorlgate/wg_image.h"
#include "whorlgate/wg_template.h"

static_assert(WG_RAW_BUFFER_SIZE == WG_IMAGE_BUFFER_SIZE);
static_assert(WG_TRANSIENT_IMAGE_SIZE == WG_IMAGE_BUFFER_SIZE);
static_assert(WG_IDENTIFYING_TEMPLATE_SIZE == WG_MATCH_TEMPLATE_SIZE);
static_assert(WG_AUTHORIZED_TEMPLATE_SIZE == WG_REFERENCE_TEMPLATE_SIZE);

namespace {

// What BuildTransientImage reports of the picture it makes.
constexpr uint32_t kTransientValues[] = {1, 1, 4};

// A build is good when the print came out clear (first figure) and rich enough (second).
constexpr float kGoodBuildFirstAbove = 0.5f;
constexpr float kGoodBuildSecondAbove = 0.3f;

// Process-wide; all zero until the first LoadSearchPrint.
uint8_t g_aucSearchPrint[WG_IDENTIFYING_TEMPLATE_SIZE];

WGSensorStatus CreateZeroed(uint8_t** ppObject, size_t uiSize) {
  if (ppObject == nullptr) return SensorStatus(WG_BAD_POINTER);
  *ppObject = static_cast<uint8_t*>(std::calloc(1, uiSize));
  return SensorStatus(*ppObject != nullptr ? WG_OK : WG_OUT_OF_MEMORY);
}

void ResetObject(uint8_t* pObject, size_t uiSize) {
  if (pObject != nullptr) std::memset(pObject, 0, uiSize);
}

uint8_t* AssignObject(uint8_t* pDestination, const uint8_t* pSource, size_t uiSize) {
  std::memcpy(pDestination, pSource, uiSize);
  return pDestination;
}

// The Compress and Decompress calls move the object unchanged. *puiSize tells how large the
// caller's side is and comes back as the object's size, so a call with too small a size (or
// none) learns what it needs without anything being touched.
WGSensorStatus TransferObject(uint8_t* pTo, const uint8_t* pFrom, uint32_t* puiSize,
                              uint32_t uiObjectSize) {
  if (puiSize == nullptr) return SensorStatus(WG_BAD_POINTER);
  const uint32_t uiGiven = *puiSize;
  *puiSize = uiObjectSize;
  if (uiGiven < uiObjectSize) return SensorStatus(WG_FUNCTION_FAILED);
  if (pTo == nullptr || pFrom == nullptr) return SensorStatus(WG_BAD_POINTER);
  std::memcpy(pTo, pFrom, uiObjectSize);
  return SensorStatus(WG_OK);
}

}  // namespace

WG_API uint8_t* CreateRawBuffer(void) {
  return static_cast<uint8_t*>(std::malloc(WG_RAW_BUFFER_SIZE));
}

WG_API void DestroyRawBuffer(uint8_t* pRawBuffer) {
  std::free(pRawBuffer);
}

WG_API uint8_t* AssignRawBuffer(uint8_t* pDestination, const uint8_t* pSource) {
  return AssignObject(pDestination, pSource, WG_RAW_BUFFER_SIZE);
}

WG_API uint8_t* CreateTransientImage(void) {
  return static_cast<uint8_t*>(std::calloc(1, WG_TRANSIENT_IMAGE_SIZE));
}

WG_API void DestroyTransientImage(uint8_t* pImage) {
  std::free(pImage);
}

WG_API void ResetTransientImage(uint8_t* pImage) {
  ResetObject(pImage, WG_TRANSIENT_IMAGE_SIZE);
}

WG_API WGSensorStatus BuildTransientImage(uint8_t* pImage, const uint8_t* pRawBuffer,
                                          uint32_t* puiValue1, uint32_t* puiValue2,
                                          uint32_t* puiValue3, uint8_t* pPicture) {
  if (pImage == nullptr || pRawBuffer == nullptr || pPicture == nullptr) {
    return SensorStatus(WG_BAD_POINTER);
  }
  std::memcpy(pImage, pRawBuffer, WG_TRANSIENT_IMAGE_SIZE);
  std::memcpy(pPicture, pRawBuffer, WG_RAW_IMAGE_SIZE);
  RotateImage180(pPicture);
  uint32_t* apuiValues[] = {puiValue1, puiValue2, puiValue3};
  for (size_t i = 0; i < std::size(apuiValues); ++i) {
    if (apuiValues[i] != nullptr) *apuiValues[i] = kTransientValues[i];
  }
  return SensorStatus(WG_OK);
}

WG_API WGSensorStatus CreateIdentifyingTemplate(uint8_t** ppTemplate) {
  return CreateZeroed(ppTemplate, WG_IDENTIFYING_TEMPLATE_SIZE);
}

WG_API void DestroyIdentifyingTemplate(uint8_t* pTemplate) {
  std::free(pTemplate);
}

WG_API void ResetIdentifyingTemplate(uint8_t* pTemplate) {
  ResetObject(pTemplate, WG_IDENTIFYING_TEMPLATE_SIZE);
}

WG_API WGSensorStatus BuildIdentifyingTemplate(uint8_t* pTemplate, const uint8_t* pRawBuffer) {
  if (pTemplate == nullptr || pRawBuffer == nullptr) return SensorStatus(WG_BAD_POINTER);
  return SensorStatus(WGBuildMatchTemplate(pRawBuffer, pTemplate));
}

WG_API WGSensorStatus CompressIdentifyingTemplate(const uint8_t* pTemplate, uint8_t* pOutput,
                                                  uint32_t* puiSize) {
  return TransferObject(pOutput, pTemplate, puiSize, WG_IDENTIFYING_TEMPLATE_SIZE);
}

WG_API WGSensorStatus DecompressIdentifyingTemplate(uint8_t* pTemplate, const uint8_t* pInput,
                                                    uint32_t* puiSize) {
  return TransferObject(pTemplate, pInput, puiSize, WG_IDENTIFYING_TEMPLATE_SIZE);
}

WG_API uint8_t* AssignIdentifyingTemplate(uint8_t* pDestination, const uint8_t* pSource) {
  return AssignObject(pDestination, pSource, WG_IDENTIFYING_TEMPLATE_SIZE);
}

WG_API WGSensorStatus CreateAuthorizedTemplate(uint8_t** ppTemplate) {
  return CreateZeroed(ppTemplate, WG_AUTHORIZED_TEMPLATE_SIZE);
}

WG_API void DestroyAuthorizedTemplate(uint8_t* pTemplate) {
  std::free(pTemplate);
}

WG_API void ResetAuthorizedTemplate(uint8_t* pTemplate) {
  ResetObject(pTemplate, WG_AUTHORIZED_TEMPLATE_SIZE);
}

WG_API WGSensorStatus BuildAuthorizedTemplate(uint8_t* pTemplate, const uint8_t* pRawBuffer,
                                              uint32_t* puiDone, uint32_t* puiGoodBuild) {
  if (pTemplate == nullptr || pRawBuffer == nullptr) return SensorStatus(WG_BAD_POINTER);
  if (puiDone != nullptr) *puiDone = 1;
  if (puiGoodBuild != nullptr) *puiGoodBuild = 0;
  BuildFigures figures{};
  const WGResult iResult = WGSBuildReferenceTemplate(pRawBuffer, pTemplate, &figures);
  // The reference build fails only for want of a matcher bitmap.
  if (iResult == WG_FUNCTION_FAILED) return SensorStatus(WG_OUT_OF_MEMORY);
  WGEncryptIOTemplateRecForExport(pTemplate);
  const bool bGood = iResult == WG_OK && figures.fFirst > kGoodBuildFirstAbove &&
                     figures.fSecond > kGoodBuildSecondAbove;
  if (puiGoodBuild != nullptr && bGood) *puiGoodBuild = 1;
  return SensorStatus(iResult);
}

WG_API WGSensorStatus CompressAuthorizedTemplate(const uint8_t* pTemplate, uint8_t* pOutput,
                                                 uint32_t* puiSize) {
  return TransferObject(pOutput, pTemplate, puiSize, WG_AUTHORIZED_TEMPLATE_SIZE);
}

WG_API WGSensorStatus DecompressAuthorizedTemplate(uint8_t* pTemplate, const uint8_t* pInput,
                                                   uint32_t* puiSize) {
  return TransferObject(pTemplate, pInput, puiSize, WG_AUTHORIZED_TEMPLATE_SIZE);
}

WG_API uint8_t* AssignAuthorizedTemplate(uint8_t* pDestination, const uint8_t* pSource) {
  return AssignObject(pDestination, pSource, WG_AUTHORIZED_TEMPLATE_SIZE);
}

WG_API WGSensorStatus LoadSearchPrint(const uint8_t* pTemplate) {
  if (pTemplate == nullptr) return SensorStatus(WG_BAD_POINTER);
  std::memcpy(g_aucSearchPrint, pTemplate, sizeof g_aucSearchPrint);
  return SensorStatus(WG_OK);
}

WG_API WGSensorStatus ComparePrints(const uint8_t* pTemplate, uint32_t* puiMatched) {
  if (pTemplate == nullptr || puiMatched == nullptr) return SensorStatus(WG_BAD_POINTER);
  // A template that fails its check is simply no match here.
  *puiMatched = WGMatchTemplatePair(pTemplate, g_aucSearchPrint) == WG_MATCH ? 1 : 0;
  return SensorStatus(WG_OK);
}
