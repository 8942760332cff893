#include "api/api_call.h"

#include <cstring>
#include <string>

#include "connect/api_exchange.h"
#include "connect/client_error.h"
#include "shared/trace.h"
#include "whorlgate/wg_results.h"

namespace {

void Trace(uint32_t type, const std::string& text) {
  TraceMsg(TRACE_WHERE_RPC_DLL, type, text.c_str(), nullptr);
}

}  // namespace

ApiRequest::ApiRequest(const ApiCallSpec& spec, uint32_t size) : bytes_(size, 0) {
  WGRpcUtilFillHeader(bytes_.data(), size, spec.uiType);
}

void ApiRequest::setBytes(uint32_t offset, const void* p, uint32_t n) {
  if (n) memcpy(data() + offset, p, n);
}

void ApiEnter(const ApiCallSpec& spec) {
  TraceEnter(TRACE_WHERE_RPC_DLL, ("ENTERING " + std::string(spec.pszName)).c_str());
}

void ApiExit(const ApiCallSpec& spec, const char* pszSuffix) {
  TraceExit(TRACE_WHERE_RPC_DLL, ("EXITING " + std::string(spec.pszName) + pszSuffix).c_str());
}

void ApiStep(const ApiCallSpec& spec, const char* pszText, uint32_t uiTraceType) {
  Trace(uiTraceType, std::string(spec.pszName) + ": " + pszText);
}

void EndUserTexts(WGUserRecord* pUser) {
  pUser->szUserID[sizeof pUser->szUserID - 1] = '\0';
  pUser->szDisplayName[sizeof pUser->szDisplayName - 1] = '\0';
}

void ApiError(const ApiCallSpec& spec, const char* pszFault) {
  Trace(TRACE_TYPE_CRITICAL, "ERROR " + std::string(spec.pszName) + ": " + pszFault);
}

int16_t ApiBadArgument(const ApiCallSpec& spec, const char* pszComplaint,
                       const char* pszFailureText) {
  ApiError(spec, pszComplaint);
  ApiStep(spec, pszFailureText, TRACE_TYPE_API_RESULT);
  ApiExit(spec);
  ReportClientError(WGERR_PARAMETER_INVALID, nullptr);
  return WG_FUNCTION_FAILED;
}

bool ApiExchange(const ApiCallSpec& spec, const ApiRequest& request, uint32_t uiMinReply,
                 ApiReply* pReply, const char* pszFailureText) {
  if (ApiTransact(spec, request, uiMinReply, pReply) == ApiOutcome::kReply) return true;
  ApiStep(spec, pszFailureText, TRACE_TYPE_API_RESULT);
  ApiExit(spec);
  return false;
}

ApiOutcome ApiTransact(const ApiCallSpec& spec, const ApiRequest& request, uint32_t uiMinReply,
                       ApiReply* pReply) {
  // Requests travel with a 16-bit length; a size that does not fit is refused, not wrapped.
  if (request.size() > kApiMaxRequestSize ||
      !WGRpcUtilSendAPIMsg(request.data(), static_cast<uint16_t>(request.size()), spec.pszName,
                           spec.bAbort)) {
    ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR, nullptr);
    return ApiOutcome::kNotSent;
  }
  ApiStep(spec, "waiting for response from server");
  uint32_t length = 0;
  uint8_t* reply = WGRpcUtilWaitAPIMsg(spec.uiType, spec.uiTimeoutMs, spec.pszName, uiMinReply, &length);
  if (!reply) {
    ReportClientError(WGERR_SERVER_NOT_RESPONDING, nullptr);
    return ApiOutcome::kNoReply;
  }
  pReply->reset(reply, length);
  return ApiOutcome::kReply;
}

int16_t ApiFinish(const ApiCallSpec& spec, int16_t iResult, const char* pszLabel) {
  TraceValue16(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT,
               (std::string(spec.pszName) + ": " + pszLabel).c_str(), iResult);
  ApiExit(spec);
  return iResult;
}
