// Message 32668 from outside the viewer: `Ventolog --poll` sets a named event of the kit's
// namespace that a running viewer waits on, and the viewer delivers the message to its frame,
// which polls the trace pipe at once (also while paused).
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/sync.h"

inline constexpr char kPollRequestEventName[] = "WGVentologPollRequest";

// Asks a running viewer to poll now; false when no viewer runs.
bool SendPollRequest();

// Calls `onRequest` on its own thread for every request, until destroyed.
class PollRequestListener {
 public:
  explicit PollRequestListener(std::function<void()> onRequest);
  PollRequestListener(const PollRequestListener&) = delete;
  PollRequestListener& operator=(const PollRequestListener&) = delete;
  ~PollRequestListener();

 private:
  platform::Event* event_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
