#include "server/dispatch.h"

#include <cstdio>

#include "api/basic_messages.h"
#include "api/comm_port_messages.h"
#include "api/image_stream_messages.h"
#include "api/transaction_messages.h"
#include "local/acquire_messages.h"
#include "server/capture_requests.h"
#include "server/comm_port.h"
#include "server/connection_requests.h"
#include "server/context_requests.h"
#include "server/server_messages.h"
#include "server/service_requests.h"
#include "server/user_requests.h"
#include "shared/little_endian.h"
#include "shared/trace.h"
#include "whorlgate/wg_template.h"

namespace {

constexpr RequestRoute kRoutes[] = {
    {WG_API_CONNECT, kConnectMsgSize, CheckConnectPipeNumber, SessionUse::kFresh, ServeConnect},
    {WG_API_DISCONNECT, kDisconnectMsgSize, nullptr, SessionUse::kNone, ServeDisconnect},
    {WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize, nullptr, SessionUse::kOnDemand,
     ServeTemplateSize},
    // The smallest INIT carries an empty application block and no byte behind it.
    {WG_API_INIT, kInitMsgAppData, CheckInit, SessionUse::kOnDemand, ServeInit},
    {WG_API_CLOSE, kCloseMsgSize, nullptr, SessionUse::kOnDemand, ServeClose},
    {WG_API_GET_RESULT_DETAILS, kApiMsgHeaderSize, nullptr, SessionUse::kOnDemand,
     ServeResultDetails},
    {WG_API_SERVICE_REQUEST, kServiceMsgSize, nullptr, SessionUse::kOnDemand,
     ServeServiceRequest},
    {WG_API_GET_LEDS, kWordMsgSize, nullptr, SessionUse::kOnDemand, ServeGetLeds},
    {WG_API_SET_LEDS, kWordMsgSize, nullptr, SessionUse::kOnDemand, ServeSetLeds},
    {WG_API_GET_VERSION, kVersionMsgSize, nullptr, SessionUse::kOnDemand, ServeVersion},
    {WG_API_GET_NUMBER_USERS, kWordMsgSize, nullptr, SessionUse::kOnDemand, ServeNumberUsers},
    {WG_API_GET_NEXT_USER, kNextUserMsgSize, CheckNextUser, SessionUse::kOnDemand,
     ServeNextUser},
    {WG_API_GET_LIST_OF_ALL_USERS, kListMsgPiece, nullptr, SessionUse::kOnDemand,
     ServeListOfAllUsers},
    {WG_API_GET_USER_INFO, kUserInfoMsgSize, CheckUserRecord, SessionUse::kOnDemand,
     ServeUserInfo},
    {WG_API_DELETE_USER, kUserMsgSize, CheckUserRecord, SessionUse::kOnDemand, ServeDeleteUser},
    {WG_API_DELETE_FINGER, kDeleteFingerMsgSize, CheckUserRecord, SessionUse::kOnDemand,
     ServeDeleteFinger},
    {WG_API_SET_DISPLAY_NAME, kUserMsgSize, CheckUserRecord, SessionUse::kOnDemand,
     ServeSetDisplayName},
    {WG_API_DELETE_ALL_ENROLLED_USERS, kDeleteAllMsgSize, nullptr, SessionUse::kOnDemand,
     ServeDeleteAllUsers},
    // The capturing requests. The records they carry are opened by their handlers, which
    // refuse (rather than drop) one that does not open.
    {WG_API_ENROLL, kEnrollMsgSize, CheckUserRecord, SessionUse::kOnDemand, ServeEnroll},
    {WG_API_VALIDATE_ID, kValidateIdMsgSize, CheckUserRecord, SessionUse::kOnDemand,
     ServeValidateId},
    {WG_API_VALIDATE_FINGERS, kValidateFingersMsgRecord + WG_SMALL_REFERENCE_TEMPLATE_SIZE, nullptr,
     SessionUse::kOnDemand, ServeValidateFingers},
    {WG_API_IDENTIFY, kIdentifyMsgSize, nullptr, SessionUse::kOnDemand, ServeIdentify},
    {WG_API_BEGIN_ENROLL, kBeginEnrollMsgSize, CheckBeginEnroll, SessionUse::kOnDemand,
     ServeBeginEnroll},
    {WG_API_END_ENROLL, kEndEnrollMsgSize, nullptr, SessionUse::kOnDemand, ServeEndEnroll},
    {WG_API_BEGIN_VALIDATE_ID, kBeginValidateIdMsgSize, CheckBeginValidateId,
     SessionUse::kOnDemand, ServeBeginValidateId},
    {WG_API_END_VALIDATE_ID, kEndValidateIdMsgSize, nullptr, SessionUse::kOnDemand,
     ServeEndValidateId},
    {WG_API_BEGIN_IDENTIFY, kBeginIdentifyMsgSize, nullptr, SessionUse::kOnDemand,
     ServeBeginIdentify},
    {WG_API_END_IDENTIFY, kEndIdentifyMsgSize, nullptr, SessionUse::kOnDemand, ServeEndIdentify},
    {WG_API_BEGIN_VERIFY, kBeginVerifyMsgRecords + WG_SMALL_REFERENCE_TEMPLATE_SIZE, nullptr,
     SessionUse::kOnDemand, ServeBeginVerify},
    {WG_API_END_VERIFY, kEndVerifyMsgSize, nullptr, SessionUse::kOnDemand, ServeEndVerify},
    {WG_API_BEGIN_ACQUIRE_IMAGE, kBeginAcquireMsgNoRecordSize, CheckBeginAcquire,
     SessionUse::kOnDemand, ServeBeginAcquire},
    {WG_API_END_ACQUIRE_IMAGE, kEndAcquireMsgSize, nullptr, SessionUse::kOnDemand,
     ServeEndAcquire},
    {WG_API_ABORT_TRANSACTION, kAbortMsgSize, nullptr, SessionUse::kOnDemand,
     ServeAbortTransaction},
    {WG_API_OPEN_STREAM, kOpenStreamMsgSize, nullptr, SessionUse::kOnDemand, ServeOpenStream},
    {WG_API_CLOSE_STREAM, kCloseStreamMsgSize, nullptr, SessionUse::kOnDemand, ServeCloseStream},
    {WG_API_GET_CURRENT_IMAGE, kCurrentImageMsgSize, nullptr, SessionUse::kOnDemand,
     ServeCurrentImage},
    {WG_API_GET_IMAGE_STATE, kImageStateMsgSize, nullptr, SessionUse::kOnDemand, ServeImageState},
    {WG_API_GET_COMM_PORT, kCommMsgFixedSize, CheckCommPortRequest, SessionUse::kOnDemand,
     ServeGetCommPort},
    {WG_API_READ_COMM_PORT, kCommMsgFixedSize, CheckCommPortRequest, SessionUse::kOnDemand,
     ServeReadCommPort},
    {WG_API_WRITE_COMM_PORT, kCommMsgFixedSize, CheckCommPortRequest, SessionUse::kOnDemand,
     ServeWriteCommPort},
    {WG_API_RELEASE_COMM_PORT, kCommMsgFixedSize, CheckCommPortRequest, SessionUse::kOnDemand,
     ServeReleaseCommPort},
};

const RequestRoute* FindRoute(uint16_t type) {
  for (const RequestRoute& route : kRoutes) {
    if (route.type == type) return &route;
  }
  return nullptr;
}

// Any local account can write into the server pipe, so nothing of a message is trusted before
// these checks: the header must be whole and agree with what was read, the type must be one a
// client sends, the reply must have a client pipe to go to, and the message must be long
// enough for every field its handler reads.
const char* Validate(const uint8_t* bytes, uint32_t length, Request* request,
                     const RequestRoute** route) {
  if (length < kApiMsgHeaderSize) return "shorter than the message header";
  request->processId = LoadU32(bytes + kApiMsgProcessId);
  request->type = LoadU16(bytes + kApiMsgType);
  if (LoadU32(bytes + kApiMsgSize) != length) return "size field differs from the length read";
  if (length > kApiMaxRequestSize) return "longer than any request";
  *route = FindRoute(request->type);
  if (!*route) return "not a request type";
  if (request->processId == 0 || request->processId > kMaxClientProcessId) {
    return "process ID names no client pipe";
  }
  if (length < (*route)->minimumLength) return "shorter than its type";
  return (*route)->check ? (*route)->check(*request) : nullptr;
}

void TraceDropped(const char* fault, const Request& request) {
  char text[kTraceTextLength];
  snprintf(text, sizeof text, "Dropped request (%s): %u bytes, type %u, client %u", fault,
           request.length, request.type, request.processId);
  TraceMsg(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_WARNING, text, nullptr);
}

}  // namespace

void ServeMessage(ServerState& state, const uint8_t* bytes, uint32_t length) {
  Request request{bytes, length, 0, 0};
  const RequestRoute* route = nullptr;
  if (const char* fault = Validate(bytes, length, &request, &route)) {
    TraceDropped(fault, request);
    return;
  }
  Session* session = nullptr;
  switch (route->session) {
    case SessionUse::kNone:
      break;
    case SessionUse::kOnDemand:
      session = state.sessions.findOrOpen(request.processId);
      break;
    case SessionUse::kFresh:
      session = state.sessions.open(request.processId);
      break;
  }
  if (route->session != SessionUse::kNone && !session) {
    TraceDropped("no session for the client", request);
    return;
  }
  route->serve(state, request, session);
}

void FillReplyHeader(uint8_t* reply, uint32_t length, const Request& request) {
  StoreU32(reply + kApiMsgSize, length);
  StoreU32(reply + kApiMsgProcessId, request.processId);
  StoreU16(reply + kApiMsgType, request.type);
}

uint32_t NewToken(ServerState& state) {
  uint32_t token;
  do {
    token = static_cast<uint32_t>(state.random());
  } while (token == 0);
  return token;
}

void StreamsChanged(ServerState& state) {
  state.capture.setStreamsOpen(state.sessions.openStreams() > 0);
}

void RecordOutcome(Session& session, const Outcome& outcome) {
  session.details->record(outcome.result, outcome.flags, outcome.text);
}

void SendOutcome(Session& session, uint8_t* reply, uint32_t length, uint32_t resultOffset,
                 const Outcome& outcome) {
  StoreI16(reply + resultOffset, outcome.result);
  RecordOutcome(session, outcome);
  SendToClient(session, reply, length);
}
