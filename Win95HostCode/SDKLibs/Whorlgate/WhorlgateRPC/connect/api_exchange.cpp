#include "connect/api_exchange.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/api_messages.h"
#include "connect/client_error.h"
#include "connect/connection.h"
#include "connect/event_dispatch.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/time.h"
#include "shared/little_endian.h"
#include "shared/trace.h"
#include "whorlgate/wg_image.h"
#include "whorlgate/wg_results.h"

namespace {

constexpr uint32_t kEventReadBudgetMs = 500;
constexpr uint32_t kTemplateSizeTimeoutMs = 1000;

void Trace(uint32_t type, const char* text) { TraceMsg(TRACE_WHERE_RPC_DLL, type, text, nullptr); }
void TraceNumber(uint32_t type, const char* text, int32_t value) {
  TraceValue(TRACE_WHERE_RPC_DLL, type, text, value);
}

}  // namespace

void WGRpcUtilFillHeader(uint8_t* pRequest, uint32_t uiSize, uint16_t uiType) {
  StoreU32(pRequest + kApiMsgSize, uiSize);
  StoreU32(pRequest + kApiMsgProcessId, platform::CurrentProcessId());
  StoreU16(pRequest + kApiMsgType, uiType);
}

bool WGRpcUtilSendAPIMsg(const uint8_t* pRequest, uint16_t uiLength, const char* pszName,
                         bool bAbort) {
  (void)pszName;
  if (!InitPipeCommunications()) {
    Trace(TRACE_TYPE_CRITICAL, "WGRPC: could not init comm to server");
    return false;
  }
  if (bAbort) {
    uint32_t transaction = CurrentTransactionId();
    if (transaction != 0) WGAbortTransaction(transaction);
  }
  // A late reply or an event left over from earlier must not be taken for this request's answer.
  WGFlushInputPipe(m_pInputPipeCntl);
  TraceNumber(TRACE_TYPE_INFO, "WGRPC: Sending API message to server",
              uiLength >= kApiMsgHeaderSize ? LoadU16(pRequest + kApiMsgType) : 0);
  // A request that could not be written shows up as the time-out of the wait that follows.
  WGSendPipeMessage(m_pOutputPipeCntl, pRequest, uiLength);
  return true;
}

uint8_t* WGRpcUtilWaitAPIMsg(uint16_t uiType, uint32_t uiTimeoutMs, const char* pszName,
                             uint32_t uiMinLength, uint32_t* puiLength) {
  std::string name = pszName ? pszName : "";
  if (!m_pInputPipeCntl) {
    Trace(TRACE_TYPE_CRITICAL, ("WGRpcUtilWaitAPIMsg (" + name + ") time out waiting for server.").c_str());
    return nullptr;
  }
  for (;;) {
    uint32_t length = 0;
    uint8_t* message = WGReadPipe(m_pInputPipeCntl, uiTimeoutMs, &length);
    if (!message) {
      Trace(TRACE_TYPE_CRITICAL, ("WGRpcUtilWaitAPIMsg (" + name + ") time out waiting for server.").c_str());
      return nullptr;
    }
    uint16_t type = length >= kApiMsgHeaderSize ? LoadU16(message + kApiMsgType) : 0;
    if (type == WG_API_EVENT) {
      TraceNumber(TRACE_TYPE_INFO, "WGRPC: Received async. event ",
                  length >= kEventMsgSubCode ? LoadU16(message + kEventMsgEventType) : 0);
      TraceNumber(TRACE_TYPE_INFO, "WGRPC: Dropped async. event while waiting on API result", uiType);
      free(message);
      continue;
    }
    uint32_t needed = uiMinLength > kApiMsgHeaderSize ? uiMinLength : kApiMsgHeaderSize;
    if (type == uiType && length >= needed) {
      if (puiLength) *puiLength = length;
      return message;
    }
    Trace(TRACE_TYPE_CRITICAL, ("WGRpcUtilWaitAPIMsg (" + name + ") unexpected message type from server.").c_str());
    free(message);
    return nullptr;
  }
}

WGEventMessage* WGRpcUtilGetEventMsg() {
  if (!m_pInputPipeCntl) {
    Trace(TRACE_TYPE_WARNING, "WGRPC: m_pInputPipeCntl is NULL ");
    return nullptr;
  }
  if (WGPipeMessageWaiting(m_pInputPipeCntl, 0) == 0) return nullptr;
  uint32_t length = 0;
  uint8_t* message = WGReadPipe(m_pInputPipeCntl, kEventReadBudgetMs, &length);
  if (!message) {
    Trace(TRACE_TYPE_WARNING, "WGRPC: WGReadPipe() failed after successful query");
    return nullptr;
  }
  WGEventMessage* event = nullptr;
  bool isEvent = length >= kEventMsgData && LoadU16(message + kApiMsgType) == WG_API_EVENT;
  uint16_t dataLength = isEvent ? LoadU16(message + kEventMsgDataLength) : 0;
  // An image event's data is read by the application as a whole image buffer; one that brings
  // less is dropped like a missed picture.
  bool partialImage = isEvent && LoadU16(message + kEventMsgEventType) == WG_MSG_IMAGE &&
                      dataLength < WG_IMAGE_BUFFER_SIZE;
  // The data must lie inside the message, whatever its length field claims.
  if (isEvent && !partialImage && kEventMsgData + dataLength <= length) {
    event = static_cast<WGEventMessage*>(calloc(1, sizeof(WGEventMessage)));
    if (event && dataLength > 0) {
      // A zero behind the copy: texts (sound names, view texts) end inside the data whatever
      // the server sent.
      event->pData = calloc(1, dataLength + 1u);
      if (event->pData) {
        memcpy(event->pData, message + kEventMsgData, dataLength);
      } else {
        free(event);
        event = nullptr;
      }
    }
    if (event) {
      event->uiMessageType = LoadU16(message + kEventMsgEventType);
      event->iSubCode = LoadI16(message + kEventMsgSubCode);
      TraceNumber(TRACE_TYPE_INFO, "WGRPC: Got event message-- message type = ", event->uiMessageType);
    }
  } else if (partialImage) {
    Trace(TRACE_TYPE_WARNING, "WGRPC: Image event without a whole image buffer, dropping.");
  } else {
    Trace(TRACE_TYPE_WARNING, "WGRPC: Expected event message-- got unexpected type, dropping.");
  }
  free(message);
  return event;
}

bool WGRpcUtilAwaitClientPipe(uint32_t uiMs) {
  PipeCntl* pipe = m_pInputPipeCntl;
  if (!pipe) {
    platform::SleepMs(uiMs);
    return false;
  }
  return platform::WaitForEvent(pipe->hMsgRdy, uiMs);
}

uint16_t GetMaxTemplateSize() {
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING GetMaxTemplateSize");
  uint8_t request[kTemplateSizeMsgSize] = {};
  WGRpcUtilFillHeader(request, kTemplateSizeMsgSize, WG_API_GETTEMPLATESIZE);
  if (!WGRpcUtilSendAPIMsg(request, kTemplateSizeMsgSize, "GetMaxTemplateSize", false)) {
    Trace(TRACE_TYPE_API_RESULT, "GetMaxTemplateSize: returning 0");
    TraceExit(TRACE_WHERE_RPC_DLL, "EXITING GetMaxTemplateSize");
    ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR, nullptr);
    return 0;
  }
  Trace(TRACE_TYPE_INFO, "GetMaxTemplateSize: Waiting for response from server");
  uint8_t* reply = WGRpcUtilWaitAPIMsg(WG_API_GETTEMPLATESIZE, kTemplateSizeTimeoutMs,
                                       "GetMaxTemplateSize", kTemplateSizeReplyLength);
  if (!reply) {
    ReportClientError(WGERR_SERVER_NOT_RESPONDING, nullptr);
    Trace(TRACE_TYPE_API_RESULT, "GetMaxTemplateSize: returning 0");
    TraceExit(TRACE_WHERE_RPC_DLL, "EXITING GetMaxTemplateSize");
    return 0;
  }
  uint16_t size = LoadU16(reply + kTemplateSizeReplySize);
  int16_t result = LoadI16(reply + kTemplateSizeReplyResult);
  free(reply);
  if (result != WG_OK) {
    Trace(TRACE_TYPE_CRITICAL, "ERROR GetMaxTemplateSize: result of WG_API_GETTEMPLATESIZE != WG_OK");
    TraceExit(TRACE_WHERE_RPC_DLL, "EXITING GetMaxTemplateSize");
    ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR, nullptr);
    return 0;
  }
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING GetMaxTemplateSize OK");
  return size;
}
