// Exported calls for reference template records.
#include <string.h>

#include <cstring>

#include "local/size_call.h"
#include "local/template_record.h"
#include "shared/little_endian.h"
#include "shared/trace.h"

WG_API uint16_t WGGetReferenceTemplateSize(void) {
  return TraceSizeCall("WGGetReferenceTemplateSize", WG_REFERENCE_TEMPLATE_SIZE);
}

WG_API uint16_t WGGetSmallReferenceTemplateSize(void) {
  return TraceSizeCall("WGGetSmallReferenceTemplateSize", WG_SMALL_REFERENCE_TEMPLATE_SIZE);
}

namespace {

WGResult ConversionFailed(const char* pszWhy) {
  TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT, pszWhy, nullptr);
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING WGConvertNormalReferenceTemplateToSmall");
  return WG_FUNCTION_FAILED;
}

}  // namespace

WG_API WGResult WGConvertNormalReferenceTemplateToSmall(uint8_t* pSmall,
                                                        const uint8_t* pReference) {
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING WGConvertNormalReferenceTemplateToSmall");
  // The caller's record stays sealed; only a private copy is opened.
  uint8_t aucPlain[WG_REFERENCE_TEMPLATE_SIZE];
  int16_t iType = 0;
  const char* pszFault = nullptr;
  if (!OpenTemplateRecordCopy(pReference, aucPlain, &iType, nullptr)) {
    pszFault =
        "WGConvertNormalReferenceTemplateToSmall: Function failed...Input Template Corrupted.";
  } else if (iType != WG_REFERENCE_TEMPLATE_TYPE) {
    pszFault =
        "WGConvertNormalReferenceTemplateToSmall: Function failed...Input Template Not Correct "
        "Type.";
  } else if (pSmall == nullptr) {
    pszFault = "WGConvertNormalReferenceTemplateToSmall: Function failed...Output Buffer NULL.";
  }
  if (pszFault != nullptr) {
    explicit_bzero(aucPlain, sizeof aucPlain);
    return ConversionFailed(pszFault);
  }
  StoreI16(pSmall + kRecType, WG_SMALL_REFERENCE_TEMPLATE_TYPE);
  StoreI16(pSmall + kRecTypeAgain, WG_SMALL_REFERENCE_TEMPLATE_TYPE);
  StoreU16(pSmall + kRecSize, WG_SMALL_REFERENCE_TEMPLATE_SIZE);
  std::memcpy(pSmall + kSmallRecTrailer, aucPlain + kRecTrailer, WG_IMAGE_TRAILER_SIZE);
  std::memcpy(pSmall + kRecMatcherTemplate, aucPlain + kRecMatcherTemplate,
              kSmallMatcherTemplateSize);
  pSmall[kSmallRecMark] = kSmallRecMarkValue;
  explicit_bzero(aucPlain, sizeof aucPlain);
  WGEncryptIOTemplateRecForExport(pSmall);
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING WGConvertNormalReferenceTemplateToSmall");
  return WG_OK;
}
