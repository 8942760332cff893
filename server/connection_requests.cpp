#include "server/connection_requests.h"

#include "server/server_messages.h"
#include "shared/little_endian.h"
#include "shared/trace.h"
#include "whorlgate/wg_results.h"
#include "whorlgate/wg_template.h"

namespace {

void Trace(const char* text, uint32_t processId) {
  TraceValue(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_INFO, text, static_cast<int32_t>(processId));
}

}  // namespace

const char* CheckConnectPipeNumber(const Request& request) {
  int32_t pipeNumber = LoadI32(request.bytes + kConnectMsgPipeNumber);
  if (pipeNumber != static_cast<int32_t>(request.processId)) {
    return "connect names a pipe other than the client's own";
  }
  return nullptr;
}

void ServeConnect(ServerState&, const Request& request, Session* session) {
  Trace("Connect from client", request.processId);
  uint8_t reply[kConnectReplyLength];
  FillReplyHeader(reply, sizeof reply, request);
  StoreI16(reply + kConnectReplyResult, WG_OK);
  SendToClient(*session, reply, sizeof reply);
}

void ServeDisconnect(ServerState& state, const Request& request, Session*) {
  Trace("Disconnect from client", request.processId);
  state.sessions.close(request.processId);
}

void ServeTemplateSize(ServerState&, const Request& request, Session* session) {
  uint8_t reply[kTemplateSizeReplyLength];
  FillReplyHeader(reply, sizeof reply, request);
  // The largest template a client receives is the sealed reference template record.
  StoreU16(reply + kTemplateSizeReplySize, WG_REFERENCE_TEMPLATE_SIZE);
  StoreI16(reply + kTemplateSizeReplyResult, WG_OK);
  SendToClient(*session, reply, sizeof reply);
}
