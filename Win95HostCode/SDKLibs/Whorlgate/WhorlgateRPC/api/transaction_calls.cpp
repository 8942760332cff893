// The transaction calls that every transaction shares: releasing event messages and aborting.
#include <cstdlib>

#include "connect/api_exchange.h"
#include "connect/api_messages.h"
#include "connect/client_error.h"
#include "connect/event_dispatch.h"
#include "shared/little_endian.h"
#include "shared/trace.h"
#include "whorlgate/wg_results.h"
#include "whorlgate/wg_transaction.h"

namespace {
constexpr uint32_t kAbortTimeoutMs = 10000;
}

WG_API void WGReleaseMessage(WGEventMessage* pMessage) {
  if (!pMessage) {
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_CRITICAL, "ERROR WGReleaseMessage: Bad parameter (NULL).", nullptr);
    return;
  }
  free(pMessage->pData);
  free(pMessage);
}

WG_API void WGAbortTransaction(uint32_t uiTransactionId) {
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING WGAbortTransaction");
  if (!IsTransactionActive() || uiTransactionId != CurrentTransactionId()) {
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_WARNING, "ERROR WGAbortTransaction: invalid transaction ID", nullptr);
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
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_WARNING, "ERROR WGAbortTransaction: server error during abort transaction", nullptr);
  }
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING WGAbortTransaction");
  free(reply);
}
