#include "ventolog/poll_request.h"

namespace {

// How long the listener's wait lasts before it looks at its stop flag. Another viewer may
// take the wake-up meant for this one, so the listener never relies on being woken to stop.
constexpr uint32_t kListenerWakeMs = 200;

}  // namespace

bool SendPollRequest() {
  platform::Event* event = platform::OpenNamedEvent(kPollRequestEventName);
  if (!event) return false;
  platform::SetEvent(event);
  platform::CloseNamedEvent(event);
  return true;
}

PollRequestListener::PollRequestListener(std::function<void()> onRequest)
    : event_(platform::CreateNamedEvent(kPollRequestEventName, false, false, nullptr)) {
  if (!event_) return;
  thread_ = std::thread([this, onRequest = std::move(onRequest)] {
    while (!stop_) {
      if (platform::WaitForEvent(event_, kListenerWakeMs) && !stop_) onRequest();
    }
  });
}

PollRequestListener::~PollRequestListener() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (event_) platform::CloseNamedEvent(event_);
}
