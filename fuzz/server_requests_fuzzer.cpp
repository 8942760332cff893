// The server's request handling, fed any message a local account can write into the server
// pipe: every message type, with a session for this process (whose client pipe a reader thread
// empties and checks), the capture worker running and a store in the scratch folder. Nothing
// may crash or leak, every reply must be well formed, and after each input the server must
// still answer.
//
// Input: messages, each [flags u8][length u16][length bytes], served one after another. The
// bytes are the whole message; the harness writes the header's size (flags bit 0 keeps the
// fuzzer's) and process ID (bit 1 keeps the fuzzer's), so that most messages come from this
// process. Bit 2 seals what a client seals: a service request's block is enciphered, and the
// plain template records of validate fingers, begin verify and begin acquire are sealed. Bit 3
// brings back what the server handed out: the last service token, the newest context handle
// of the requests that carry one, the list snapshot, this process's pipe in a connect.
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "api/basic_messages.h"
#include "api/image_stream_messages.h"
#include "api/transaction_messages.h"
#include "connect/api_messages.h"
#include "connect/service_block.h"
#include "fuzz/fuzz_support.h"
#include "local/acquire_messages.h"
#include "local/cipher.h"
#include "local/template_record.h"
#include "platform/process.h"
#include "server/dispatch.h"
#include "server/server_messages.h"
#include "server/service_requests.h"
#include "shared/little_endian.h"
#include "shared/pipe.h"

namespace {

constexpr uint32_t kReplyWaitMs = 5000;
constexpr uint16_t kLastRequestType = WG_API_DELETE_ALL_ENROLLED_USERS;

ServerState* g_state = nullptr;
uint32_t g_pid = 0;
PipeCntl g_clientPipe;

// What the reader thread has seen of the probe's replies.
std::mutex g_lock;
std::condition_variable g_arrived;
uint64_t g_probeReplies = 0;

// The server's messages to this process: replies of request types and events, each with a
// header that tells its true size and names this process, events with their data inside.
void ReadReplies() {
  for (;;) {
    uint32_t length = 0;
    uint8_t* message = WGReadPipe(&g_clientPipe, 1000, &length);
    if (!message) continue;
    FuzzCheck(length >= kApiMsgHeaderSize, "reply shorter than its header");
    FuzzCheck(LoadU32(message + kApiMsgSize) == length, "reply size field differs from its length");
    FuzzCheck(LoadU32(message + kApiMsgProcessId) == g_pid, "reply names another process");
    uint16_t type = LoadU16(message + kApiMsgType);
    FuzzCheck(type >= 1 && type <= kLastRequestType, "reply of no request type");
    if (type == WG_API_EVENT) {
      FuzzCheck(length >= kEventMsgData &&
                    kEventMsgData + LoadU16(message + kEventMsgDataLength) <= length,
                "event data outside the event");
    }
    if (type == WG_API_GET_NUMBER_USERS && length == kWordMsgSize) {
      std::lock_guard guard(g_lock);
      ++g_probeReplies;
      g_arrived.notify_all();
    }
    free(message);
  }
}

std::vector<uint8_t> Header(uint32_t size, uint16_t type) {
  std::vector<uint8_t> message(size, 0);
  StoreU32(message.data() + kApiMsgSize, size);
  StoreU32(message.data() + kApiMsgProcessId, g_pid);
  StoreU16(message.data() + kApiMsgType, type);
  return message;
}

void Serve(const std::vector<uint8_t>& message) {
  ServeMessage(*g_state, message.data(), static_cast<uint32_t>(message.size()));
}

// Seals the plain record at `at` when its type asks for it; returns its size, 0 for none.
uint32_t SealAt(std::vector<uint8_t>& message, uint32_t at) {
  if (at + kRecSize > message.size()) return 0;
  const TemplateRecordFormat* format = FindTemplateRecordFormat(LoadI16(message.data() + at));
  if (!format || at + format->uiSize > message.size()) return 0;
  WGEncryptIOTemplateRecForExport(message.data() + at);
  return format->uiSize;
}

void Seal(std::vector<uint8_t>& message, uint16_t type) {
  switch (type) {
    case WG_API_SERVICE_REQUEST:
      if (message.size() >= kServiceMsgSize) {
        WGEncipherBuffer(message.data() + kServiceMsgBlock, WG_SERVICE_BLOCK_SIZE);
      }
      break;
    case WG_API_VALIDATE_FINGERS:
      SealAt(message, kValidateFingersMsgRecord);
      break;
    case WG_API_BEGIN_ACQUIRE_IMAGE:
      SealAt(message, kBeginAcquireMsgRecord);
      break;
    case WG_API_BEGIN_VERIFY:
      for (uint32_t at = kBeginVerifyMsgRecords, size; (size = SealAt(message, at)) != 0;)
        at += size;
      break;
    default:
      break;
  }
}

// What the server handed this process, put where a client brings it back.
void BringBack(std::vector<uint8_t>& message, uint16_t type) {
  Session* session = g_state->sessions.findOrOpen(g_pid);
  if (!session) return;
  auto put = [&](uint32_t at, uint32_t value) {
    if (at + 4 <= message.size()) StoreU32(message.data() + at, value);
  };
  switch (type) {
    case WG_API_CONNECT:
      put(kConnectMsgPipeNumber, g_pid);
      break;
    case WG_API_SERVICE_REQUEST:
      // Into the plain block, which bit 2 then enciphers.
      put(kServiceMsgBlock + kServiceBlockArgument, session->serviceToken);
      break;
    case WG_API_CLOSE:
    case WG_API_OPEN_STREAM:
    case WG_API_CLOSE_STREAM:
    case WG_API_GET_CURRENT_IMAGE:
    case WG_API_GET_IMAGE_STATE:
    case WG_API_GET_NEXT_USER:
      if (!session->contexts.empty()) put(kApiMsgHeaderSize, *session->contexts.rbegin());
      break;
    case WG_API_GET_LIST_OF_ALL_USERS:
      put(kListPositionSnapshot, session->listSnapshot);
      break;
    default:
      break;
  }
}

// The server still answers a request of ours, and answers it in time.
void ProbeServer() {
  uint64_t before;
  {
    std::lock_guard guard(g_lock);
    before = g_probeReplies;
  }
  Serve(Header(kWordMsgSize, WG_API_GET_NUMBER_USERS));
  std::unique_lock guard(g_lock);
  FuzzCheck(g_arrived.wait_for(guard, std::chrono::milliseconds(kReplyWaitMs),
                               [&] { return g_probeReplies > before; }),
            "the server no longer answers");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzScratch("server");
  g_pid = platform::CurrentProcessId();
  FuzzCheck(WGOpenInputMessagePipe(&g_clientPipe, static_cast<int32_t>(g_pid)) == 0,
            "client pipe not opened");
  g_state = new ServerState;
  std::string error;
  FuzzCheck(g_state->store.open(UserStorePath(), &error) &&
                g_state->settings.load(g_state->store, &error),
            "store not opened");
  MakeVersionTexts(*g_state, "4, 1, 0, 1");
  g_state->sessions.onEnd = [](uint32_t processId) {
    g_state->capture.abort(processId);
    StreamsChanged(*g_state);
  };
  g_state->capture.start();
  std::thread(ReadReplies).detach();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  while (!input.empty()) {
    uint8_t flags = input.u8();
    std::vector<uint8_t> message = input.bytes(input.u16());
    if (message.size() >= kApiMsgHeaderSize) {
      uint16_t type = LoadU16(message.data() + kApiMsgType);
      if (!(flags & 1))
        StoreU32(message.data() + kApiMsgSize, static_cast<uint32_t>(message.size()));
      if (!(flags & 2)) StoreU32(message.data() + kApiMsgProcessId, g_pid);
      if (flags & 8) BringBack(message, type);
      if (flags & 4) Seal(message, type);
    }
    Serve(message);
  }
  ProbeServer();
  // Each input starts afresh: no capture, no session, the simulated user as at start.
  g_state->sessions.close(g_pid);
  std::string ignored;
  g_state->capture.setPresentation("auto", &ignored);
  g_state->capture.setPace(Pace{});
  return 0;
}
