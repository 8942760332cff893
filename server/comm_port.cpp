#include "server/comm_port.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "api/comm_port_messages.h"
#include "connect/settings_table.h"
#include "server/dispatch.h"
#include "server/settings_store.h"
#include "shared/little_endian.h"
#include "shared/trace.h"

namespace {

// The server serves every client on one thread, and a client's pipe writer gives up after
// about two seconds of a full server pipe: a read or a write may keep the server for one second
// at most, whatever the client asks for. Well within the client's own ten seconds, too.
constexpr uint32_t kMaxReadWaitMs = 1000;
constexpr uint32_t kWriteBudgetMs = 1000;

constexpr Outcome kLent = {WG_OK, 0, "The comm port is lent to this client."};
constexpr Outcome kTakenBack = {WG_OK, 0, "The comm port is back with the server."};
constexpr Outcome kLentElsewhere = {WG_SENSOR_BUSY, kDetailRefused,
                                    "The comm port is lent to another client."};
constexpr Outcome kNotHolder = {WG_FUNCTION_FAILED, kDetailRefused,
                                "This client does not hold the comm port: get it first."};
constexpr Outcome kRestarted = {WG_OK, 0, "The comm port was closed and opened again."};

void Trace(uint32_t type, const char* text, uint32_t processId) {
  TraceValue(TRACE_WHERE_SRVR_INTERFACE, type, text, static_cast<int32_t>(processId));
}

platform::SerialLineSettings LineSettings(const ServerSettings& settings) {
  platform::SerialLineSettings line;
  line.baudRate = settings.number("Startup baud rate");
  return line;
}

std::string PortName(const ServerSettings& settings) {
  const SettingEntry* entry = FindSetting("Comm port name");
  char name[8] = {};
  // The settings keep the text NUL-terminated inside its field.
  if (!entry || entry->ucSize >= sizeof name ||
      settings.get(entry->uiIdentifier, entry->ucSize, reinterpret_cast<uint8_t*>(name))) {
    return {};
  }
  return name;
}

// The reply of the four requests: the fixed part, and behind it the bytes a read brings.
std::vector<uint8_t> Reply(const Request& request, const uint8_t* data, uint16_t count) {
  std::vector<uint8_t> reply(kCommMsgFixedSize + count);
  FillReplyHeader(reply.data(), static_cast<uint32_t>(reply.size()), request);
  StoreU16(reply.data() + kCommMsgCount, count);
  StoreU16(reply.data() + kCommMsgLength, count);
  if (count) memcpy(reply.data() + kCommMsgData, data, count);
  return reply;
}

void Answer(Session& session, const Request& request, const Outcome& outcome,
            const uint8_t* data = nullptr, uint16_t count = 0) {
  std::vector<uint8_t> reply = Reply(request, data, count);
  SendOutcome(session, reply.data(), static_cast<uint32_t>(reply.size()), kCommMsgResult, outcome);
}

// The port for the client's read or write: held by it and open. Otherwise the refusal is sent
// and false returned.
bool Usable(ServerState& state, const Request& request, Session& session) {
  CommPort& comm = state.commPort;
  if (comm.holder() != request.processId) {
    Trace(TRACE_TYPE_WARNING, "Comm port request refused: not the holder, client",
          request.processId);
    Answer(session, request, kNotHolder);
    return false;
  }
  if (comm.ensureOpen(state.settings)) return true;
  std::string text = "The comm port could not be opened: " + comm.error() + ".";
  Answer(session, request, {WG_FUNCTION_FAILED, kDetailServerFault, text.c_str()});
  return false;
}

}  // namespace

bool CommPort::ensureOpen(const ServerSettings& settings) {
  if (port_.IsOpen()) return true;
  std::string name = PortName(settings);
  if (!port_.Open(name, LineSettings(settings))) {
    error_ = port_.LastError();
    TraceMsg(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_WARNING,
             ("Comm port not opened: " + error_).c_str(), nullptr);
    return false;
  }
  error_.clear();
  TraceValue(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_INFO,
             ("Comm port " + name + " opened, baud rate").c_str(),
             static_cast<int32_t>(LineSettings(settings).baudRate));
  return true;
}

bool CommPort::reopen(const ServerSettings& settings) {
  if (port_.IsOpen()) {
    port_.Close();
    TraceMsg(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_INFO, "Comm port closed for a restart",
             nullptr);
  }
  return ensureOpen(settings);
}

void CommPort::sessionEnded(uint32_t processId) {
  if (holder_ != processId) return;
  holder_ = 0;
  Trace(TRACE_TYPE_INFO, "Comm port taken back from the ended session of client", processId);
}

const char* CheckCommPortRequest(const Request& request) {
  if (kCommMsgFixedSize + LoadU16(request.bytes + kCommMsgLength) != request.length) {
    return "comm port data length does not match the size";
  }
  return nullptr;
}

// The data of a get or a release carry nothing this server needs: they are accepted whatever
// they hold, so that an application written for a server that wants some still works.
void ServeGetCommPort(ServerState& state, const Request& request, Session* session) {
  CommPort& comm = state.commPort;
  if (comm.holder() != 0 && comm.holder() != request.processId) {
    Trace(TRACE_TYPE_WARNING, "Comm port refused, it is lent elsewhere, to client",
          request.processId);
    Answer(*session, request, kLentElsewhere);
    return;
  }
  if (!comm.ensureOpen(state.settings)) {
    std::string text = "The comm port could not be opened: " + comm.error() + ".";
    Answer(*session, request, {WG_FUNCTION_FAILED, kDetailServerFault, text.c_str()});
    return;
  }
  comm.lend(request.processId);
  Trace(TRACE_TYPE_INFO, "Comm port lent to client", request.processId);
  Answer(*session, request, kLent);
}

void ServeReleaseCommPort(ServerState& state, const Request& request, Session* session) {
  if (state.commPort.holder() != request.processId) {
    Answer(*session, request, kNotHolder);
    return;
  }
  state.commPort.takeBack();
  Trace(TRACE_TYPE_INFO, "Comm port handed back by client", request.processId);
  Answer(*session, request, kTakenBack);
}

// The read parameter is the time in milliseconds to wait for the first byte (0: only what has
// arrived already); what has come by then is returned, up to the L bytes of the request.
void ServeReadCommPort(ServerState& state, const Request& request, Session* session) {
  if (!Usable(state, request, *session)) return;
  uint16_t capacity = LoadU16(request.bytes + kCommMsgLength);
  uint32_t waitMs = std::min(LoadU32(request.bytes + kCommMsgReadParameter), kMaxReadWaitMs);
  std::vector<uint8_t> bytes(capacity);
  size_t count = 0;
  platform::SerialPort& port = state.commPort.port();
  if (!port.Read(bytes.data(), bytes.size(), waitMs, &count)) {
    std::string text = "The comm port could not be read: " + port.LastError() + ".";
    Answer(*session, request, {WG_FUNCTION_FAILED, kDetailServerFault, text.c_str()});
    return;
  }
  Answer(*session, request, kSucceeded, bytes.data(), static_cast<uint16_t>(count));
}

void ServeWriteCommPort(ServerState& state, const Request& request, Session* session) {
  if (!Usable(state, request, *session)) return;
  uint16_t length = LoadU16(request.bytes + kCommMsgLength);
  size_t written = 0;
  platform::SerialPort& port = state.commPort.port();
  if (!port.Write(request.bytes + kCommMsgData, length, kWriteBudgetMs, &written)) {
    char text[200];
    snprintf(text, sizeof text, "Only %zu of %u bytes went out on the comm port: %s.", written,
             length, port.LastError().c_str());
    Answer(*session, request, {WG_FUNCTION_FAILED, kDetailServerFault, text});
    return;
  }
  Answer(*session, request, kSucceeded);
}

Outcome RestartCommPort(ServerState& state, std::string* reason) {
  if (state.commPort.reopen(state.settings)) return kRestarted;
  *reason = "The comm port could not be opened again: " + state.commPort.error() + ".";
  return {WG_FUNCTION_FAILED, kDetailServerFault, reason->c_str()};
}
