// The objects by which clients find the server and reach it: the server pipe, the waiting and
// running signals and the presence object WhorlgateWndClass.
#pragma once

#include "platform/sync.h"
#include "platform/window_object.h"
#include "shared/pipe.h"

struct Presence {
  PipeCntl serverPipe{};
  platform::Event* waiting = nullptr;
  platform::Event* running = nullptr;
  platform::WindowObject* window = nullptr;
};

enum class AnnounceOutcome {
  kAnnounced,       // this process is the server; the running signal is set
  kAlreadyRunning,  // another server holds the presence object; nothing of ours is left open
  kFailed,          // an object could not be created; nothing of ours is left open
};

AnnounceOutcome Announce(Presence* presence);
// Undoes a successful announcement: the server can no longer be found, and every object of
// ours is closed.
void Withdraw(Presence* presence);
