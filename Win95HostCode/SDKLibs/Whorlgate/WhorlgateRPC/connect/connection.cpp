#include "connect/connection.h"

#include <cstdlib>
#include <string>

#include "connect/api_messages.h"
#include "connect/client_error.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/time.h"
#include "platform/window_object.h"
#include "shared/little_endian.h"
#include "shared/registry.h"
#include "shared/trace.h"
#include "whorlgate/wg_results.h"

PipeCntl* m_pInputPipeCntl = nullptr;
PipeCntl* m_pOutputPipeCntl = nullptr;

namespace {

const void* g_pLibraryModule = nullptr;

constexpr uint32_t kServerWaitMs = 5000;
constexpr uint32_t kServerPollMs = 100;
constexpr uint32_t kRunningSignalWaitMs = 5000;
constexpr uint32_t kConnectReplyWaitMs = 10000;
constexpr const char* kServerProgramName = "WGServer";

void Info(const char* text) { TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, text, nullptr); }
void Critical(const char* text) { TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_CRITICAL, text, nullptr); }
void Exit(const char* text) { TraceExit(TRACE_WHERE_RPC_DLL, text); }

void ReleasePipeControls(PipeCntl*& input, PipeCntl*& output) {
  free(input);
  free(output);
  input = nullptr;
  output = nullptr;
}

}  // namespace

void SetLibraryModule(const void* pModuleAddress) { g_pLibraryModule = pModuleAddress; }
const void* LibraryModule() { return g_pLibraryModule; }

bool IsServerPresent() {
  if (platform::WindowObjectExists(kServerWindowClass)) return true;
  platform::Event* running = platform::OpenNamedEvent(kServerRunningSignal);
  if (!running) return false;
  platform::CloseNamedEvent(running);
  return true;
}

bool LaunchServerProcess() {
  if (IsServerPresent()) return true;
  std::string fallback = platform::ProgramDirectory(g_pLibraryModule);
  if (fallback.empty() || fallback.back() != '/') fallback += '/';
  fallback += kServerProgramName;
  RegistryRoot root = MakeRegistryRoot(platform::RegistryHive::kLocalMachine, "Software\\Kestrelon\\");
  char path[kRegistryTextLength];
  RegReadText(&root, "Setup", "WGServer", fallback.c_str(), path);
  std::string program = path;
  size_t slash = program.find_last_of('/');
  if (slash == std::string::npos || slash + 1 == program.size()) return false;
  return platform::StartDetachedProcess(program, {});
}

bool InitPipeCommunications() {
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING InitPipeCommunications");

  uint32_t start = platform::GetTickCount();
  bool present = IsServerPresent();
  while (!present && !platform::TickBudgetSpent(start, kServerWaitMs)) {
    platform::SleepMs(kServerPollMs);
    present = IsServerPresent();
  }
  if (!present) {
    Critical("Could Not load server");
    Exit("EXITING InitPipeCommunications");
    return false;
  }
  if (m_pInputPipeCntl && m_pOutputPipeCntl) {
    Exit("EXITING InitPipeCommunications - pipe control already initialized (not an error)");
    return true;
  }

  auto* input = static_cast<PipeCntl*>(calloc(1, sizeof(PipeCntl)));
  auto* output = static_cast<PipeCntl*>(calloc(1, sizeof(PipeCntl)));
  if (!input || !output) {
    ReleasePipeControls(input, output);
    ReportClientError(WGERR_NOT_ENOUGH_MEMORY, "Could not allcate memory for pipe controls");
    Exit("EXITING InitPipeCommunications");
    return false;
  }

  Info("InitPipeCommunications: Opening server running signal");
  platform::Event* waiting = platform::OpenNamedEvent(kServerWaitingSignal);
  platform::Event* running = platform::OpenNamedEvent(kServerRunningSignal);
  if (!waiting || !running) {
    platform::CloseNamedEvent(waiting);
    platform::CloseNamedEvent(running);
    ReleasePipeControls(input, output);
    ReportClientError(WGERR_FATAL_CLIENT_FAULT, "Could not open client -to- server signals.");
    Critical("ERROR InitPipeCommunications - could not open server signals");
    Exit("EXITING InitPipeCommunications");
    return false;
  }
  platform::SetEvent(waiting);
  bool answered = platform::WaitForEvent(running, kRunningSignalWaitMs);
  // The signals are let go at once: a client that kept them would keep a dead server's running
  // signal alive and take it for a live server.
  platform::CloseNamedEvent(waiting);
  platform::CloseNamedEvent(running);
  if (!answered) {
    Critical("ERROR InitPipeCommunications - could not open server signals");
    Exit("EXITING InitPipeCommunications");
    ReportClientError(WGERR_SERVER_NOT_RESPONDING, nullptr);
    ReleasePipeControls(input, output);
    return false;
  }

  Info("Opening input pipe");
  int32_t pid = static_cast<int32_t>(platform::CurrentProcessId());
  if (WGOpenInputMessagePipe(input, pid) != 0) {
    Critical("ERROR InitPipeCommunications: could not open input pipe");
    Exit("EXITING InitPipeCommunications");
    ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR, "Failure to open input message pipe.");
    ReleasePipeControls(input, output);
    return false;
  }
  Info("Opening output pipe");
  if (WGOpenOutputMessagePipe(output, kServerPipeNumber) != 0) {
    WGCloseMessagePipe(input);
    ReleasePipeControls(input, output);
    Critical("ERROR InitPipeCommunications: could not open output pipe to server");
    Exit("EXITING InitPipeCommunications");
    ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR, "Failure to open output message pipe.");
    return false;
  }

  Info("Sending connect msg structure to server");
  uint8_t connect[kConnectMsgSize] = {};
  StoreU32(connect + kApiMsgSize, kConnectMsgSize);
  StoreU32(connect + kApiMsgProcessId, static_cast<uint32_t>(pid));
  StoreU16(connect + kApiMsgType, WG_API_CONNECT);
  StoreI32(connect + kConnectMsgPipeNumber, pid);
  WGSendPipeMessage(output, connect, kConnectMsgSize);

  uint32_t length = 0;
  uint8_t* reply = WGReadPipe(input, kConnectReplyWaitMs, &length);
  if (reply && length >= kApiMsgHeaderSize && LoadU16(reply + kApiMsgType) == WG_API_CONNECT) {
    free(reply);
    m_pInputPipeCntl = input;
    m_pOutputPipeCntl = output;
    Exit("EXITING InitPipeCommunications (OK)");
    return true;
  }
  Critical("ERROR InitPipeCommunications: Did not get connect message from server.");
  free(reply);
  WGCloseMessagePipe(input);
  WGCloseMessagePipe(output);
  ReleasePipeControls(input, output);
  ReportClientError(WGERR_SERVER_NOT_RESPONDING, nullptr);
  Exit("EXITING InitPipeCommunications");
  return false;
}

void DisconnectFromServer() {
  if (m_pOutputPipeCntl) {
    uint8_t message[kDisconnectMsgSize] = {};
    StoreU32(message + kApiMsgSize, kDisconnectMsgSize);
    StoreU32(message + kApiMsgProcessId, platform::CurrentProcessId());
    StoreU16(message + kApiMsgType, WG_API_DISCONNECT);
    Info("Sending disconnect message to server");
    if (WGSendPipeMessage(m_pOutputPipeCntl, message, kDisconnectMsgSize) != 0) {
      Critical("Write of disconnect message failed!");
    }
  }
  if (m_pInputPipeCntl) WGCloseMessagePipe(m_pInputPipeCntl);
  if (m_pOutputPipeCntl) WGCloseMessagePipe(m_pOutputPipeCntl);
  ReleasePipeControls(m_pInputPipeCntl, m_pOutputPipeCntl);
}
