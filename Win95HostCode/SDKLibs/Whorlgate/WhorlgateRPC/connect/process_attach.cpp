#include "connect/process_attach.h"

#include "connect/api_messages.h"
#include "connect/client_error.h"
#include "connect/connection.h"
#include "connect/event_dispatch.h"
#include "platform/sync.h"
#include "platform/time.h"
#include "shared/trace.h"

namespace {
constexpr int kWaitingSignalAttempts = 50;
constexpr uint32_t kWaitingSignalPollMs = 100;

void Info(const char* text) { TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, text, nullptr); }

// The server creates its waiting signal once it is ready for clients; up to about 5 seconds.
bool AwaitWaitingSignal() {
  for (int attempt = 0; attempt < kWaitingSignalAttempts; ++attempt) {
    platform::Event* waiting = platform::OpenNamedEvent(kServerWaitingSignal);
    if (waiting) {
      platform::CloseNamedEvent(waiting);
      return true;
    }
    platform::SleepMs(kWaitingSignalPollMs);
  }
  return false;
}
}  // namespace

bool WGRpcProcessAttach(const void* pModuleAddress, const char** ppszCause) {
  // Both lost: tracing starts only once the server is found.
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING DllMain");
  Info("DllMain DLL_PROCESS_ATTACH");
  SetLibraryModule(pModuleAddress);
  ReportClientError(0, nullptr);
  StartEventThread();
  if (!LaunchServerProcess()) {
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_CRITICAL, "Could Not load server", nullptr);
    *ppszCause = "the Whorlgate server program WGServer could not be started";
    return false;
  }
  if (!AwaitWaitingSignal()) {
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_CRITICAL, "Can't find the Server!?", nullptr);
    *ppszCause = "the Whorlgate server did not come up within 5 seconds";
    return false;
  }
  if (!g_pTraceControl.load()) g_pTraceControl = TraceInit("WGRPC: ");
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING DllMain (TRUE)");
  return true;
}

void WGRpcProcessDetach() {
  Info("DllMain DLL_PROCESS_DETACH");
  // The event thread reads the client pipe: it stops before the pipe is closed under it.
  StopEventThread();
  DisconnectFromServer();
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING DllMain (TRUE)");
}
