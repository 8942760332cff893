#include "server/server.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/named_object.h"
#include "platform/time.h"
#include "server/dispatch.h"
#include "server/presence.h"
#include "server/service_requests.h"
#include "server/user_store.h"
#include "shared/registry.h"
#include "shared/trace.h"

namespace {

// How long the loop sleeps on the server pipe before it looks after its sessions and the stop
// request. A message in the pipe ends the sleep at once.
constexpr uint32_t kIdleWaitMs = 100;
// The chunks of a message follow each other as soon as the reader takes them, and a writer
// gives up after a second between two chunks: a read that starts on a message has this long to
// see it whole.
constexpr uint32_t kMessageBudgetMs = 1000;
// How often the sessions of clients that ended without a disconnect are looked for.
constexpr uint32_t kSessionSweepMs = 1000;

void Info(const char* text) {
  TraceMsg(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_INFO, text, nullptr);
}

void Serve(PipeCntl* serverPipe, ServerState& state, const volatile sig_atomic_t& stopRequested) {
  uint32_t lastSweep = platform::GetTickCount();
  while (!stopRequested) {
    // Waiting on the pipe's event rather than inside a read keeps an idle server quiet: a read
    // traces every look at the pipe.
    if (platform::WaitForEvent(serverPipe->hMsgRdy, kIdleWaitMs)) {
      uint32_t length = 0;
      uint8_t* message = WGReadPipe(serverPipe, kMessageBudgetMs, &length);
      if (message) {
        ServeMessage(state, message, length);
        free(message);
      }
    }
    if (platform::TickBudgetSpent(lastSweep, kSessionSweepMs)) {
      state.sessions.releaseEnded();
      lastSweep = platform::GetTickCount();
    }
  }
}

// The store is opened once the server knows it is the only one: two servers on one store would
// each believe their settings and their clients' lists to be the whole truth.
bool OpenStore(ServerState& state) {
  std::string path = UserStorePath();
  std::string error;
  if (!state.store.open(path, &error) || !state.settings.load(state.store, &error)) {
    TraceMsg(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_CRITICAL,
             "Could not open the user store: not started", nullptr);
    fprintf(stderr, "WGServer: could not open the user store %s: %s\n", path.c_str(),
            error.c_str());
    return false;
  }
  char version[kModuleVersionTextLength];
  GetModuleVersionText(nullptr, version);
  MakeVersionTexts(state, version);
  return true;
}

}  // namespace

int RunServer(const volatile sig_atomic_t& stopRequested) {
  g_pTraceControl.store(TraceInit("WGServer: "));
  Presence presence;
  AnnounceOutcome outcome = Announce(&presence);
  if (outcome != AnnounceOutcome::kAnnounced) {
    std::string directory = platform::ObjectDirectory();
    if (outcome == AnnounceOutcome::kAlreadyRunning) {
      TraceMsg(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_CRITICAL,
               "Another server is already running: not started", nullptr);
      fprintf(stderr, "WGServer: another server is already running (object directory %s)\n",
              directory.c_str());
    } else {
      TraceMsg(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_CRITICAL,
               "Could not create the server's objects: not started", nullptr);
      fprintf(stderr, "WGServer: could not create the server's objects in %s\n", directory.c_str());
    }
    TraceShutdown();
    return 1;
  }
  ServerState state;
  if (!OpenStore(state)) {
    Withdraw(&presence);
    TraceShutdown();
    return 1;
  }
  // A session that ends takes its capture and its streams with it.
  state.sessions.onEnd = [&state](uint32_t processId) {
    state.capture.abort(processId);
    StreamsChanged(state);
    state.commPort.sessionEnded(processId);
  };
  state.capture.start();
  Info("Server started, serving requests");
  Serve(&presence.serverPipe, state, stopRequested);
  Info("Server stopping");
  state.sessions.closeAll();
  state.capture.stop();
  Withdraw(&presence);
  TraceShutdown();
  return 0;
}
