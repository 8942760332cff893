// The transaction calls: a Begin starts a finger operation in the server and registers it, its
// events go to the callback or to WGContinueTransaction, and an End collects the result.
// Releasing event messages and aborting serve every kind of transaction.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/api_call.h"
#include "api/transaction_messages.h"
#include "connect/api_exchange.h"
#include "connect/api_messages.h"
#include "connect/client_error.h"
#include "connect/event_dispatch.h"
#include "local/template_record.h"
#include "shared/little_endian.h"
#include "shared/trace.h"
#include "whorlgate/wg_results.h"
#include "whorlgate/wg_transaction.h"

namespace {
constexpr uint32_t kAbortTimeoutMs = 10000;

// Begin requests capture a finger and go out with the abort flag, as every capturing request
// does; the server answers them at once and works with the user afterwards.
constexpr ApiCallSpec kBeginEnroll{"WGBeginEnroll", WG_API_BEGIN_ENROLL, kApiTimeoutMs, true};
constexpr ApiCallSpec kBeginValidateId{"WGBeginValidateID", WG_API_BEGIN_VALIDATE_ID, kApiTimeoutMs,
                                       true};
constexpr ApiCallSpec kBeginIdentify{"WGBeginIdentify", WG_API_BEGIN_IDENTIFY, kApiTimeoutMs, true};
constexpr ApiCallSpec kBeginVerify{"WGBeginVerify", WG_API_BEGIN_VERIFY, kApiTimeoutMs, true};
// The matching of validate ID, identify and verify may still run in the server at their End,
// so those wait as long as a capture; an enrollment's template is ready by its completion.
constexpr ApiCallSpec kEndEnroll{"WGEndEnroll", WG_API_END_ENROLL, kApiTimeoutMs, false};
constexpr ApiCallSpec kEndValidateId{"WGEndValidateID", WG_API_END_VALIDATE_ID,
                                     kApiCaptureTimeoutMs, false};
constexpr ApiCallSpec kEndValidateIdEx{"WGEndValidateIDEx", WG_API_END_VALIDATE_ID,
                                       kApiCaptureTimeoutMs, false};
constexpr ApiCallSpec kEndIdentify{"WGEndIdentify", WG_API_END_IDENTIFY, kApiCaptureTimeoutMs,
                                   false};
constexpr ApiCallSpec kEndIdentifyEx{"WGEndIdentifyEx", WG_API_END_IDENTIFY, kApiCaptureTimeoutMs,
                                     false};
constexpr ApiCallSpec kEndVerify{"WGEndVerify", WG_API_END_VERIFY, kApiCaptureTimeoutMs, false};
constexpr ApiCallSpec kEndVerifyEx{"WGEndVerifyEx", WG_API_END_VERIFY, kApiCaptureTimeoutMs, false};
// Takes the transaction's events from the client pipe; it sends nothing.
constexpr ApiCallSpec kContinue{"WGContinueTransaction", WG_API_EVENT, 0, false};

constexpr const char* kBadParameter = "Bad parameter (NULL).";
constexpr const char* kReturning0 = "returning 0";
constexpr const char* kReturningNull = "returning NULL";
constexpr const char* kReturningFailed = "returning WG_FUNCTION_FAILED";
constexpr const char* kReturningBadPointer = "returning WG_BAD_POINTER";
constexpr const char* kRetcode = "retcode = ";

// The template size the server announced when the enrollment `uiTransactionId` began: the
// caller's WGEndEnroll buffer holds at least that much, so no more is ever copied into it. The
// calls of a process do not overlap, so the record needs no lock.
struct AnnouncedTemplate {
  uint32_t uiTransactionId;
  int16_t iSize;
} g_AnnouncedTemplate{};

// One transaction at a time; the running one is left alone.
bool NoTransactionRunning(const ApiCallSpec& spec) {
  if (!IsTransactionActive()) return true;
  ReportClientError(WGERR_CLIENT_PREV_TRNSACTN_IN_PROG, nullptr);
  ApiError(spec, "transaction already active");
  ApiStep(spec, kReturningFailed, TRACE_TYPE_API_RESULT);
  ApiExit(spec, ": ERROR transaction active");
  return false;
}

uint32_t RefuseBegin(const ApiCallSpec& spec, const char* pszComplaint,
                     const char* pszFailureText = kReturning0) {
  ApiBadArgument(spec, pszComplaint, pszFailureText);
  return 0;
}

// The presence flag tells the server whether the eight option bytes mean anything.
void PutOptions(ApiRequest& request, uint32_t uiFlagOffset, uint32_t uiOptionsOffset,
                const WGCaptureOptions* pOptions) {
  request.setU32(uiFlagOffset, pOptions ? 1 : 0);
  if (pOptions) request.setBytes(uiOptionsOffset, pOptions, sizeof *pOptions);
}

bool BeginExchange(const ApiCallSpec& spec, const ApiRequest& request, uint32_t uiMinReply,
                   ApiReply* pReply) {
  return ApiExchange(spec, request, uiMinReply, pReply, kReturning0);
}

// The server has started the transaction when its result is 0; from here its events come.
uint32_t RegisterTransaction(const ApiCallSpec& spec, int16_t iResult,
                             WGTransactionCallback pCallback, uint32_t uiUserValue) {
  if (iResult != WG_OK) {
    ApiError(spec, "server error starting transaction");
    ApiExit(spec);
    return 0;
  }
  uint32_t id = SetEventRegistration(pCallback, uiUserValue, true, true);
  TraceValue(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT,
             (std::string(spec.pszName) + ": transaction id = ").c_str(), static_cast<int32_t>(id));
  ApiExit(spec);
  return id;
}

// Only the running transaction's id is accepted; another id, or none running, is the caller's
// mistake and leaves the registration as it is.
bool IsCurrentTransaction(const ApiCallSpec& spec, uint32_t uiTransactionId,
                          const char* pszFailureText) {
  uint32_t current = CurrentTransactionId();
  if (current != 0 && uiTransactionId == current) return true;
  ApiError(spec, "invalid transaction ID");
  ApiStep(spec, pszFailureText, TRACE_TYPE_API_RESULT);
  ApiExit(spec, ": ERROR bad transaction");
  ReportClientError(current != 0 ? WGERR_PARAMETER_INVALID : WGERR_CLIENT_NO_CURRENT_TRNSACTN,
                    nullptr);
  return false;
}

// The transaction is over for the library before its End request goes out, whatever the
// exchange brings: the event thread stops calling back and leaves the reply alone.
bool EndExchange(const ApiCallSpec& spec, uint32_t uiTransactionId, uint32_t uiRequestSize,
                 uint32_t uiMinReply, ApiReply* pReply) {
  if (!IsCurrentTransaction(spec, uiTransactionId, kReturningFailed)) return false;
  ClearEventRegistration();
  ApiRequest request(spec, uiRequestSize);
  return ApiExchange(spec, request, uiMinReply, pReply);
}

void CopyDetails(WGServerMatchDetails* pDetails, const ApiReply& reply, uint32_t uiOffset) {
  if (pDetails) memcpy(pDetails, reply.data() + uiOffset, sizeof *pDetails);
}

WGResult EndValidateId(const ApiCallSpec& spec, uint32_t uiTransactionId,
                       WGServerMatchDetails* pDetails) {
  ApiEnter(spec);
  ApiReply reply;
  if (!EndExchange(spec, uiTransactionId, kEndValidateIdMsgSize, kEndValidateIdMsgSize, &reply)) {
    return WG_FUNCTION_FAILED;
  }
  CopyDetails(pDetails, reply, kEndValidateIdMsgDetails);
  return ApiFinish(spec, reply.i16(kEndValidateIdMsgResult), kRetcode);
}

WGResult EndIdentify(const ApiCallSpec& spec, uint32_t uiTransactionId, WGUserRecord* pUser,
                     WGServerMatchDetails* pDetails) {
  ApiEnter(spec);
  ApiReply reply;
  if (!EndExchange(spec, uiTransactionId, kEndIdentifyMsgSize, kEndIdentifyMsgSize, &reply)) {
    return WG_FUNCTION_FAILED;
  }
  int16_t result = reply.i16(kEndIdentifyMsgResult);
  CopyDetails(pDetails, reply, kEndIdentifyMsgDetails);
  if (pUser && result == WG_MATCH) {
    memcpy(pUser, reply.data() + kEndIdentifyMsgUser, sizeof *pUser);
    EndUserTexts(pUser);
  }
  return ApiFinish(spec, result, kRetcode);
}

WGResult EndVerify(const ApiCallSpec& spec, uint32_t uiTransactionId, int16_t* piMatchValue,
                   WGServerMatchDetails* pDetails) {
  ApiEnter(spec);
  ApiReply reply;
  if (!EndExchange(spec, uiTransactionId, kEndVerifyMsgSize, kEndVerifyMsgSize, &reply)) {
    return WG_FUNCTION_FAILED;
  }
  int16_t result = reply.i16(kEndVerifyMsgResult);
  CopyDetails(pDetails, reply, kEndVerifyMsgDetails);
  if (piMatchValue) *piMatchValue = result == WG_MATCH ? reply.i16(kEndVerifyMsgMatchValue) : 0;
  return ApiFinish(spec, result, kRetcode);
}

}  // namespace

WG_API uint32_t WGBeginEnroll(WGTransactionCallback pCallback, uint32_t uiUserValue,
                              const WGCaptureOptions* pOptions, const WGUserRecord* pUser,
                              int16_t iFinger, int16_t* piTemplateSize) {
  const ApiCallSpec& spec = kBeginEnroll;
  ApiEnter(spec);
  if (!NoTransactionRunning(spec)) return 0;
  ApiRequest request(spec, kBeginEnrollMsgSize);
  PutOptions(request, kBeginEnrollMsgHasOptions, kBeginEnrollMsgOptions, pOptions);
  request.setU32(kBeginEnrollMsgHasUser, pUser ? 1 : 0);
  if (pUser) {
    request.setBytes(kBeginEnrollMsgUser, pUser, sizeof *pUser);
    request.setI16(kBeginEnrollMsgFinger, iFinger);
  }
  ApiReply reply;
  if (!BeginExchange(spec, request, kBeginEnrollMsgSize, &reply)) return 0;
  int16_t templateSize = reply.i16(kBeginEnrollMsgTemplateSize);
  if (piTemplateSize) *piTemplateSize = templateSize;
  uint32_t id = RegisterTransaction(spec, reply.i16(kBeginEnrollMsgResult), pCallback, uiUserValue);
  if (id) g_AnnouncedTemplate = {id, templateSize};
  return id;
}

WG_API WGResult WGEndEnroll(uint32_t uiTransactionId, uint8_t* pTemplate, int16_t* piTemplateSize,
                            WGUserRecord* pUser) {
  const ApiCallSpec& spec = kEndEnroll;
  ApiEnter(spec);
  if (!pTemplate || !piTemplateSize) {
    ApiBadArgument(spec, kBadParameter, kReturningBadPointer);
    return WG_BAD_POINTER;
  }
  ApiReply reply;
  if (!EndExchange(spec, uiTransactionId, kEndEnrollMsgSize, kEndEnrollMsgTemplate, &reply)) {
    return WG_FUNCTION_FAILED;
  }
  int16_t size = reply.i16(kEndEnrollMsgTemplateSize);
  int16_t announced =
      g_AnnouncedTemplate.uiTransactionId == uiTransactionId ? g_AnnouncedTemplate.iSize : 0;
  // The caller's buffer is as large as WGBeginEnroll said, and the template must lie inside
  // the reply, whatever the server claims now.
  if (size < 0 || size > announced ||
      kEndEnrollMsgTemplate + static_cast<uint32_t>(size) > reply.size()) {
    ApiError(spec, "template larger than WGBeginEnroll reported");
    ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR,
                      "The server returned a template larger than WGBeginEnroll reported.");
    return ApiFinish(spec, WG_FUNCTION_FAILED, kRetcode);
  }
  *piTemplateSize = size;
  if (size > 0) memcpy(pTemplate, reply.data() + kEndEnrollMsgTemplate, static_cast<size_t>(size));
  if (pUser) {
    memcpy(pUser, reply.data() + kEndEnrollMsgUser, sizeof *pUser);
    EndUserTexts(pUser);
  }
  return ApiFinish(spec, reply.i16(kEndEnrollMsgResult), kRetcode);
}

WG_API uint32_t WGBeginValidateID(WGTransactionCallback pCallback, uint32_t uiUserValue,
                                  const WGUserRecord* pUser, const WGCaptureOptions* pOptions) {
  const ApiCallSpec& spec = kBeginValidateId;
  ApiEnter(spec);
  if (!NoTransactionRunning(spec)) return 0;
  if (!pUser) return RefuseBegin(spec, kBadParameter, kReturningBadPointer);
  ApiRequest request(spec, kBeginValidateIdMsgSize);
  request.setBytes(kBeginValidateIdMsgUser, pUser, sizeof *pUser);
  PutOptions(request, kBeginValidateIdMsgHasOptions, kBeginValidateIdMsgOptions, pOptions);
  ApiReply reply;
  if (!BeginExchange(spec, request, kBeginValidateIdMsgSize, &reply)) return 0;
  return RegisterTransaction(spec, reply.i16(kBeginValidateIdMsgResult), pCallback, uiUserValue);
}

WG_API WGResult WGEndValidateID(uint32_t uiTransactionId) {
  return EndValidateId(kEndValidateId, uiTransactionId, nullptr);
}

WG_API WGResult WGEndValidateIDEx(uint32_t uiTransactionId, WGServerMatchDetails* pDetails, void*) {
  return EndValidateId(kEndValidateIdEx, uiTransactionId, pDetails);
}

WG_API uint32_t WGBeginIdentify(WGTransactionCallback pCallback, uint32_t uiUserValue,
                                const WGCaptureOptions* pOptions) {
  const ApiCallSpec& spec = kBeginIdentify;
  ApiEnter(spec);
  if (!NoTransactionRunning(spec)) return 0;
  ApiRequest request(spec, kBeginIdentifyMsgSize);
  PutOptions(request, kBeginIdentifyMsgHasOptions, kBeginIdentifyMsgOptions, pOptions);
  ApiReply reply;
  if (!BeginExchange(spec, request, kBeginIdentifyMsgSize, &reply)) return 0;
  return RegisterTransaction(spec, reply.i16(kBeginIdentifyMsgResult), pCallback, uiUserValue);
}

WG_API WGResult WGEndIdentify(uint32_t uiTransactionId, WGUserRecord* pUser) {
  return EndIdentify(kEndIdentify, uiTransactionId, pUser, nullptr);
}

WG_API WGResult WGEndIdentifyEx(uint32_t uiTransactionId, WGUserRecord* pUser,
                                WGServerMatchDetails* pDetails, void*) {
  return EndIdentify(kEndIdentifyEx, uiTransactionId, pUser, pDetails);
}

WG_API uint32_t WGBeginVerify(WGTransactionCallback pCallback, uint32_t uiUserValue,
                              const uint8_t* const* ppTemplateRecords, int16_t iNumRecords,
                              const WGCaptureOptions* pOptions) {
  const ApiCallSpec& spec = kBeginVerify;
  ApiEnter(spec);
  if (!NoTransactionRunning(spec)) return 0;
  if (!ppTemplateRecords) return RefuseBegin(spec, kBadParameter, kReturningBadPointer);
  if (iNumRecords < 0) return RefuseBegin(spec, "bad number of records");
  // Every record is measured by its own check; one that fails it has no length to copy by.
  std::vector<uint16_t> lengths(static_cast<size_t>(iNumRecords));
  uint32_t size = kBeginVerifyMsgRecords;
  for (size_t i = 0; i < lengths.size(); ++i) {
    if (!ppTemplateRecords[i]) return RefuseBegin(spec, kBadParameter, kReturningBadPointer);
    if (!WGCheckIOTemplateRec(ppTemplateRecords[i], nullptr, &lengths[i])) {
      ApiStep(spec, "Input Template Corrupted.", TRACE_TYPE_API_RESULT);
      ApiStep(spec, kReturning0, TRACE_TYPE_API_RESULT);
      ApiExit(spec);
      return 0;
    }
    size += lengths[i];
  }
  // The request travels with a 16-bit size; a set that would wrap it is refused whole.
  if (size > kApiMaxRequestSize)
    return RefuseBegin(spec, "template records too large for one message");
  ApiRequest request(spec, size);
  PutOptions(request, kBeginVerifyMsgHasOptions, kBeginVerifyMsgOptions, pOptions);
  request.setI16(kBeginVerifyMsgCount, iNumRecords);
  uint32_t offset = kBeginVerifyMsgRecords;
  for (size_t i = 0; i < lengths.size(); ++i) {
    request.setBytes(offset, ppTemplateRecords[i], lengths[i]);
    offset += lengths[i];
  }
  ApiReply reply;
  if (!BeginExchange(spec, request, kBeginVerifyReplyLength, &reply)) return 0;
  return RegisterTransaction(spec, reply.i16(kBeginVerifyMsgResult), pCallback, uiUserValue);
}

WG_API WGResult WGEndVerify(uint32_t uiTransactionId, int16_t* piMatchValue) {
  return EndVerify(kEndVerify, uiTransactionId, piMatchValue, nullptr);
}

WG_API WGResult WGEndVerifyEx(uint32_t uiTransactionId, int16_t* piMatchValue,
                              WGServerMatchDetails* pDetails, void*) {
  return EndVerify(kEndVerifyEx, uiTransactionId, piMatchValue, pDetails);
}

WG_API WGEventMessage* WGContinueTransaction(uint32_t uiTransactionId) {
  const ApiCallSpec& spec = kContinue;
  ApiEnter(spec);
  if (!IsCurrentTransaction(spec, uiTransactionId, kReturningNull)) return nullptr;
  if (IsCallbackMode()) {
    ApiError(spec, "Asynchronous callback active. Polled mode not available.");
    ApiStep(spec, kReturningNull, TRACE_TYPE_API_RESULT);
    ApiExit(spec, ": ERROR async mode active");
    ReportClientError(WGERR_CLIENT_PREV_TRNSACTN_IN_PROG, nullptr);
    return nullptr;
  }
  WGEventMessage* message = WGRpcUtilGetEventMsg();
  if (message) {
    TraceValue(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT,
               "WGContinueTransaction: returning uiMessageType = ", message->uiMessageType);
    // The server has given up on the user: no End call follows.
    if (message->uiMessageType == WG_MSG_TIMEOUT) ClearEventRegistration();
  }
  ApiExit(spec);
  return message;
}

WG_API void WGReleaseMessage(WGEventMessage* pMessage) {
  if (!pMessage) {
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_CRITICAL,
             "ERROR WGReleaseMessage: Bad parameter (NULL).", nullptr);
    return;
  }
  free(pMessage->pData);
  free(pMessage);
}

WG_API void WGAbortTransaction(uint32_t uiTransactionId) {
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING WGAbortTransaction");
  if (!IsTransactionActive() || uiTransactionId != CurrentTransactionId()) {
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_WARNING,
             "ERROR WGAbortTransaction: invalid transaction ID", nullptr);
  }
  // Cleared before the request goes out, so that the event thread leaves the reply alone.
  ClearEventRegistration();
  uint8_t request[kAbortMsgSize] = {};
  WGRpcUtilFillHeader(request, kAbortMsgSize, WG_API_ABORT_TRANSACTION);
  WGRpcUtilSendAPIMsg(request, kAbortMsgSize, "WGAbortTransaction", false);
  uint8_t* reply = WGRpcUtilWaitAPIMsg(WG_API_ABORT_TRANSACTION, kAbortTimeoutMs,
                                       "WGAbortTransaction", kAbortReplyResult + 2);
  int16_t status = WG_FUNCTION_FAILED;
  if (reply) {
    status = LoadI16(reply + kAbortReplyResult);
  } else {
    ReportClientError(WGERR_SERVER_NOT_RESPONDING, nullptr);
  }
  if (status != WG_OK) {
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_WARNING,
             "ERROR WGAbortTransaction: server error during abort transaction", nullptr);
  }
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING WGAbortTransaction");
  free(reply);
}
