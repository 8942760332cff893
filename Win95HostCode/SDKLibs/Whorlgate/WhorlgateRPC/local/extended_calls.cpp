// The extended calls: the image acquisition (a transaction of its own kind) and the local
// building and comparing of templates.
#include "local/extended_calls.h"

#include <string.h>

#include <cstdio>
#include <cstring>

#include "api/api_call.h"
#include "connect/client_error.h"
#include "connect/event_dispatch.h"
#include "local/acquire_messages.h"
#include "local/matcher_adapter.h"
#include "local/size_call.h"
#include "local/template_record.h"
#include "shared/trace.h"
#include "whorlgate/wg_template.h"

namespace {

constexpr ApiCallSpec kBeginAcquire{"WGBeginAcquireImage", WG_API_BEGIN_ACQUIRE_IMAGE,
                                    kApiTimeoutMs, true};
constexpr ApiCallSpec kEndAcquire{"WGEndAcquireImage", WG_API_END_ACQUIRE_IMAGE, kApiTimeoutMs,
                                  false};
// The local calls share the call shape's traces; they send nothing.
constexpr ApiCallSpec kBuildMatch{"WGBuildMatchTemplate", 0, 0, false};
constexpr ApiCallSpec kBuildReference{"WGBuildReferenceTemplate", 0, 0, false};
constexpr ApiCallSpec kMatch{"WGMatchTemplatePair", 0, 0, false};

constexpr const char* kBadParameter = "Bad parameter (NULL).";
constexpr const char* kServerRefusedText =
    "There is some type of problem in the server, new transaction can not be started.";
// The sealed bytes a comparison traces, to tell records apart in a trace.
constexpr int kTracedRecordBytes = 28;

void Critical(const char* pszText) {
  TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_CRITICAL, pszText, nullptr);
}

bool IsCurrentTransaction(uint32_t uiTransactionId) {
  return IsTransactionActive() && uiTransactionId == CurrentTransactionId();
}

}  // namespace

WG_API uint32_t WGBeginAcquireImage(WGTransactionCallback pCallback, uint32_t uiUserValue,
                                    uint16_t usAcquireOption, const uint8_t* pTemplate) {
  const ApiCallSpec& spec = kBeginAcquire;
  ApiEnter(spec);
  if (IsTransactionActive()) {
    Critical("ERROR WGBeginAcquireImage: transaction already active");
    ApiStep(spec, "returning WG_FUNCTION_FAILED", TRACE_TYPE_API_RESULT);
    ApiExit(spec, ": ERROR transaction active");
    ReportClientError(WGERR_CLIENT_PREV_TRNSACTN_IN_PROG, nullptr);
    return 0;
  }
  // Applications hold sealed records only, so the record's own (enciphered) first bytes say
  // nothing: its header is opened to learn its form, and it travels sealed as it came.
  uint16_t uiRecordSize = 0;
  if (pTemplate != nullptr && !WGCheckIOTemplateRec(pTemplate, nullptr, &uiRecordSize)) {
    Critical("ERROR WGBeginAcquireImage: Input Template Corrupted.");
    ApiStep(spec, "returning 0", TRACE_TYPE_API_RESULT);
    ApiExit(spec);
    return 0;
  }
  ApiRequest request(spec, pTemplate != nullptr ? kBeginAcquireMsgRecord + uiRecordSize
                                                : kBeginAcquireMsgNoRecordSize);
  request.setU16(kBeginAcquireMsgOption, usAcquireOption);
  request.setU32(kBeginAcquireMsgHasRecord, pTemplate != nullptr ? 1 : 0);
  if (pTemplate != nullptr) request.setBytes(kBeginAcquireMsgRecord, pTemplate, uiRecordSize);
  ApiReply reply;
  if (!ApiExchange(spec, request, kBeginAcquireReplySize, &reply, "returning 0")) return 0;
  if (reply.i16(kBeginAcquireMsgResult) != 0) {
    Critical("ERROR WGBeginAcquireImage: server error starting transaction");
    ReportClientError(WGERR_IMAGE_REQUEST_REFUSED, kServerRefusedText);
    ApiExit(spec);
    return 0;
  }
  SetEventRegistration(pCallback, uiUserValue, true, true);
  const uint32_t uiTransactionId = CurrentTransactionId();
  TraceValue(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT,
             "WGBeginAcquireImage: transaction id = ", static_cast<int32_t>(uiTransactionId));
  ApiExit(spec);
  return uiTransactionId;
}

WG_API WGResult WGEndAcquireImage(uint32_t uiTransactionId, uint8_t* pImageBuffer) {
  const ApiCallSpec& spec = kEndAcquire;
  ApiEnter(spec);
  if (!IsCurrentTransaction(uiTransactionId)) {
    Critical("ERROR WGEndAcquireImage: invalid transaction ID");
    ApiStep(spec, "returning WG_FUNCTION_FAILED", TRACE_TYPE_API_RESULT);
    ApiExit(spec, ": ERROR bad transaction");
    ReportClientError(WGERR_CLIENT_NO_CURRENT_TRNSACTN, nullptr);
    return WG_FUNCTION_FAILED;
  }
  // Before the request goes out, so that the event thread leaves the reply alone.
  ClearEventRegistration();
  ApiRequest request(spec, kEndAcquireMsgSize);
  ApiReply reply;
  if (!ApiExchange(spec, request, kEndAcquireReplySize, &reply)) return WG_FUNCTION_FAILED;
  const WGResult iResult = reply.i16(kEndAcquireMsgResult);
  // The server's image goes to the caller whatever its verdict on it.
  if (pImageBuffer != nullptr) {
    std::memcpy(pImageBuffer, reply.data() + kEndAcquireMsgImage, WG_IMAGE_BUFFER_SIZE);
  }
  if (iResult != WG_OK) Critical("ERROR WGEndAcquireImage: server error while ending transaction");
  return ApiFinish(spec, iResult, "retcode = ");
}

WG_API uint16_t WGGetMatchTemplateSize(void) {
  return TraceSizeCall("WGGetMatchTemplateSize", WG_MATCH_TEMPLATE_SIZE);
}

WG_API WGResult WGBuildMatchTemplate(const uint8_t* pImageBuffer, uint8_t* pMatchTemplate) {
  const ApiCallSpec& spec = kBuildMatch;
  ApiEnter(spec);
  if (pImageBuffer == nullptr || pMatchTemplate == nullptr) {
    Critical("ERROR WGBuildMatchTemplate: Bad parameter (NULL).");
    ApiStep(spec, "returning WG_BAD_POINTER", TRACE_TYPE_API_RESULT);
    ApiExit(spec);
    return WG_BAD_POINTER;
  }
  return ApiFinish(spec, WGSBuildMatchTemplate(pImageBuffer, pMatchTemplate),
                   "WGSBuildMatchTemplate result = ");
}

WG_API WGResult WGBuildReferenceTemplate(const uint8_t* pImageBuffer, uint8_t* pRecord) {
  const ApiCallSpec& spec = kBuildReference;
  ApiEnter(spec);
  if (pImageBuffer == nullptr || pRecord == nullptr) {
    ApiBadArgument(spec, kBadParameter, "returning WG_BAD_POINTER");
    return WG_BAD_POINTER;
  }
  const WGResult iResult = WGSBuildReferenceTemplate(pImageBuffer, pRecord, nullptr);
  // A built record carries type 23, which sealing always accepts.
  if (iResult == WG_OK) WGEncryptIOTemplateRecForExport(pRecord);
  ApiExit(spec);
  return iResult;
}

WGResult DecideMatch(WGResult iAdapterResult, float fScore, const WGMatchCriteria* pCriteria,
                     WGMatchDetails* pDetails) {
  if (iAdapterResult != WG_MATCH && iAdapterResult != WG_NO_MATCH) return iAdapterResult;
  const Confidences confidences = WGScoreToConfidence(fScore);
  WGResult iResult = iAdapterResult;
  if (pCriteria != nullptr) {
    const bool bFallingMet = confidences.uiFalling <= pCriteria->usFallingConfidenceLimit;
    const bool bRisingMet = confidences.uiRising <= pCriteria->usRisingConfidenceLimit ||
                            pCriteria->ulIgnoreRisingLimit != 0;
    iResult = bFallingMet && bRisingMet ? WG_MATCH : WG_NO_MATCH;
  }
  if (pDetails != nullptr) {
    *pDetails =
        WGMatchDetails{iResult == WG_MATCH ? 1 : 0, confidences.uiFalling, confidences.uiRising};
  }
  return iResult;
}

WG_API WGResult WGMatchTemplatePairEx(const uint8_t* pRecord, const uint8_t* pMatchTemplate,
                                      const WGMatchCriteria* pCriteria, WGMatchDetails* pDetails,
                                      [[maybe_unused]] uint32_t ulReserved) {
  const ApiCallSpec& spec = kMatch;
  ApiEnter(spec);
  for (int i = 0; pRecord != nullptr && i < kTracedRecordBytes; ++i) {
    char szText[kTraceTextLength];
    std::snprintf(szText, sizeof szText,
                  "WGMatchTemplatePair: Before WGDecipherIOTemplateRec, byte %d = %d", i,
                  pRecord[i]);
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT, szText, nullptr);
  }
  if (pRecord == nullptr || pMatchTemplate == nullptr) {
    ApiBadArgument(spec, kBadParameter, "returning WG_BAD_POINTER");
    return WG_BAD_POINTER;
  }
  // The application's record stays sealed; only this private copy is opened.
  uint8_t aucPlain[WG_REFERENCE_TEMPLATE_SIZE];
  if (!OpenTemplateRecordCopy(pRecord, aucPlain, nullptr, nullptr)) {
    ApiBadArgument(spec, "Input Reference Template Invalid, exiting fucntion.");
    return WG_FUNCTION_FAILED;
  }
  MatchFigures figures{};
  const WGResult iAdapterResult = WGSMatchTemplatePair(aucPlain, pMatchTemplate, &figures);
  explicit_bzero(aucPlain, sizeof aucPlain);
  return ApiFinish(spec, DecideMatch(iAdapterResult, figures.fS, pCriteria, pDetails),
                   "BII_LOCAL result = ");
}

WG_API WGResult WGMatchTemplatePair(const uint8_t* pRecord, const uint8_t* pMatchTemplate) {
  return WGMatchTemplatePairEx(pRecord, pMatchTemplate, nullptr, nullptr, 0);
}
