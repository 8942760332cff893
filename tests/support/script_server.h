// The scripted server of the library's tests: started with a script, read back through its
// request log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/peer_process.h"

struct LoggedRequest {
  uint16_t type;
  std::vector<uint8_t> bytes;
};

class ScriptServer {
 public:
  explicit ScriptServer(std::string logPath) : log_(std::move(logPath)) {}
  ~ScriptServer();
  // Starts wg_script_server with `script` (its options; --log is added) and waits until it
  // can be found.
  bool start(const std::vector<std::string>& script);
  // The requests logged so far, in the order they came.
  std::vector<LoggedRequest> requests() const;
  std::vector<LoggedRequest> requestsOfType(uint16_t type) const;
  // Waits (up to 10 s) until `count` requests of `type` are logged; for requests without a
  // reply, whose logging the client does not wait for.
  std::vector<LoggedRequest> awaitRequests(uint16_t type, size_t count) const;
  // Process ID of a server that wrote the log, also one the library started.
  int loggedPid() const;
  const std::string& logPath() const { return log_; }
  void stop();

 private:
  std::string log_;
  PeerProcess process_;
  bool started_ = false;
};
