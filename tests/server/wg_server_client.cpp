// A client process for the server tests: it talks to WGServer over the real pipes as the client
// library does, one command at a time, and reports on standard output.
//
//   wg_server_client COMMAND...
//   connect      the handshake (waiting signal set, running signal awaited) and the connect
//   size         the template size query
//   disconnect   the disconnect message (no reply)
//   close        closes both of its pipes
//   hold         waits until standard input closes
//
// Replies are reported as "reply TYPE LENGTH PROCESS-ID PAYLOAD-HEX", a missing one as "none".
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "connect/api_messages.h"
#include "platform/sync.h"
#include "shared/little_endian.h"
#include "shared/pipe.h"

namespace {

PipeCntl g_input{};
PipeCntl g_server{};
uint32_t g_pid = 0;

void Say(const char* text) {
  printf("%s\n", text);
  fflush(stdout);
}

void ReportReply() {
  uint32_t length = 0;
  uint8_t* reply = WGReadPipe(&g_input, 10000, &length);
  if (!reply || length < kApiMsgHeaderSize) {
    Say("none");
  } else {
    printf("reply %u %u %u ", LoadU16(reply + kApiMsgType), length,
           LoadU32(reply + kApiMsgProcessId));
    for (uint32_t i = kApiMsgHeaderSize; i < length; ++i) printf("%02x", reply[i]);
    Say("");
  }
  free(reply);
}

void Send(uint16_t type, uint32_t length, int32_t pipeNumber) {
  uint8_t message[kConnectMsgSize] = {};
  StoreU32(message + kApiMsgSize, length);
  StoreU32(message + kApiMsgProcessId, g_pid);
  StoreU16(message + kApiMsgType, type);
  if (type == WG_API_CONNECT) StoreI32(message + kConnectMsgPipeNumber, pipeNumber);
  WGSendPipeMessage(&g_server, message, length);
}

bool Handshake() {
  platform::Event* waiting = platform::OpenNamedEvent(kServerWaitingSignal);
  platform::Event* running = platform::OpenNamedEvent(kServerRunningSignal);
  bool answered = waiting && running;
  if (answered) {
    platform::SetEvent(waiting);
    answered = platform::WaitForEvent(running, 5000);
  }
  platform::CloseNamedEvent(waiting);
  platform::CloseNamedEvent(running);
  return answered;
}

}  // namespace

int main(int argc, char** argv) {
  g_pid = static_cast<uint32_t>(getpid());
  if (WGOpenInputMessagePipe(&g_input, static_cast<int32_t>(g_pid)) != 0 ||
      WGOpenOutputMessagePipe(&g_server, kServerPipeNumber) != 0) {
    Say("no pipes");
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "connect") == 0) {
      if (!Handshake()) {
        Say("no running signal");
        return 2;
      }
      Send(WG_API_CONNECT, kConnectMsgSize, static_cast<int32_t>(g_pid));
      ReportReply();
    } else if (strcmp(argv[i], "size") == 0) {
      Send(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize, 0);
      ReportReply();
    } else if (strcmp(argv[i], "disconnect") == 0) {
      Send(WG_API_DISCONNECT, kDisconnectMsgSize, 0);
      Say("disconnected");
    } else if (strcmp(argv[i], "close") == 0) {
      WGCloseMessagePipe(&g_input);
      WGCloseMessagePipe(&g_server);
      Say("closed");
    } else if (strcmp(argv[i], "hold") == 0) {
      Say("holding");
      char c;
      while (read(0, &c, 1) > 0) {
      }
    } else {
      Say("bad command");
      return 2;
    }
  }
  WGCloseMessagePipe(&g_input);
  WGCloseMessagePipe(&g_server);
  return 0;
}
