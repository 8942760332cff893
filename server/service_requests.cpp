#include "server/service_requests.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "api/basic_messages.h"
#include "connect/service_block.h"
#include "local/cipher.h"
#include "server/comm_port.h"
#include "server/sensor_commands.h"
#include "server/settings_store.h"
#include "shared/little_endian.h"
#include "shared/trace.h"

namespace {

constexpr int32_t kBlockLength = WG_SERVICE_BLOCK_SIZE;
// What the check byte must hold: the library's fold comes to 0 for every block.
constexpr uint8_t kServiceCheckValue = 0;

constexpr Outcome kBadCheck = {WG_FUNCTION_FAILED, kDetailRefused,
                               "The service block's check byte is wrong."};
constexpr Outcome kUnknownCommand = {WG_FUNCTION_FAILED, kDetailRefused,
                                     "The service command is not one this server knows."};
constexpr Outcome kUnterminatedText = {WG_FUNCTION_FAILED, kDetailRefused,
                                       "The text in the service block does not end in it."};
constexpr Outcome kNotPrepared = {WG_FUNCTION_FAILED, kDetailRefused,
                                  "The service request was not preceded by a preparatory request."};

void TraceRefusal(const char* why, uint32_t processId) {
  char text[kTraceTextLength];
  snprintf(text, sizeof text, "Service request refused (%s) from client", why);
  TraceValue(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_WARNING, text,
             static_cast<int32_t>(processId));
}

// The simulated sensor's commands. A refusal's reason goes to *reason, which the outcome's text
// then points into.
Outcome ServeSensor(ServerState& state, uint8_t command, uint8_t* block, std::string* reason) {
  Pace pace = state.capture.pace();
  switch (command) {
    case kSensorPresent: {
      const char* text = reinterpret_cast<const char*>(block + kSensorBlockText);
      if (!memchr(text, '\0', kSensorBlockTextRoom)) return kUnterminatedText;
      if (!state.capture.setPresentation(text, reason)) {
        *reason = "The sensor cannot present that: " + *reason + ".";
        return {WG_FUNCTION_FAILED, kDetailRefused, reason->c_str()};
      }
      break;
    }
    case kSensorPace:
      pace.frameMs = LoadU32(block + kSensorBlockFrameMs);
      pace.userDelayMs = LoadU32(block + kSensorBlockDelayMs);
      pace.timeoutMs = LoadU32(block + kSensorBlockTimeoutMs);
      state.capture.setPace(pace);
      break;
    default:
      break;
  }
  // Every answer says how things stand now.
  pace = state.capture.pace();
  memset(block + kSensorBlockText, 0, kServiceBlockCheck - kSensorBlockText);
  StoreU32(block + kSensorBlockFrameMs, pace.frameMs);
  StoreU32(block + kSensorBlockDelayMs, pace.userDelayMs);
  StoreU32(block + kSensorBlockTimeoutMs, pace.timeoutMs);
  std::string presentation = state.capture.presentation();
  memcpy(block + kSensorBlockAnswerText, presentation.data(),
         std::min<size_t>(presentation.size(), kSensorBlockAnswerRoom - 1));
  return kSucceeded;
}

// The answer to one deciphered block, written over it.
Outcome Serve(ServerState& state, Session& session, uint8_t* block, std::string* reason) {
  if (block[kServiceBlockCheck] != kServiceCheckValue) return kBadCheck;
  uint8_t command = block[kServiceBlockCommand];
  if (command == kServicePrepare) {
    // The answer is what the client sends next: a fresh block carrying the token that its get
    // or set must bring back.
    session.serviceToken = NewToken(state);
    memset(block, 0, kBlockLength);
    block[kServiceBlockCommand] = kServicePrepare;
    StoreU32(block + kServiceBlockArgument, session.serviceToken);
    return kSucceeded;
  }
  bool get = command == kServiceGetFlagged || command == kServiceGet;
  bool set = command == kServiceSetFlagged || command == kServiceSet;
  bool sensor = command == kSensorPresent || command == kSensorPace || command == kSensorQuery;
  bool restart = command == kServiceRestartCommPort;
  if (!get && !set && !sensor && !restart) return kUnknownCommand;
  uint32_t token = LoadU32(block + kServiceBlockArgument);
  bool prepared = session.serviceToken != 0 && token == session.serviceToken;
  session.serviceToken = 0;
  if (!prepared) return kNotPrepared;
  if (sensor) return ServeSensor(state, command, block, reason);
  if (restart) return RestartCommPort(state, reason);
  uint16_t identifier = LoadU16(block + kServiceBlockIdentifier);
  uint16_t size = LoadU16(block + kServiceBlockSize);
  // Sizes the table does not give are refused by the settings before the value is touched, and
  // every size it gives ends before the check byte.
  const char* fault = get ? state.settings.get(identifier, size, block + kServiceBlockValue)
                          : state.settings.set(state.store, identifier, size,
                                               block + kServiceBlockValue);
  if (!fault) return kSucceeded;
  return {WG_FUNCTION_FAILED, fault == kSettingNotStored ? kDetailServerFault : kDetailRefused,
          fault};
}

}  // namespace

void ServeServiceRequest(ServerState& state, const Request& request, Session* session) {
  uint8_t reply[kServiceMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  uint8_t* block = reply + kServiceMsgBlock;
  memcpy(block, request.bytes + kServiceMsgBlock, kBlockLength);
  WGDecipherBuffer(block, kBlockLength);
  std::string reason;
  Outcome outcome = Serve(state, *session, block, &reason);
  if (outcome.result == WG_OK) {
    WGEncipherBuffer(block, kBlockLength);
  } else {
    // A refused block goes back as it came.
    TraceRefusal(outcome.text, request.processId);
    memcpy(block, request.bytes + kServiceMsgBlock, kBlockLength);
  }
  SendOutcome(*session, reply, sizeof reply, kServiceMsgResult, outcome);
}

void ServeGetLeds(ServerState& state, const Request& request, Session* session) {
  uint8_t reply[kWordMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  StoreU32(reply + kWordMsgValue, state.ledState);
  SendOutcome(*session, reply, sizeof reply, kWordMsgResult, kSucceeded);
}

void ServeSetLeds(ServerState& state, const Request& request, Session* session) {
  // The simulated sensor has no lamps to light: the word is kept as it is set, for the next get.
  state.ledState = LoadU32(request.bytes + kWordMsgValue);
  uint8_t reply[kWordMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  StoreU32(reply + kWordMsgValue, state.ledState);
  SendOutcome(*session, reply, sizeof reply, kWordMsgResult, kSucceeded);
}

void ServeVersion(ServerState& state, const Request& request, Session* session) {
  uint8_t reply[kVersionMsgSize] = {};
  FillReplyHeader(reply, sizeof reply, request);
  memcpy(reply + kVersionMsgText1, state.versionText1.data(),
         std::min<size_t>(state.versionText1.size(), kVersionMsgText1Length - 1));
  memcpy(reply + kVersionMsgText2, state.versionText2.data(),
         std::min<size_t>(state.versionText2.size(), kVersionMsgText2Length - 1));
  SendOutcome(*session, reply, sizeof reply, kVersionMsgResult, kSucceeded);
}

void MakeVersionTexts(ServerState& state, const char* moduleVersion) {
  // "4, 1, 0, 1" becomes "4.1.0.1", which fits the first text's ten bytes.
  std::string dotted;
  for (const char* c = moduleVersion; *c; ++c) {
    if (*c == ',') {
      dotted += '.';
    } else if (*c != ' ') {
      dotted += *c;
    }
  }
  state.versionText1 = dotted;
  state.versionText2 = "Whorlgate server stand-in " + dotted + ", user store SQLite " +
                       sqlite3_libversion();
}
