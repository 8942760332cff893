#include "server/presence.h"

#include "connect/api_messages.h"

namespace {

// Clients of every account open both signals and set the waiting one, as they all write into
// the server pipe.
platform::Event* CreateSignal(const char* name) {
  bool existed = false;
  platform::Event* event = platform::CreateNamedEvent(name, true, false, &existed);
  if (event && !existed && !WGApplyNullDACLToSystemObject(name)) {
    platform::CloseNamedEvent(event);
    return nullptr;
  }
  return event;
}

void CloseObjects(Presence* presence) {
  platform::CloseWindowObject(presence->window);
  platform::CloseNamedEvent(presence->running);
  platform::CloseNamedEvent(presence->waiting);
  WGCloseMessagePipe(&presence->serverPipe);
  *presence = Presence{};
}

}  // namespace

AnnounceOutcome Announce(Presence* presence) {
  // A client finds the server by the presence object or the running signal and then goes
  // straight for the signals and the pipe, so those come first and the presence object last.
  // A second server opens the same pipe and signals before it learns that it lost; it closes
  // its handles without touching their state, and the objects live on with the first server.
  if (WGOpenInputMessagePipe(&presence->serverPipe, kServerPipeNumber) != 0) {
    return AnnounceOutcome::kFailed;
  }
  presence->waiting = CreateSignal(kServerWaitingSignal);
  presence->running = CreateSignal(kServerRunningSignal);
  bool existed = false;
  if (presence->waiting && presence->running) {
    presence->window = platform::CreateWindowObject(kServerWindowClass, &existed);
  }
  if (presence->window && existed) {
    CloseObjects(presence);
    return AnnounceOutcome::kAlreadyRunning;
  }
  if (!presence->window || !WGApplyNullDACLToSystemObject(kServerWindowClass)) {
    CloseObjects(presence);
    return AnnounceOutcome::kFailed;
  }
  // The running signal stays set for as long as the server serves: a client that sets the
  // waiting signal finds it set at once, and no thread has to watch the waiting signal.
  platform::SetEvent(presence->running);
  return AnnounceOutcome::kAnnounced;
}

void Withdraw(Presence* presence) {
  // A client that still holds the running signal must not take it for a live server.
  platform::ResetEvent(presence->running);
  CloseObjects(presence);
}
