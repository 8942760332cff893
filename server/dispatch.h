// From a message read off the server pipe to the handler of its type: every message is checked
// before any of it is used, then served through the table of request routes.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "server/capture.h"
#include "server/comm_port.h"
#include "server/session.h"
#include "server/settings_store.h"
#include "server/user_store.h"
#include "whorlgate/wg_results.h"

// What the server keeps between requests.
struct ServerState {
  SessionTable sessions;
  UserStore store;
  ServerSettings settings;
  CaptureEngine capture{store};  // after the store, which it uses until it has stopped
  uint32_t ledState = 0;  // the LEDs as last set; all off at start
  std::string versionText1;
  std::string versionText2;
  std::mt19937 random{std::random_device{}()};
  CommPort commPort;  // the serial port, and which client holds it
};

// A fresh value that is not 0, for handles and tokens a client must bring back: random, so
// that a handle of an earlier server run or of a guess is not taken for one of ours.
uint32_t NewToken(ServerState& state);

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

// How a request went, as the client's result code and as WhorlgateGetResultDetails explains it.
struct Outcome {
  int16_t result;
  uint32_t flags;  // kDetail... bits
  const char* text;
};
// Detail flag bits of a server reply: the request asked for something that cannot be done
// (the caller's fault), or the server itself failed (its store could not be used).
inline constexpr uint32_t kDetailRefused = 0x02;
inline constexpr uint32_t kDetailServerFault = 0x01;
inline constexpr Outcome kSucceeded = {WG_OK, 0, "The request succeeded."};

// Tells the capture worker whether any image stream is open, after a stream or a session
// changed.
void StreamsChanged(ServerState& state);

// Keeps the outcome as the client's last result, for a reply that carries no result code.
void RecordOutcome(Session& session, const Outcome& outcome);
// Writes the outcome's result code at `resultOffset` of the reply, keeps the outcome as the
// client's last result and sends the reply.
void SendOutcome(Session& session, uint8_t* reply, uint32_t length, uint32_t resultOffset,
                 const Outcome& outcome);
