#include "server/capture_requests.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "api/basic_messages.h"
#include "api/image_stream_messages.h"
#include "api/transaction_messages.h"
#include "connect/api_messages.h"
#include "local/acquire_messages.h"
#include "local/template_record.h"
#include "server/context_requests.h"
#include "server/server_messages.h"
#include "server/user_requests.h"
#include "shared/little_endian.h"
#include "shared/trace.h"

namespace {

constexpr Outcome kStarted = {WG_OK, 0, "The transaction has started."};
constexpr Outcome kSensorBusy = {WG_SENSOR_BUSY, kDetailRefused,
                                 "The sensor is busy with another client's capture."};
constexpr Outcome kEmptyUser = {WG_FUNCTION_FAILED, kDetailRefused, "The user ID is empty."};
constexpr Outcome kFingerOutOfRange = {WG_FUNCTION_FAILED, kDetailRefused,
                                       "Finger numbers are 0 to 254."};
constexpr Outcome kSmallBuffer = {WG_FUNCTION_FAILED, kDetailRefused,
                                  "The template buffer is smaller than a reference template record."};
constexpr Outcome kBadRecord = {WG_FUNCTION_FAILED, kDetailRefused,
                                "A record is not a sealed reference template record."};
constexpr Outcome kNoRecords = {WG_FUNCTION_FAILED, kDetailRefused,
                                "There is no record to verify against."};
constexpr Outcome kNothingFinished = {WG_FUNCTION_FAILED, kDetailRefused,
                                      "The client has no finished capture of this kind."};
constexpr Outcome kUnfinished = {WG_FUNCTION_FAILED, kDetailRefused,
                                 "The capture had not finished; it is stopped."};
constexpr Outcome kNoStream = {WG_FUNCTION_FAILED, kDetailRefused,
                               "The context has no open image stream."};

// A frame older than this is no current image: the sensor is not running.
constexpr uint32_t kCurrentFrameMs = 500;

CaptureSettings SettingsOf(const ServerSettings& settings) {
  CaptureSettings capture;
  capture.views = static_cast<uint8_t>(std::clamp<uint32_t>(settings.number("EnrollPhaseLimit"), 1, 10));
  capture.stableEnroll = static_cast<uint8_t>(std::clamp<uint32_t>(settings.number("StableEnroll"), 1, 31));
  capture.stableMatch = static_cast<uint8_t>(std::clamp<uint32_t>(settings.number("StableMatch"), 1, 31));
  capture.minimumScore = static_cast<uint16_t>(std::min<uint32_t>(settings.number("CorMtchNA"), 1400));
  capture.minimumClarity = static_cast<uint16_t>(std::min<uint32_t>(settings.number("CorMtchEnrollQ"), 100));
  capture.minimumAgreement = static_cast<uint16_t>(std::min<uint32_t>(settings.number("CorMtchEnrollC"), 1400));
  return capture;
}

CaptureOrder OrderFor(ServerState& state, CaptureKind kind, const Request& request,
                      Session* session) {
  CaptureOrder order;
  order.kind = kind;
  order.processId = request.processId;
  order.details = session->details;
  order.settings = SettingsOf(state.settings);
  return order;
}

// The matcher template of the sealed record at `at`, and the record's length; false when the
// bytes there are no whole, valid record.
bool OpenRecordAt(const Request& request, uint32_t at, std::vector<uint8_t>* matcherTemplate,
                  uint32_t* length) {
  if (at + WG_SMALL_REFERENCE_TEMPLATE_SIZE > request.length) return false;
  // The record's first block says how long it is: it is opened from a buffer of the largest
  // record's size, so that a short message cannot make the opening read past it.
  uint8_t sealed[WG_REFERENCE_TEMPLATE_SIZE] = {};
  uint8_t plain[WG_REFERENCE_TEMPLATE_SIZE];
  memcpy(sealed, request.bytes + at, std::min<uint32_t>(sizeof sealed, request.length - at));
  int16_t type = 0;
  uint16_t size = 0;
  bool valid = OpenTemplateRecordCopy(sealed, plain, &type, &size) && at + size <= request.length;
  if (valid) {
    size_t templateSize =
        type == WG_REFERENCE_TEMPLATE_TYPE ? kMatcherTemplateSize : kSmallMatcherTemplateSize;
    matcherTemplate->assign(plain + kRecMatcherTemplate, plain + kRecMatcherTemplate + templateSize);
    *length = size;
  }
  explicit_bzero(plain, sizeof plain);
  return valid;
}

// The records of a verification, one after another from `at` to the end of the message.
bool OpenRecords(const Request& request, uint32_t at, int16_t count,
                 std::vector<std::vector<uint8_t>>* templates) {
  for (int16_t i = 0; i < count; ++i) {
    std::vector<uint8_t> matcherTemplate;
    uint32_t length = 0;
    if (!OpenRecordAt(request, at, &matcherTemplate, &length)) return false;
    templates->push_back(std::move(matcherTemplate));
    at += length;
  }
  return at == request.length;
}

// A reply of the request's own layout (its first `length` bytes) with the result at `resultAt`.
void AnswerWithRequest(const Request& request, Session* session, uint32_t length,
                       uint32_t resultAt, const Outcome& outcome) {
  std::vector<uint8_t> reply(request.bytes, request.bytes + length);
  StoreU32(reply.data() + kApiMsgSize, length);
  SendOutcome(*session, reply.data(), length, resultAt, outcome);
}

// Hands the order to the capture worker, or answers at once that the sensor is busy.
void Begin(ServerState& state, CaptureOrder order, const Request& request, Session* session,
           uint32_t replyLength, uint32_t resultAt) {
  bool blocking = !order.blockingRequest.empty();
  // A client that has died may still hold the sensor until the next sweep of the sessions;
  // the sweep is made now, so the sensor is never refused on its behalf.
  state.sessions.releaseEnded();
  if (!state.capture.begin(std::move(order))) {
    TraceValue(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_WARNING,
               "Capture refused, the sensor is busy: client", static_cast<int32_t>(request.processId));
    AnswerWithRequest(request, session, replyLength, resultAt, kSensorBusy);
    return;
  }
  // The client takes the transaction's events only once it knows the transaction has begun.
  if (!blocking) AnswerWithRequest(request, session, replyLength, resultAt, kStarted);
  state.capture.go(request.processId);
}

// Why the user of an enrollment cannot take the finger; nothing when it can.
std::optional<Outcome> EnrollRefusal(ServerState& state, const std::string& userId, int16_t finger) {
  if (userId.empty()) return kEmptyUser;
  if (finger < 0 || finger > kMaxFingerNumber) return kFingerOutOfRange;
  StoreOutcome outcome = StoreOutcome::kDone;
  std::optional<StoredUserInfo> info = state.store.userInfo(userId, &outcome);
  if (!info) {
    if (outcome == StoreOutcome::kNoSuchUser) return std::nullopt;
    return StoreResult(outcome);
  }
  if (std::find(info->fingers.begin(), info->fingers.end(), finger) != info->fingers.end()) {
    return StoreResult(StoreOutcome::kFingerTaken);
  }
  if (info->fingers.size() >= kMaxFingersPerUser) return StoreResult(StoreOutcome::kUserFull);
  return std::nullopt;
}

// Why a claimed user cannot be validated; nothing when it can.
std::optional<Outcome> ClaimRefusal(ServerState& state, const std::string& userId) {
  if (userId.empty()) return kEmptyUser;
  StoreOutcome outcome = StoreOutcome::kDone;
  if (state.store.userInfo(userId, &outcome)) return std::nullopt;
  return StoreResult(outcome);
}

// The End of a transaction: what its capture came to, and how the End is answered.
Outcome Collect(ServerState& state, const Request& request, CaptureKind kind,
                CaptureResult* result) {
  switch (state.capture.collect(request.processId, kind, result)) {
    case CaptureEngine::Collected::kResult:
      return {result->result, result->flags, result->text};
    case CaptureEngine::Collected::kUnfinished:
      return kUnfinished;
    case CaptureEngine::Collected::kNone:
      break;
  }
  return kNothingFinished;
}

}  // namespace

const char* CheckBeginEnroll(const Request& request) {
  return LoadU32(request.bytes + kBeginEnrollMsgHasUser) != 0
             ? CheckRecordAt(request, kBeginEnrollMsgUser)
             : nullptr;
}

const char* CheckBeginValidateId(const Request& request) {
  return CheckRecordAt(request, kBeginValidateIdMsgUser);
}

const char* CheckBeginAcquire(const Request& request) {
  uint32_t hasRecord = LoadU32(request.bytes + kBeginAcquireMsgHasRecord);
  if (hasRecord == 0) return nullptr;
  std::vector<uint8_t> matcherTemplate;
  uint32_t length = 0;
  if (!OpenRecordAt(request, kBeginAcquireMsgRecord, &matcherTemplate, &length)) {
    return "the record does not open";
  }
  return nullptr;
}

void ServeEnroll(ServerState& state, const Request& request, Session* session) {
  CaptureOrder order = OrderFor(state, CaptureKind::kEnroll, request, session);
  order.hasUser = true;
  order.userId = UserIdAt(request, kEnrollMsgUser);
  order.displayName = DisplayNameAt(request, kEnrollMsgUser);
  order.finger = LoadI16(request.bytes + kEnrollMsgFinger);
  std::optional<Outcome> refusal = EnrollRefusal(state, order.userId, order.finger);
  if (!refusal && LoadI16(request.bytes + kEnrollMsgBufferSize) < WG_REFERENCE_TEMPLATE_SIZE) {
    refusal = kSmallBuffer;
  }
  if (refusal) {
    std::vector<uint8_t> reply(request.bytes, request.bytes + kEnrollMsgTemplate);
    StoreI16(reply.data() + kEnrollMsgTemplateSize, 0);
    StoreU32(reply.data() + kApiMsgSize, kEnrollMsgTemplate);
    SendOutcome(*session, reply.data(), kEnrollMsgTemplate, kEnrollMsgResult, *refusal);
    return;
  }
  order.blockingRequest.assign(request.bytes, request.bytes + request.length);
  Begin(state, std::move(order), request, session, kEnrollMsgTemplate, kEnrollMsgResult);
}

void ServeValidateId(ServerState& state, const Request& request, Session* session) {
  CaptureOrder order = OrderFor(state, CaptureKind::kValidateId, request, session);
  order.userId = UserIdAt(request, kValidateIdMsgUser);
  if (std::optional<Outcome> refusal = ClaimRefusal(state, order.userId)) {
    AnswerWithRequest(request, session, kValidateIdMsgSize, kValidateIdMsgResult, *refusal);
    return;
  }
  order.blockingRequest.assign(request.bytes, request.bytes + request.length);
  Begin(state, std::move(order), request, session, kValidateIdMsgSize, kValidateIdMsgResult);
}

void ServeValidateFingers(ServerState& state, const Request& request, Session* session) {
  CaptureOrder order = OrderFor(state, CaptureKind::kVerify, request, session);
  if (!OpenRecords(request, kValidateFingersMsgRecord, 1, &order.references)) {
    AnswerWithRequest(request, session, kValidateFingersMsgRecord, kValidateFingersMsgResult,
                      kBadRecord);
    return;
  }
  order.blockingRequest.assign(request.bytes, request.bytes + request.length);
  Begin(state, std::move(order), request, session, kValidateFingersMsgRecord,
        kValidateFingersMsgResult);
}

void ServeIdentify(ServerState& state, const Request& request, Session* session) {
  CaptureOrder order = OrderFor(state, CaptureKind::kIdentify, request, session);
  order.blockingRequest.assign(request.bytes, request.bytes + request.length);
  Begin(state, std::move(order), request, session, kIdentifyMsgSize, kIdentifyMsgResult);
}

void ServeBeginEnroll(ServerState& state, const Request& request, Session* session) {
  CaptureOrder order = OrderFor(state, CaptureKind::kEnroll, request, session);
  order.hasUser = LoadU32(request.bytes + kBeginEnrollMsgHasUser) != 0;
  std::vector<uint8_t> reply(request.bytes, request.bytes + kBeginEnrollMsgSize);
  StoreI16(reply.data() + kBeginEnrollMsgTemplateSize, WG_REFERENCE_TEMPLATE_SIZE);
  Request answered = request;
  answered.bytes = reply.data();
  if (order.hasUser) {
    order.userId = UserIdAt(request, kBeginEnrollMsgUser);
    order.displayName = DisplayNameAt(request, kBeginEnrollMsgUser);
    order.finger = LoadI16(request.bytes + kBeginEnrollMsgFinger);
    if (std::optional<Outcome> refusal = EnrollRefusal(state, order.userId, order.finger)) {
      AnswerWithRequest(answered, session, kBeginEnrollMsgSize, kBeginEnrollMsgResult, *refusal);
      return;
    }
  }
  Begin(state, std::move(order), answered, session, kBeginEnrollMsgSize, kBeginEnrollMsgResult);
}

void ServeEndEnroll(ServerState& state, const Request& request, Session* session) {
  CaptureResult result;
  Outcome outcome = Collect(state, request, CaptureKind::kEnroll, &result);
  std::vector<uint8_t> reply(kEndEnrollMsgTemplate + result.record.size());
  FillReplyHeader(reply.data(), static_cast<uint32_t>(reply.size()), request);
  if (!result.record.empty()) {
    PutUser(reply.data() + kEndEnrollMsgUser, result.user);
    StoreI16(reply.data() + kEndEnrollMsgTemplateSize, static_cast<int16_t>(result.record.size()));
    std::copy(result.record.begin(), result.record.end(), reply.begin() + kEndEnrollMsgTemplate);
  }
  SendOutcome(*session, reply.data(), static_cast<uint32_t>(reply.size()), kEndEnrollMsgResult,
              outcome);
}

void ServeBeginValidateId(ServerState& state, const Request& request, Session* session) {
  CaptureOrder order = OrderFor(state, CaptureKind::kValidateId, request, session);
  order.userId = UserIdAt(request, kBeginValidateIdMsgUser);
  if (std::optional<Outcome> refusal = ClaimRefusal(state, order.userId)) {
    AnswerWithRequest(request, session, kBeginValidateIdMsgSize, kBeginValidateIdMsgResult,
                      *refusal);
    return;
  }
  Begin(state, std::move(order), request, session, kBeginValidateIdMsgSize,
        kBeginValidateIdMsgResult);
}

void ServeEndValidateId(ServerState& state, const Request& request, Session* session) {
  CaptureResult result;
  Outcome outcome = Collect(state, request, CaptureKind::kValidateId, &result);
  uint8_t reply[kEndValidateIdMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  memcpy(reply + kEndValidateIdMsgDetails, result.matchDetails.data(), result.matchDetails.size());
  SendOutcome(*session, reply, sizeof reply, kEndValidateIdMsgResult,
              outcome);
}

void ServeBeginIdentify(ServerState& state, const Request& request, Session* session) {
  Begin(state, OrderFor(state, CaptureKind::kIdentify, request, session), request, session,
        kBeginIdentifyMsgSize, kBeginIdentifyMsgResult);
}

void ServeEndIdentify(ServerState& state, const Request& request, Session* session) {
  CaptureResult result;
  Outcome outcome = Collect(state, request, CaptureKind::kIdentify, &result);
  uint8_t reply[kEndIdentifyMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  if (outcome.result == WG_MATCH) PutUser(reply + kEndIdentifyMsgUser, result.user);
  memcpy(reply + kEndIdentifyMsgDetails, result.matchDetails.data(), result.matchDetails.size());
  SendOutcome(*session, reply, sizeof reply, kEndIdentifyMsgResult,
              outcome);
}

void ServeBeginVerify(ServerState& state, const Request& request, Session* session) {
  CaptureOrder order = OrderFor(state, CaptureKind::kVerify, request, session);
  int16_t count = LoadI16(request.bytes + kBeginVerifyMsgCount);
  std::optional<Outcome> refusal;
  if (count < 1) {
    refusal = kNoRecords;
  } else if (!OpenRecords(request, kBeginVerifyMsgRecords, count, &order.references)) {
    refusal = kBadRecord;
  }
  if (refusal) {
    AnswerWithRequest(request, session, kBeginVerifyReplyLength, kBeginVerifyMsgResult, *refusal);
    return;
  }
  Begin(state, std::move(order), request, session, kBeginVerifyReplyLength, kBeginVerifyMsgResult);
}

void ServeEndVerify(ServerState& state, const Request& request, Session* session) {
  CaptureResult result;
  Outcome outcome = Collect(state, request, CaptureKind::kVerify, &result);
  uint8_t reply[kEndVerifyMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  StoreI16(reply + kEndVerifyMsgMatchValue, result.matchValue);
  memcpy(reply + kEndVerifyMsgDetails, result.matchDetails.data(), result.matchDetails.size());
  SendOutcome(*session, reply, sizeof reply, kEndVerifyMsgResult,
              outcome);
}

void ServeBeginAcquire(ServerState& state, const Request& request, Session* session) {
  CaptureOrder order = OrderFor(state, CaptureKind::kAcquire, request, session);
  if (LoadU32(request.bytes + kBeginAcquireMsgHasRecord) != 0) {
    // Checked by the route: the record opens. It tells whose finger the user is to present.
    std::vector<uint8_t> matcherTemplate;
    uint32_t length = 0;
    OpenRecordAt(request, kBeginAcquireMsgRecord, &matcherTemplate, &length);
    order.references.push_back(std::move(matcherTemplate));
  }
  Begin(state, std::move(order), request, session, kBeginAcquireReplySize, kBeginAcquireMsgResult);
}

void ServeEndAcquire(ServerState& state, const Request& request, Session* session) {
  CaptureResult result;
  Outcome outcome = Collect(state, request, CaptureKind::kAcquire, &result);
  // The reply always carries the image buffer, empty when there is no image.
  std::vector<uint8_t> reply(kEndAcquireReplySize);
  FillReplyHeader(reply.data(), kEndAcquireReplySize, request);
  std::copy(result.imageBuffer.begin(), result.imageBuffer.end(), reply.begin() + kEndAcquireMsgImage);
  SendOutcome(*session, reply.data(), kEndAcquireReplySize, kEndAcquireMsgResult,
              outcome);
}

void ServeAbortTransaction(ServerState& state, const Request& request, Session* session) {
  state.capture.abort(request.processId);
  uint8_t reply[kAbortReplyLength] = {};
  FillReplyHeader(reply, sizeof reply, request);
  StoreI16(reply + kAbortReplyResult, WG_OK);
  SendToClient(*session, reply, sizeof reply);
}

void ServeOpenStream(ServerState& state, const Request& request, Session* session) {
  uint32_t context = LoadU32(request.bytes + kOpenStreamMsgContext);
  bool known = session->contexts.count(context) != 0;
  if (known && session->streams.insert(context).second) StreamsChanged(state);
  AnswerWithRequest(request, session, kOpenStreamMsgSize, kOpenStreamMsgResult,
                    known ? kSucceeded : kNoSuchContext);
}

void ServeCloseStream(ServerState& state, const Request& request, Session* session) {
  uint32_t context = LoadU32(request.bytes + kCloseStreamMsgContext);
  bool open = session->streams.erase(context) != 0;
  if (open) StreamsChanged(state);
  AnswerWithRequest(request, session, kCloseStreamMsgSize, kCloseStreamMsgResult,
                    open ? kSucceeded : kNoStream);
}

void ServeCurrentImage(ServerState& state, const Request& request, Session* session) {
  uint32_t context = LoadU32(request.bytes + kCurrentImageMsgContext);
  Frame frame;
  bool image = session->streams.count(context) != 0 &&
               state.capture.currentFrame(kCurrentFrameMs, &frame) && frame.fingerPresent;
  std::vector<uint8_t> reply(image ? kCurrentImageReplySize : kCurrentImageMsgSize);
  FillReplyHeader(reply.data(), static_cast<uint32_t>(reply.size()), request);
  StoreU32(reply.data() + kCurrentImageMsgContext, context);
  StoreU32(reply.data() + kCurrentImageMsgNoImage, image ? 0 : 1);
  if (image) std::copy(frame.pixels.begin(), frame.pixels.end(), reply.begin() + kCurrentImageMsgImage);
  SendToClient(*session, reply.data(), static_cast<uint32_t>(reply.size()));
}

void ServeImageState(ServerState& state, const Request& request, Session* session) {
  state.capture.noteStateAsked();
  Frame frame;
  uint16_t word = state.capture.currentFrame(kCurrentFrameMs, &frame) ? frame.stateWord() : 0;
  std::vector<uint8_t> reply(request.bytes, request.bytes + kImageStateMsgSize);
  StoreU16(reply.data() + kImageStateMsgState, word);
  StoreU32(reply.data() + kApiMsgSize, kImageStateMsgSize);
  SendOutcome(*session, reply.data(), kImageStateMsgSize, kImageStateMsgResult, kSucceeded);
}
