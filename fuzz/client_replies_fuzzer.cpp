// The client library's handling of what comes back from a server (or from any local account,
// which can write into a client pipe too): every exported call that talks to the server, made
// as an application makes it, against a server in this process that answers with the fuzzer's
// bytes. What the calls hand out is then used as an application uses it, so that anything the
// library lets through unchecked shows up as a read out of bounds.
//
// Input: [n u8][n call selectors][messages]. Each selector picks a call (bits 0 to 5) and a
// variant of its arguments (bits 6 and 7). The messages, each [flags u8][length u16][length
// bytes], are the server's script: each request is answered with the next messages up to and
// including the first that is not an event (a bare header of the request's type when the
// script has run out); "deliver event" pushes the next message into the client pipe of a
// running transaction. Unless flags bit 0 says the bytes are the whole message, they are the
// payload behind a header of the request's type (bit 2: of the event type, with the event's
// data length filled in unless bit 3 is set). Bit 4 enciphers a service block as the server
// does.
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include "connect/api_messages.h"
#include "connect/client_error.h"
#include "connect/connection.h"
#include "connect/event_dispatch.h"
#include "fuzz/fake_server.h"
#include "fuzz/fuzz_support.h"
#include "local/cipher.h"
#include "local/template_record.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/time.h"
#include "shared/little_endian.h"
#include "whorlgate.h"

namespace {

constexpr uint32_t kServiceBlockAt = 10;
constexpr uint32_t kEventDataLengthAt = 14;
constexpr uint32_t kEventHeaderBytes = 6;  // type, sub-code and data length behind the header
constexpr uint32_t kConsumeWaitMs = 2000;
constexpr uint32_t kCallbackWaitMs = 500;

struct Scripted {
  uint8_t flags;
  std::vector<uint8_t> bytes;
};

std::mutex g_scriptLock;
std::deque<Scripted> g_script;
FakeServer* g_server = nullptr;

std::vector<uint8_t> Build(const Scripted& scripted, uint32_t processId, uint16_t type) {
  std::vector<uint8_t> message;
  if (scripted.flags & 1) {
    message = scripted.bytes;
  } else {
    bool event = (scripted.flags & 4) != 0;
    message.assign(kApiMsgHeaderSize, 0);
    message.insert(message.end(), scripted.bytes.begin(), scripted.bytes.end());
    StoreU32(message.data() + kApiMsgSize, static_cast<uint32_t>(message.size()));
    StoreU32(message.data() + kApiMsgProcessId, processId);
    StoreU16(message.data() + kApiMsgType, event ? static_cast<uint16_t>(WG_API_EVENT) : type);
    if (event && !(scripted.flags & 8) && scripted.bytes.size() >= kEventHeaderBytes) {
      size_t data = scripted.bytes.size() - kEventHeaderBytes;
      StoreU16(message.data() + kEventDataLengthAt,
               static_cast<uint16_t>(data > 0xFFFF ? 0xFFFF : data));
    }
  }
  if ((scripted.flags & 16) && message.size() >= kServiceBlockAt + WG_SERVICE_BLOCK_SIZE) {
    WGEncipherBuffer(message.data() + kServiceBlockAt, WG_SERVICE_BLOCK_SIZE);
  }
  return message;
}

bool IsEvent(const std::vector<uint8_t>& message) {
  return message.size() >= kApiMsgHeaderSize &&
         LoadU16(message.data() + kApiMsgType) == WG_API_EVENT;
}

std::vector<std::vector<uint8_t>> Answer(const uint8_t* request, uint32_t) {
  uint32_t processId = LoadU32(request + kApiMsgProcessId);
  uint16_t type = LoadU16(request + kApiMsgType);
  std::vector<std::vector<uint8_t>> messages;
  std::lock_guard guard(g_scriptLock);
  while (!g_script.empty()) {
    std::vector<uint8_t> message = Build(g_script.front(), processId, type);
    g_script.pop_front();
    // An empty message is nothing a pipe can carry.
    if (message.empty()) continue;
    messages.push_back(std::move(message));
    if (!IsEvent(messages.back())) return messages;
  }
  messages.push_back(Build({0, {}}, processId, type));
  return messages;
}

// Uses an event as an application does: an image's pixels, a sound's name, a status text.
std::atomic<uint32_t> g_callbacks{0};

void UseEvent(WGEventMessage* message) {
  if (!message) return;
  if (message->pData) {
    switch (message->uiMessageType) {
      case WG_MSG_IMAGE:
        ReadAll(message->pData, WG_IMAGE_BUFFER_SIZE);
        break;
      case WG_MSG_PLAY_SOUND:
      case WG_API_END_OF_VIEW:
        ReadText(static_cast<const char*>(message->pData));
        break;
      default:
        break;
    }
  }
  WGReleaseMessage(message);
}

void OnEvent(uint32_t, WGEventMessage* message) {
  UseEvent(message);
  g_callbacks.fetch_add(1);
}

std::atomic<uint32_t> g_sensorCallbacks{0};
void OnSensor(WGSensorStatus, uint32_t, uint8_t*, uint32_t, uint32_t) {
  g_sensorCallbacks.fetch_add(1);
}

// A user record as the library hands it out, read as an application reads it: on the heap, so
// that a text without its end runs off the record.
void UseUser(const WGUserRecord* user) {
  auto copy = std::make_unique<WGUserRecord>(*user);
  ReadText(copy->szUserID);
  ReadText(copy->szDisplayName);
}

void CheckText(const char* text, size_t room, const char* what) {
  FuzzCheck(strnlen(text, room) < room, what);
}

struct Fixture {
  WGUserRecord user{WG_USER_RECORD_SIZE, "fuzz-user", "Fuzz User"};
  WGCaptureOptions options{1, 2, 3};
  uint8_t record[WG_REFERENCE_TEMPLATE_SIZE] = {};
  uint8_t small[WG_SMALL_REFERENCE_TEMPLATE_SIZE] = {};
  uint8_t matchTemplate[WG_MATCH_TEMPLATE_SIZE] = {};
  WGContextHandle context = 1;
  uint32_t lastId = 0;
  int16_t announcedTemplate = 0;
};
Fixture* g_fixture = nullptr;

uint32_t TransactionId() {
  uint32_t current = CurrentTransactionId();
  return current ? current : g_fixture->lastId;
}

void Begun(uint32_t id) {
  if (id) g_fixture->lastId = id;
}

WGTransactionCallback CallbackOf(uint8_t variant) {
  return (variant & 1) ? OnEvent : nullptr;
}

// Pushes the next scripted message into the client pipe and lets the transaction take it.
void DeliverEvent() {
  PipeCntl* pipe = g_server->clientPipe();
  if (!pipe) return;
  Scripted scripted{4, {}};
  {
    std::lock_guard guard(g_scriptLock);
    if (!g_script.empty()) {
      scripted = g_script.front();
      g_script.pop_front();
      if (!(scripted.flags & 1)) scripted.flags |= 4;
    }
  }
  std::vector<uint8_t> message = Build(scripted, platform::CurrentProcessId(), WG_API_EVENT);
  // One chunk: nobody reads the pipe while this thread writes into it.
  if (message.size() > kPipeMaxChunk) message.resize(kPipeMaxChunk);
  if (message.empty()) return;
  WGFlushInputPipe(m_pInputPipeCntl);
  uint32_t before = g_callbacks.load();
  if (WGSendPipeMessage(pipe, message.data(), static_cast<uint32_t>(message.size())) != 0) return;
  if (IsCallbackMode()) {
    platform::WaitForEventClear(pipe->hMsgRdy, kConsumeWaitMs);
    uint32_t start = platform::GetTickCount();
    while (g_callbacks.load() == before && !platform::TickBudgetSpent(start, kCallbackWaitMs)) {
      platform::SleepMs(1);
    }
    return;
  }
  UseEvent(WGContinueTransaction(TransactionId()));
}

struct Call {
  bool duringCallbacks;  // safe while the event thread delivers: no exchange races its reads
  void (*make)(uint8_t variant);
};

const Call kCalls[] = {
    {true,
     [](uint8_t v) {
       uint8_t buffer[WG_REFERENCE_TEMPLATE_SIZE];
       int16_t size = 0;
       WhorlgateEnroll(&g_fixture->user, 1, buffer, sizeof buffer, &size,
                       (v & 1) ? &g_fixture->options : nullptr);
       FuzzCheck(size >= 0 && size <= static_cast<int16_t>(sizeof buffer),
                 "enrolled template size outside the buffer");
     }},
    {false,
     [](uint8_t) {
       int16_t size = 0;
       WhorlgateEnroll(&g_fixture->user, 1, nullptr, 0, &size, nullptr);
     }},
    {true,
     [](uint8_t v) {
       WhorlgateValidateID(&g_fixture->user, (v & 1) ? &g_fixture->options : nullptr);
     }},
    {true,
     [](uint8_t) {
       auto user = std::make_unique<WGUserRecord>();
       *user = g_fixture->user;
       WhorlgateIdentify(user.get(), nullptr);
       UseUser(user.get());
     }},
    {true,
     [](uint8_t v) {
       WhorlgateValidateFingers((v & 1) ? g_fixture->small : g_fixture->record, nullptr);
     }},
    {false, [](uint8_t) { WhorlgateDeleteUser(&g_fixture->user); }},
    {false,
     [](uint8_t v) {
       static const uint8_t kAppData[] = {3, 0, 'a', 'p', 'p'};
       WGContextHandle context = WhorlgateInit((v & 1) ? kAppData : nullptr);
       if (context) g_fixture->context = context;
     }},
    {false, [](uint8_t) { WhorlgateClose(g_fixture->context); }},
    {false,
     [](uint8_t) {
       char text[WG_RESULT_DETAILS_TEXT_SIZE];
       uint32_t flags = 0;
       WhorlgateGetResultDetails(text, &flags);
       CheckText(text, sizeof text, "result details text without its end");
     }},
    {false,
     [](uint8_t) {
       WGServiceBlock block{};
       WGServiceRequest(&block);
     }},
    {false,
     [](uint8_t) {
       auto user = std::make_unique<WGUserRecord>();
       *user = g_fixture->user;
       WhorlgateGetNextUser(g_fixture->context, user.get());
       UseUser(user.get());
     }},
    {false,
     [](uint8_t) {
       uint32_t leds = 0;
       WhorlgateGetLeds(&leds);
     }},
    {false, [](uint8_t) { WhorlgateSetLeds(5); }},
    {false,
     [](uint8_t) {
       char text1[10], text2[78], library[260];
       if (WhorlgateGetVersion(text1, text2, library) == WG_OK) {
         CheckText(text1, sizeof text1, "version text without its end");
         CheckText(text2, sizeof text2, "version text without its end");
       }
     }},
    {false,
     [](uint8_t) {
       uint32_t users = 0;
       WhorlgateGetNumberUsers(&users);
     }},
    {false,
     [](uint8_t) {
       auto info = std::make_unique<WGUserInfo>();
       WhorlgateGetUserInfo(&g_fixture->user, info.get());
     }},
    {false, [](uint8_t) { WhorlgateDeleteFinger(&g_fixture->user, 3); }},
    {false, [](uint8_t) { WhorlgateSetDisplayName(&g_fixture->user); }},
    {false,
     [](uint8_t) {
       WGUserList* list = nullptr;
       if (WhorlgateGetListOfAllUsers(&list) == WG_OK && list) {
         for (uint32_t i = 0; i < list->ulNumberOfUsers; ++i) UseUser(&list->users[i]);
       }
       WhorlgateDeleteUserList(list);
     }},
    {false, [](uint8_t) { WhorlgateDeleteAllEnrolledUsers(); }},
    {false, [](uint8_t) { WhorlgateOpenStream(g_fixture->context, 0); }},
    {false, [](uint8_t) { WhorlgateCloseStream(g_fixture->context); }},
    {false,
     [](uint8_t v) {
       static const size_t kSides[] = {WG_IMAGE_SIDE, WG_IMAGE_SIDE * 3 / 2, WG_IMAGE_SIDE * 2,
                                       WG_IMAGE_SIDE};
       uint8_t* image =
           WhorlgateGetCurrentImage(g_fixture->context, static_cast<int16_t>(v & 3), v & 2);
       if (image) ReadAll(image, kSides[v & 3] * kSides[v & 3]);
       WhorlgateReleaseImage(g_fixture->context, image);
     }},
    {false,
     [](uint8_t) {
       WGImageState state{4, 0};
       WhorlgateGetImageState(g_fixture->context, &state);
     }},
    {true,
     [](uint8_t v) {
       Begun(WGBeginEnroll(CallbackOf(v), 7, (v & 2) ? &g_fixture->options : nullptr,
                           (v & 2) ? nullptr : &g_fixture->user, 2, &g_fixture->announcedTemplate));
     }},
    {true,
     [](uint8_t) {
       // The buffer is as large as WGBeginEnroll said, as the application allocates it.
       size_t room =
           g_fixture->announcedTemplate > 0 ? static_cast<size_t>(g_fixture->announcedTemplate) : 1;
       auto buffer = std::make_unique<uint8_t[]>(room);
       int16_t size = 0;
       auto user = std::make_unique<WGUserRecord>();
       *user = g_fixture->user;
       WGEndEnroll(TransactionId(), buffer.get(), &size, user.get());
       UseUser(user.get());
     }},
    {true,
     [](uint8_t v) { Begun(WGBeginValidateID(CallbackOf(v), 7, &g_fixture->user, nullptr)); }},
    {true, [](uint8_t) { WGEndValidateID(TransactionId()); }},
    {true,
     [](uint8_t) {
       WGServerMatchDetails details;
       WGEndValidateIDEx(TransactionId(), &details, nullptr);
     }},
    {true, [](uint8_t v) { Begun(WGBeginIdentify(CallbackOf(v), 7, nullptr)); }},
    {true,
     [](uint8_t) {
       auto user = std::make_unique<WGUserRecord>();
       *user = g_fixture->user;
       WGEndIdentify(TransactionId(), user.get());
       UseUser(user.get());
     }},
    {true,
     [](uint8_t) {
       auto user = std::make_unique<WGUserRecord>();
       *user = g_fixture->user;
       WGServerMatchDetails details;
       WGEndIdentifyEx(TransactionId(), user.get(), &details, nullptr);
       UseUser(user.get());
     }},
    {true,
     [](uint8_t v) {
       const uint8_t* records[] = {g_fixture->record, g_fixture->small};
       Begun(WGBeginVerify(CallbackOf(v), 7, records, 2, nullptr));
     }},
    {true,
     [](uint8_t) {
       int16_t value = 0;
       WGEndVerify(TransactionId(), &value);
     }},
    {true,
     [](uint8_t) {
       int16_t value = 0;
       WGServerMatchDetails details;
       WGEndVerifyEx(TransactionId(), &value, &details, nullptr);
     }},
    {true, [](uint8_t) { DeliverEvent(); }},
    {true, [](uint8_t) { WGAbortTransaction(TransactionId()); }},
    {false,
     [](uint8_t) {
       static const uint8_t kData[] = {1, 2, 3};
       WGGetCommPort(kData, sizeof kData);
     }},
    {false,
     [](uint8_t v) {
       uint16_t length = (v & 1) ? 64 : 1;
       auto buffer = std::make_unique<uint8_t[]>(length);
       uint16_t count = 0;
       WGReadCommPort(buffer.get(), length, &count, 9);
       FuzzCheck(count <= length, "more bytes read than the buffer holds");
     }},
    {false,
     [](uint8_t) {
       static const uint8_t kData[] = {4, 5};
       WGWriteCommPort(kData, sizeof kData);
     }},
    {false, [](uint8_t) { WGReleaseCommPort(nullptr, 0); }},
    {false, [](uint8_t) { WGRestartCommPort(); }},
    {true,
     [](uint8_t v) {
       Begun(WGBeginAcquireImage(CallbackOf(v), 7, 0, (v & 2) ? g_fixture->record : nullptr));
     }},
    {true,
     [](uint8_t) {
       auto image = std::make_unique<uint8_t[]>(WG_IMAGE_BUFFER_SIZE);
       WGEndAcquireImage(TransactionId(), image.get());
     }},
    {false,
     [](uint8_t) {
       static uint8_t raw[WG_RAW_BUFFER_SIZE];
       AsyncAcquireDataFromSensor(11, raw, OnSensor, 7);
     }},
    {true, [](uint8_t) { KillAsyncSensorIO(); }},
    {false,
     [](uint8_t) {
       // The local comparison asks the server for its minimum score.
       WGMatchTemplatePair(g_fixture->record, g_fixture->matchTemplate);
     }},
};

// Each input starts with no transaction, acquisition, image or client error left over.
void StartAfresh() {
  ClearEventRegistration();
  KillAsyncSensorIO();
  TakeClientError(nullptr, nullptr);
  std::lock_guard guard(g_scriptLock);
  g_script.clear();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzScratch("client");
  g_fixture = new Fixture;
  StoreI16(g_fixture->record + kRecType, WG_REFERENCE_TEMPLATE_TYPE);
  WGEncryptIOTemplateRecForExport(g_fixture->record);
  WGConvertNormalReferenceTemplateToSmall(g_fixture->small, g_fixture->record);
  g_server = new FakeServer(Answer);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  std::vector<uint8_t> selectors = input.bytes(1 + input.u8() % 12);
  {
    std::lock_guard guard(g_scriptLock);
    while (!input.empty()) {
      uint8_t flags = input.u8();
      g_script.push_back({flags, input.bytes(input.u16())});
    }
  }
  for (uint8_t selector : selectors) {
    const Call& call = kCalls[(selector & 63) % std::size(kCalls)];
    if (IsCallbackMode() && !call.duringCallbacks) continue;
    call.make(static_cast<uint8_t>(selector >> 6));
  }
  StartAfresh();
  return 0;
}
