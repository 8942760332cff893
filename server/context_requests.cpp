#include "server/context_requests.h"

#include <algorithm>
#include <cstring>

#include "api/basic_messages.h"
#include "shared/little_endian.h"
#include "shared/trace.h"

namespace {

// Enough for any application's use; a client that opens contexts without closing them runs
// out here instead of growing the server without end.
constexpr size_t kMaxContextsPerClient = 64;
// The INIT reply: the request's layout with an empty application block.
constexpr uint32_t kInitReplyLength = kInitMsgAppData + 1;

constexpr Outcome kTooManyContexts = {WG_FUNCTION_FAILED, kDetailRefused,
                                      "The client has too many contexts open."};

}  // namespace

const char* CheckInit(const Request& request) {
  uint32_t appLength = LoadU16(request.bytes + kInitMsgAppLength);
  if (kInitMsgAppData + appLength > request.length) {
    return "application block runs past the message";
  }
  return nullptr;
}

void ServeInit(ServerState& state, const Request& request, Session* session) {
  // The application block has no meaning to this server: it is checked and not kept.
  uint8_t reply[kInitReplyLength] = {};
  FillReplyHeader(reply, sizeof reply, request);
  StoreU32(reply + kInitMsgAlwaysOne, 1);
  uint32_t context = 0;
  if (session->contexts.size() < kMaxContextsPerClient) {
    do {
      context = NewToken(state);
    } while (session->contexts.count(context));
    session->contexts.insert(context);
    TraceValue(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_INFO, "Context opened for client",
               static_cast<int32_t>(request.processId));
  }
  StoreU32(reply + kInitMsgContext, context);
  // The reply carries no result code: 0 for the handle says the server refused.
  RecordOutcome(*session, context ? kSucceeded : kTooManyContexts);
  SendToClient(*session, reply, sizeof reply);
}

void ServeClose(ServerState& state, const Request& request, Session* session) {
  uint8_t reply[kCloseMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  uint32_t context = LoadU32(request.bytes + kCloseMsgContext);
  StoreU32(reply + kCloseMsgContext, context);
  bool closed = context != 0 && session->contexts.erase(context) != 0;
  // A context's image stream ends with it.
  if (session->streams.erase(context) != 0) StreamsChanged(state);
  SendOutcome(*session, reply, sizeof reply, kCloseMsgResult,
              closed ? kSucceeded : kNoSuchContext);
}

void ServeResultDetails(ServerState&, const Request& request, Session* session) {
  // Explains the last result without becoming the last result itself.
  uint8_t reply[kDetailsMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  ResultDetails::Result last = session->details->last();
  StoreU32(reply + kDetailsMsgFlags, last.flags);
  size_t length = std::min<size_t>(last.text.size(), WG_RESULT_DETAILS_TEXT_SIZE - 1);
  memcpy(reply + kDetailsMsgText, last.text.data(), length);
  StoreI16(reply + kDetailsMsgResult, last.result);
  SendToClient(*session, reply, sizeof reply);
}
