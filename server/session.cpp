#include "server/session.h"

#include "shared/trace.h"

namespace {

void Trace(uint32_t type, const char* text, uint32_t processId) {
  TraceValue(TRACE_WHERE_SRVR_INTERFACE, type, text, static_cast<int32_t>(processId));
}

}  // namespace

Session::~Session() {
  WGCloseMessagePipe(&pipe);
}

Session* SessionTable::open(uint32_t processId) {
  close(processId);
  auto session = std::make_unique<Session>();
  session->processId = processId;
  if (!session->process.watch(processId)) {
    Trace(TRACE_TYPE_WARNING, "No session: no process runs with the client's process ID",
          processId);
    return nullptr;
  }
  if (WGOpenOutputMessagePipe(&session->pipe, static_cast<int32_t>(processId)) != 0) {
    Trace(TRACE_TYPE_WARNING, "No session: could not open the pipe of client", processId);
    return nullptr;
  }
  Trace(TRACE_TYPE_INFO, "Session opened for client", processId);
  Session* result = session.get();
  sessions_[processId] = std::move(session);
  return result;
}

Session* SessionTable::findOrOpen(uint32_t processId) {
  auto it = sessions_.find(processId);
  if (it != sessions_.end() && it->second->process.alive()) return it->second.get();
  Trace(TRACE_TYPE_INFO, "Opening a session on demand for client", processId);
  return open(processId);
}

void SessionTable::close(uint32_t processId) {
  if (sessions_.erase(processId) != 0)
    Trace(TRACE_TYPE_INFO, "Session closed for client", processId);
}

void SessionTable::releaseEnded() {
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (it->second->process.alive()) {
      ++it;
      continue;
    }
    Trace(TRACE_TYPE_INFO, "Client process ended, session released", it->first);
    Trace(TRACE_TYPE_INFO, "Contexts released with the session:",
          static_cast<uint32_t>(it->second->contexts.size()));
    it = sessions_.erase(it);
  }
}

void SessionTable::closeAll() {
  sessions_.clear();
}

bool SendToClient(Session& session, const uint8_t* message, uint32_t length) {
  if (WGSendPipeMessage(&session.pipe, message, length) == 0) return true;
  Trace(TRACE_TYPE_WARNING, "Reply not taken by client", session.processId);
  return false;
}
