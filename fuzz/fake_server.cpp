#include "fuzz/fake_server.h"

#include <cstdlib>

#include "connect/api_messages.h"
#include "connect/process_attach.h"
#include "fuzz/fuzz_support.h"
#include "platform/sync.h"
#include "server/server_messages.h"
#include "shared/little_endian.h"
#include "shared/trace.h"

FakeServer::FakeServer(Answer answer) : answer_(std::move(answer)) {
  FuzzCheck(Announce(&presence_) == AnnounceOutcome::kAnnounced, "fake server not announced");
  thread_ = std::thread(&FakeServer::serve, this);
  thread_.detach();
  static int anchor;
  const char* cause = nullptr;
  FuzzCheck(WGRpcProcessAttach(&anchor, &cause), "library not attached");
  // As the shared library's destructor does: the event thread ends before the process.
  atexit(WGRpcProcessDetach);
  // Traces would only fill the trace pipe, which nobody takes out here.
  TraceShutdown();
}

void FakeServer::serve() {
  for (;;) {
    if (!platform::WaitForEvent(presence_.serverPipe.hMsgRdy, 1000)) continue;
    uint32_t length = 0;
    uint8_t* request = WGReadPipe(&presence_.serverPipe, 1000, &length);
    if (!request) continue;
    uint16_t type = length >= kApiMsgHeaderSize ? LoadU16(request + kApiMsgType) : 0;
    if (type == WG_API_CONNECT && !connected_.load()) {
      uint32_t pid = LoadU32(request + kApiMsgProcessId);
      FuzzCheck(WGOpenOutputMessagePipe(&client_, static_cast<int32_t>(pid)) == 0,
                "client pipe not opened");
      connected_.store(true);
    }
    if (type == WG_API_CONNECT) {
      uint8_t reply[kConnectReplyLength] = {};
      StoreU32(reply + kApiMsgSize, sizeof reply);
      StoreU32(reply + kApiMsgProcessId, LoadU32(request + kApiMsgProcessId));
      StoreU16(reply + kApiMsgType, WG_API_CONNECT);
      WGSendPipeMessage(&client_, reply, sizeof reply);
    } else if (connected_.load()) {
      for (const std::vector<uint8_t>& message : answer_(request, length)) {
        WGSendPipeMessage(&client_, message.data(), static_cast<uint32_t>(message.size()));
      }
    }
    free(request);
  }
}
