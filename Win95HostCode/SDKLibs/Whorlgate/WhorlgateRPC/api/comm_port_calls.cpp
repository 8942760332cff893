// The comm port calls: four over one message layout, and the restart over the service channel.
#include <cstring>

#include "api/api_call.h"
#include "api/comm_port_messages.h"
#include "connect/client_error.h"
#include "connect/service_block.h"
#include "shared/trace.h"
#include "whorlgate/wg_comm.h"

namespace {

constexpr ApiCallSpec kGetCommPort{"WGGetCommPort", WG_API_GET_COMM_PORT, kApiTimeoutMs, false};
constexpr ApiCallSpec kReadCommPort{"WGReadCommPort", WG_API_READ_COMM_PORT, kApiTimeoutMs, false};
constexpr ApiCallSpec kWriteCommPort{"WGWriteCommPort", WG_API_WRITE_COMM_PORT, kApiTimeoutMs,
                                     false};
constexpr ApiCallSpec kReleaseCommPort{"WGReleaseCommPort", WG_API_RELEASE_COMM_PORT, kApiTimeoutMs,
                                       false};

constexpr const char* kRetval = "retval =";

// The request builder of the four calls: 21 + L bytes, the caller's data at the end.
bool StartCommPortIO(const ApiCallSpec& spec, const uint8_t* pData, uint16_t uiLength,
                     uint32_t ulReadParameter, ApiReply* pReply) {
  ApiRequest request(spec, kCommMsgFixedSize + uiLength);
  request.setU16(kCommMsgCount, 0);
  request.setU32(kCommMsgReadParameter, ulReadParameter);
  request.setU16(kCommMsgLength, uiLength);
  request.setBytes(kCommMsgData, pData, uiLength);
  ApiOutcome outcome = ApiTransact(spec, request, kCommMsgData, pReply);
  if (outcome == ApiOutcome::kNotSent) {
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT, "StartCommPortIO: returning NULL",
             nullptr);
  }
  return outcome == ApiOutcome::kReply;
}

// Checks the data, then the exchange. False, with the failure traced and reported, when the
// call is to return WG_FUNCTION_FAILED.
bool CommPortExchange(const ApiCallSpec& spec, const uint8_t* pData, uint16_t uiLength,
                      uint32_t ulReadParameter, ApiReply* pReply) {
  if (!pData && uiLength != 0) {
    ApiBadArgument(spec, "bad input pointer (NULL)");
    return false;
  }
  // 21 + L must fit the message's 16-bit size; a wrapped size would cut the data short.
  if (uiLength > kCommMsgMaxData) {
    ApiBadArgument(spec, "data too long for one message");
    return false;
  }
  if (StartCommPortIO(spec, pData, uiLength, ulReadParameter, pReply)) return true;
  ApiError(spec, "timed out waiting for server reply, returning WG_FUNCTION_FAILED");
  ApiExit(spec);
  return false;
}

WGResult CommPortCall(const ApiCallSpec& spec, const uint8_t* pData, uint16_t uiLength) {
  ApiEnter(spec);
  ApiReply reply;
  if (!CommPortExchange(spec, pData, uiLength, 0, &reply)) return WG_FUNCTION_FAILED;
  return ApiFinish(spec, reply.i16(kCommMsgResult), kRetval);
}

}  // namespace

WG_API WGResult WGGetCommPort(const uint8_t* pData, uint16_t uiLength) {
  return CommPortCall(kGetCommPort, pData, uiLength);
}

WG_API WGResult WGWriteCommPort(const uint8_t* pData, uint16_t uiLength) {
  return CommPortCall(kWriteCommPort, pData, uiLength);
}

WG_API WGResult WGReleaseCommPort(const uint8_t* pData, uint16_t uiLength) {
  return CommPortCall(kReleaseCommPort, pData, uiLength);
}

WG_API WGResult WGReadCommPort(uint8_t* pBuffer, uint16_t uiLength, uint16_t* puiCount,
                               uint32_t ulReadParameter) {
  const ApiCallSpec& spec = kReadCommPort;
  ApiEnter(spec);
  if (!puiCount) return ApiBadArgument(spec, "bad input pointer (NULL)");
  *puiCount = 0;
  ApiReply reply;
  if (!CommPortExchange(spec, pBuffer, uiLength, ulReadParameter, &reply))
    return WG_FUNCTION_FAILED;
  int16_t result = reply.i16(kCommMsgResult);
  if (result == WG_OK) {
    uint16_t count = reply.u16(kCommMsgCount);
    // The bytes read must fit the caller's buffer and lie inside the reply, whatever the
    // server says.
    if (count > uiLength || kCommMsgData + count > reply.size()) {
      ApiError(spec, "read reply larger than the buffer");
      ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR,
                        "The server returned more comm port data than the read buffer holds.");
      return ApiFinish(spec, WG_FUNCTION_FAILED, kRetval);
    }
    *puiCount = count;
    if (count) memcpy(pBuffer, reply.data() + kCommMsgData, count);
  }
  return ApiFinish(spec, result, kRetval);
}

WG_API WGResult WGRestartCommPort(void) {
  // Traced by the two service requests themselves, which also record any client error.
  WGServiceBlock block;
  if (!ServicePrepare(&block)) return WG_FUNCTION_FAILED;
  block.aucBlock[kServiceBlockCommand] = kServiceRestartCommPort;
  return ServiceSend(&block, false) ? WG_OK : WG_FUNCTION_FAILED;
}
