#include "server/user_requests.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "api/basic_messages.h"
#include "server/context_requests.h"
#include "server/server_messages.h"
#include "shared/little_endian.h"

namespace {

bool TextEnds(const uint8_t* field, size_t length) { return memchr(field, '\0', length); }

// A text into a zero-filled field, cut to leave room for its NUL: what the store holds was
// checked on the way in, but the file is the user's to edit.
void PutText(uint8_t* field, size_t length, const std::string& text) {
  memcpy(field, text.data(), std::min(text.size(), length - 1));
}

constexpr Outcome kEmptyUserId = {WG_FUNCTION_FAILED, kDetailRefused, "The user ID is empty."};
constexpr Outcome kStoreFault = {WG_FUNCTION_FAILED, kDetailServerFault,
                                 "The user store could not be read or written."};
constexpr Outcome kBadListPosition = {WG_FUNCTION_FAILED, kDetailRefused,
                                      "The list position is not one this server gave the client."};

// The calls whose reply is the request's user record message with a result code.
void AnswerUserCall(ServerState& state, const Request& request, Session* session,
                    StoreOutcome (*operation)(UserStore&, const Request&)) {
  uint8_t reply[kUserMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  memcpy(reply + kUserMsgUser, request.bytes + kUserMsgUser, WG_USER_RECORD_SIZE);
  Outcome outcome = UserIdAt(request, kUserMsgUser).empty()
                        ? kEmptyUserId
                        : StoreResult(operation(state.store, request));
  SendOutcome(*session, reply, sizeof reply, kUserMsgResult, outcome);
}

}  // namespace

const char* CheckRecordAt(const Request& request, uint32_t at) {
  if (!TextEnds(request.bytes + at + kRecordUserId, WG_USER_ID_LENGTH)) {
    return "user ID does not end inside its field";
  }
  if (!TextEnds(request.bytes + at + kRecordDisplayName, WG_DISPLAY_NAME_LENGTH)) {
    return "display name does not end inside its field";
  }
  return nullptr;
}

std::string UserIdAt(const Request& request, uint32_t at) {
  return reinterpret_cast<const char*>(request.bytes + at + kRecordUserId);
}
std::string DisplayNameAt(const Request& request, uint32_t at) {
  return reinterpret_cast<const char*>(request.bytes + at + kRecordDisplayName);
}

void PutUser(uint8_t* record, const StoredUser& user) {
  StoreU16(record, WG_USER_RECORD_SIZE);
  PutText(record + kRecordUserId, WG_USER_ID_LENGTH, user.userId);
  PutText(record + kRecordDisplayName, WG_DISPLAY_NAME_LENGTH, user.displayName);
}

const char* CheckUserRecord(const Request& request) { return CheckRecordAt(request, kUserMsgUser); }

const char* CheckNextUser(const Request& request) {
  return CheckRecordAt(request, kNextUserMsgUser);
}

Outcome StoreResult(StoreOutcome outcome) {
  switch (outcome) {
    case StoreOutcome::kDone:
      return kSucceeded;
    case StoreOutcome::kNoSuchUser:
      return {WG_FUNCTION_FAILED, kDetailRefused, "No user with this user ID is enrolled."};
    case StoreOutcome::kNoSuchFinger:
      return {WG_FUNCTION_FAILED, kDetailRefused,
              "The user has no finger with this number enrolled."};
    case StoreOutcome::kFingerTaken:
      return {WG_USER_ALREADY_ENROLLED, kDetailRefused,
              "The user has this finger enrolled already."};
    case StoreOutcome::kUserFull:
      return {WG_MAX_USER_FINGERS_ENROLLED, kDetailRefused,
              "The user has as many fingers enrolled as a user can have."};
    case StoreOutcome::kBadRecord:
      return {WG_FUNCTION_FAILED, kDetailRefused,
              "The template is not a sealed reference template record."};
    case StoreOutcome::kFailed:
      break;
  }
  return kStoreFault;
}

void ServeNumberUsers(ServerState& state, const Request& request, Session* session) {
  uint8_t reply[kWordMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  std::optional<uint32_t> count = state.store.countUsers();
  StoreU32(reply + kWordMsgValue, count.value_or(0));
  SendOutcome(*session, reply, sizeof reply, kWordMsgResult, count ? kSucceeded : kStoreFault);
}

void ServeNextUser(ServerState& state, const Request& request, Session* session) {
  // Stateless but for the context: the walk goes on from the previous user's ID, so users added
  // or deleted meanwhile neither stop it nor make it repeat a user.
  uint8_t reply[kNextUserMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  uint32_t context = LoadU32(request.bytes + kNextUserMsgContext);
  StoreU32(reply + kNextUserMsgContext, context);
  // A failed walk answers an empty user ID too, so that the client's loop ends.
  StoreU16(reply + kNextUserMsgUser, WG_USER_RECORD_SIZE);
  Outcome outcome = kNoSuchContext;
  if (context != 0 && session->contexts.count(context)) {
    std::optional<StoredUser> next = state.store.nextUser(UserIdAt(request, kNextUserMsgUser));
    if (next) PutUser(reply + kNextUserMsgUser, *next);
    outcome = next ? kSucceeded : kStoreFault;
  }
  SendOutcome(*session, reply, sizeof reply, kNextUserMsgResult, outcome);
}

void ServeListOfAllUsers(ServerState& state, const Request& request, Session* session) {
  uint32_t snapshot = LoadU32(request.bytes + kListPositionSnapshot);
  uint32_t offset = LoadU32(request.bytes + kListPositionOffset);
  uint32_t spare = LoadU32(request.bytes + kListPositionSpare);
  Outcome outcome = kSucceeded;
  if (snapshot == 0 && offset == 0 && spare == 0) {
    // A first request: the list is taken whole now, so that the pieces fit together even when
    // the store changes while the client fetches them.
    std::optional<std::vector<StoredUser>> users = state.store.allUsers();
    session->listBytes.clear();
    session->listSnapshot = 0;
    if (users) {
      std::vector<uint8_t>& bytes = session->listBytes;
      bytes.assign(kListHeaderLength + WG_USER_RECORD_SIZE * users->size(), 0);
      StoreU32(bytes.data(), WG_USER_RECORD_SIZE);
      StoreU32(bytes.data() + 4, static_cast<uint32_t>(users->size()));
      for (size_t i = 0; i < users->size(); ++i) {
        PutUser(bytes.data() + kListHeaderLength + WG_USER_RECORD_SIZE * i, (*users)[i]);
      }
      session->listSnapshot = NewToken(state);
      snapshot = session->listSnapshot;
    } else {
      outcome = kStoreFault;
    }
  } else if (snapshot != session->listSnapshot || spare != 0 ||
             offset >= session->listBytes.size()) {
    outcome = kBadListPosition;
  }
  const std::vector<uint8_t>& bytes = session->listBytes;
  uint32_t total = static_cast<uint32_t>(bytes.size());
  uint32_t piece = outcome.result == WG_OK ? std::min(kListPieceBytes, total - offset) : 0;
  uint32_t next = offset + piece;
  std::vector<uint8_t> reply(kListMsgPiece + std::max(piece, 1u), 0);
  FillReplyHeader(reply.data(), static_cast<uint32_t>(reply.size()), request);
  StoreU32(reply.data() + kListMsgTotal, total);
  StoreU32(reply.data() + kListMsgPieceSize, piece);
  uint32_t piecesLeft = (total - next + kListPieceBytes - 1) / kListPieceBytes;
  StoreU32(reply.data() + kListMsgMore, outcome.result == WG_OK ? piecesLeft : 0);
  StoreU32(reply.data() + kListPositionSnapshot, snapshot);
  StoreU32(reply.data() + kListPositionOffset, next);
  if (piece) memcpy(reply.data() + kListMsgPiece, bytes.data() + offset, piece);
  if (outcome.result != WG_OK || next == total) {
    session->listBytes = {};
    session->listSnapshot = 0;
  }
  SendOutcome(*session, reply.data(), static_cast<uint32_t>(reply.size()), kListMsgResult,
              outcome);
}

void ServeUserInfo(ServerState& state, const Request& request, Session* session) {
  uint8_t reply[kUserInfoMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  memcpy(reply + kUserInfoMsgUser, request.bytes + kUserInfoMsgUser, WG_USER_RECORD_SIZE);
  std::string userId = UserIdAt(request, kUserInfoMsgUser);
  StoreOutcome found = StoreOutcome::kNoSuchUser;
  std::optional<StoredUserInfo> info;
  if (!userId.empty()) info = state.store.userInfo(userId, &found);
  if (info) {
    uint8_t* block = reply + kUserInfoMsgInfo;
    StoreU16(block + kInfoSize, kInfoLength);
    PutText(block + kInfoUserId, WG_USER_ID_LENGTH, info->user.userId);
    PutText(block + kInfoDisplayName, WG_DISPLAY_NAME_LENGTH, info->user.displayName);
    size_t count = std::min<size_t>(info->fingers.size(), kInfoFingerSlots);
    block[kInfoFingerCount] = static_cast<uint8_t>(count);
    memset(block + kInfoFingers, kInfoNoFinger, kInfoFingerSlots);
    for (size_t i = 0; i < count; ++i) {
      block[kInfoFingers + i] = static_cast<uint8_t>(info->fingers[i]);
    }
    StoreU32(block + kInfoCreated, static_cast<uint32_t>(info->created));
    StoreU32(block + kInfoLastEnrolled, static_cast<uint32_t>(info->lastEnrolled));
  }
  SendOutcome(*session, reply, sizeof reply, kUserInfoMsgResult,
              userId.empty() ? kEmptyUserId : StoreResult(found));
}

void ServeDeleteUser(ServerState& state, const Request& request, Session* session) {
  AnswerUserCall(state, request, session, [](UserStore& store, const Request& r) {
    return store.deleteUser(UserIdAt(r, kUserMsgUser));
  });
}

void ServeSetDisplayName(ServerState& state, const Request& request, Session* session) {
  AnswerUserCall(state, request, session, [](UserStore& store, const Request& r) {
    return store.setDisplayName(UserIdAt(r, kUserMsgUser), DisplayNameAt(r, kUserMsgUser));
  });
}

void ServeDeleteFinger(ServerState& state, const Request& request, Session* session) {
  uint8_t reply[kDeleteFingerMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  // The user record and the finger number, as they came.
  memcpy(reply + kDeleteFingerMsgUser, request.bytes + kDeleteFingerMsgUser,
         kDeleteFingerMsgResult - kDeleteFingerMsgUser);
  std::string userId = UserIdAt(request, kDeleteFingerMsgUser);
  int16_t finger = LoadI16(request.bytes + kDeleteFingerMsgFinger);
  SendOutcome(*session, reply, sizeof reply, kDeleteFingerMsgResult,
              userId.empty() ? kEmptyUserId
                             : StoreResult(state.store.deleteFinger(userId, finger)));
}

void ServeDeleteAllUsers(ServerState& state, const Request& request, Session* session) {
  uint8_t reply[kDeleteAllMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  SendOutcome(*session, reply, sizeof reply, kDeleteAllMsgResult,
              StoreResult(state.store.deleteAllUsers()));
}
