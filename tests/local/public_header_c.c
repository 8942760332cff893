/* The public header as a C program sees it, built once as C99 and once as C11. */
#include "whorlgate.h"

#define WG_JOIN2(a, b) a##b
#define WG_JOIN(a, b) WG_JOIN2(a, b)
#define WG_FROM_C(name) WG_JOIN(name, WG_C_DIALECT)

const size_t WG_FROM_C(g_auiRecordSizes)[5] = {sizeof(WGImageTrailer), sizeof(WGImageBuffer),
                                               sizeof(WGBitmapInfoHeader), sizeof(WGBitmapHeader),
                                               sizeof(WGMatchTemplate)};

uint32_t WG_FROM_C(SizeCallsFrom)(void) {
  return (uint32_t)WGGetImageBufferSize() + WGGetOSBmpHeaderSize() + WGGetReferenceTemplateSize() +
         WGGetSmallReferenceTemplateSize();
}

WGResult WG_FROM_C(CallsFrom)(uint8_t* pHeader, uint8_t* pSmall, const uint8_t* pReference) {
  WGResult iResult = WGBuildOSBmpHeader(0, pHeader);
  if (iResult == WG_OK) iResult = WGConvertNormalReferenceTemplateToSmall(pSmall, pReference);
  return iResult;
}
