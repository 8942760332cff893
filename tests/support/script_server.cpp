#include "tests/support/script_server.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

ScriptServer::~ScriptServer() { stop(); }

bool ScriptServer::start(const std::vector<std::string>& script) {
  std::vector<std::string> args = script;
  args.push_back("--log");
  args.push_back(log_);
  started_ = process_.startProgram(WG_SCRIPT_SERVER, args) && process_.expectLine("ready");
  return started_;
}

void ScriptServer::stop() {
  if (started_) {
    process_.kill(SIGTERM);
    process_.wait();
    started_ = false;
  }
}

std::vector<LoggedRequest> ScriptServer::requests() const {
  std::vector<LoggedRequest> result;
  std::ifstream in(log_);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("pid ", 0) == 0) continue;
    std::istringstream fields(line);
    unsigned type = 0, length = 0;
    std::string hex;
    fields >> type >> length >> hex;
    LoggedRequest r{static_cast<uint16_t>(type), {}};
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      r.bytes.push_back(static_cast<uint8_t>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    }
    result.push_back(r);
  }
  return result;
}

std::vector<LoggedRequest> ScriptServer::requestsOfType(uint16_t type) const {
  std::vector<LoggedRequest> result;
  for (auto& r : requests()) {
    if (r.type == type) result.push_back(r);
  }
  return result;
}

std::vector<LoggedRequest> ScriptServer::awaitRequests(uint16_t type, size_t count) const {
  for (int i = 0; i < 1000; ++i) {
    auto found = requestsOfType(type);
    if (found.size() >= count) return found;
    usleep(10000);
  }
  return requestsOfType(type);
}

int ScriptServer::loggedPid() const {
  std::ifstream in(log_);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("pid ", 0) == 0) return atoi(line.c_str() + 4);
  }
  return -1;
}
