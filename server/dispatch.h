// From a message read off the server pipe to the handler of its type: every message is checked
// before any of it is used, then served through the table of request routes.
#pragma once

#include <cstdint>

#include "server/session.h"

// What the server keeps between requests.
struct ServerState {
  SessionTable sessions;
};

// A message that passed the checks of its route: header fields loaded, and at least the route's
// minimum length of bytes behind `bytes`.
struct Request {
  const uint8_t* bytes;
  uint32_t length;
  uint32_t processId;
  uint16_t type;
};

enum class SessionUse : uint8_t {
  kNone,      // the handler needs no way back to the client
  kOnDemand,  // the client's session, opened when it has none
  kFresh,     // a new session, replacing any the client had
};

// The reason a request must be dropped, or null when it may be served. Checks what the fixed
// length checks cannot: fields that must agree, lengths carried inside the message.
using RequestCheck = const char* (*)(const Request& request);
// `session` is null exactly when the route uses none.
using RequestHandler = void (*)(ServerState& state, const Request& request, Session* session);

struct RequestRoute {
  uint16_t type;
  uint32_t minimumLength;
  RequestCheck check;  // null: nothing beyond the length
  SessionUse session;
  RequestHandler serve;
};

// Checks and serves one message of `length` bytes; a message that fails a check is traced and
// dropped.
void ServeMessage(ServerState& state, const uint8_t* bytes, uint32_t length);

// The header of a reply to `request`, for a reply of `length` bytes at `reply`.
void FillReplyHeader(uint8_t* reply, uint32_t length, const Request& request);
