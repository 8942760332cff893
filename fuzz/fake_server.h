// A server inside the fuzzing process, for the targets that drive the client library: it
// announces itself as WGServer does (the library's process attach finds it), answers the
// connect handshake, and hands every other request to a function that says what goes back.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "server/presence.h"
#include "shared/pipe.h"

class FakeServer {
 public:
  // The messages that answer one request, sent one after another into the client pipe; none
  // for a request that gets no answer.
  using Answer =
      std::function<std::vector<std::vector<uint8_t>>(const uint8_t* request, uint32_t length)>;
  // Announces the server and starts its thread, then attaches the client library to it.
  explicit FakeServer(Answer answer);
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;
  // The client pipe as the server writes into it, once the library has connected.
  PipeCntl* clientPipe() { return connected_.load() ? &client_ : nullptr; }

 private:
  void serve();

  Answer answer_;
  Presence presence_;
  PipeCntl client_{};
  std::atomic<bool> connected_{false};
  std::thread thread_;
};
