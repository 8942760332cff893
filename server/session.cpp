#include "server/session.h"

#include "shared/trace.h"

namespace {

void Trace(uint32_t type, const char* text, uint32_t processId) {
  TraceValue(TRACE_WHERE_SRVR_INTERFACE, type, text, static_cast<int32_t>(processId));
}

}  // namespace

void ResultDetails::record(int16_t result, uint32_t flags, const char* text) {
  std::lock_guard guard(lock_);
  last_ = {result, flags, text};
}

ResultDetails::Result ResultDetails::last() const {
  std::lock_guard guard(lock_);
  return last_;
}

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
  if (sessions_.erase(processId) == 0) return;
  Trace(TRACE_TYPE_INFO, "Session closed for client", processId);
  ended(processId);
}

void SessionTable::ended(uint32_t processId) {
  if (onEnd) onEnd(processId);
}

size_t SessionTable::openStreams() const {
  size_t count = 0;
  for (const auto& [processId, session] : sessions_) count += session->streams.size();
  return count;
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
    uint32_t processId = it->first;
    it = sessions_.erase(it);
    ended(processId);
  }
}

void SessionTable::closeAll() {
  while (!sessions_.empty()) close(sessions_.begin()->first);
}

bool SendToClient(Session& session, const uint8_t* message, uint32_t length) {
  if (WGSendPipeMessage(&session.pipe, message, length) == 0) return true;
  Trace(TRACE_TYPE_WARNING, "Reply not taken by client", session.processId);
  return false;
}
