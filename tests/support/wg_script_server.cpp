// A server that a test scripts: it meets the library's expectations of WGServer over the real
// pipes and named objects, answers as the script says, and logs every request byte for byte.
//
//   wg_script_server [OPTION]...    (options also come from the file $WG_SCRIPT_SERVER_SCRIPT,
//                                    whitespace-separated, for a server the library starts)
//   --log FILE                  append one line per request: "<type> <length> <hex bytes>"
//   --no-window                 never create the presence object WhorlgateWndClass
//   --no-waiting-signal         never create WhorlgateServerWaitingSignal
//   --no-running                create the running signal but never set it
//   --reply T:R:DELAY[:HEX]     answer a request of type T with a message of type R after DELAY
//                               ms, carrying HEX after the header; R "none": no answer. Several
//                               for one T are used in turn, the last one from then on.
//   --event-before T:E:SUB:DELAY[:HEX]  push event E (sub-code SUB, data HEX) DELAY ms before
//                               answering a request of type T (it arrives while the client waits)
//   --event-after T:E:SUB:DELAY[:HEX]   push it DELAY ms after answering
//   --event-stream T:E:COUNT:INTERVAL[:stamp]   after answering T, push COUNT events E every
//                               INTERVAL ms; "stamp": each carries the monotonic clock (ns,
//                               8 bytes) of the moment it is written, for latency measurements
//
// Without a script entry it answers connect (type 2), the template size query (type 5) and
// abort (type 35) as WGServer does, ends a session on disconnect (type 3) and ignores the rest.
// It prints "ready" once it can be found and runs until SIGTERM.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "connect/api_messages.h"
#include "platform/sync.h"
#include "platform/time.h"
#include "platform/window_object.h"
#include "shared/little_endian.h"
#include "shared/pipe.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

struct Reply {
  bool none = false;
  uint16_t type = 0;
  uint32_t delayMs = 0;
  std::vector<uint8_t> payload;
};

struct EventPush {
  uint16_t eventType = 0;
  int16_t subCode = 0;
  uint32_t delayMs = 0;
  std::vector<uint8_t> data;
  int count = 1;
  uint32_t intervalMs = 0;
  bool stamp = false;
};

struct Scheduled {
  uint32_t dueTick;
  uint32_t client;
  std::vector<uint8_t> message;
  bool stamp;
};

struct Script {
  std::string log;
  bool window = true, waitingSignal = true, running = true;
  std::map<uint16_t, std::vector<Reply>> replies;
  std::map<uint16_t, std::vector<EventPush>> before, after;
} g_script;

std::map<uint32_t, PipeCntl*> g_clients;
std::vector<Scheduled> g_schedule;

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::stringstream ss(text);
  std::string part;
  while (std::getline(ss, part, sep)) parts.push_back(part);
  if (!text.empty() && text.back() == sep) parts.push_back("");
  return parts;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  }
  return bytes;
}

uint32_t Num(const std::string& s) { return static_cast<uint32_t>(strtoul(s.c_str(), nullptr, 0)); }

bool ParseOption(const std::vector<std::string>& args, size_t& i) {
  const std::string& a = args[i];
  auto value = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
  if (a == "--log") {
    g_script.log = value();
  } else if (a == "--no-window") {
    g_script.window = false;
  } else if (a == "--no-waiting-signal") {
    g_script.waitingSignal = false;
  } else if (a == "--no-running") {
    g_script.running = false;
  } else if (a == "--reply") {
    auto f = Split(value(), ':');
    if (f.size() < 2) return false;
    Reply r;
    r.none = f[1] == "none";
    if (!r.none) r.type = static_cast<uint16_t>(Num(f[1]));
    if (f.size() > 2) r.delayMs = Num(f[2]);
    if (f.size() > 3) r.payload = FromHex(f[3]);
    g_script.replies[static_cast<uint16_t>(Num(f[0]))].push_back(r);
  } else if (a == "--event-before" || a == "--event-after" || a == "--event-stream") {
    auto f = Split(value(), ':');
    if (f.size() < 4) return false;
    EventPush e;
    e.eventType = static_cast<uint16_t>(Num(f[1]));
    if (a == "--event-stream") {
      e.count = static_cast<int>(Num(f[2]));
      e.intervalMs = Num(f[3]);
      e.stamp = f.size() > 4 && f[4] == "stamp";
      if (e.stamp) e.data.assign(8, 0);
    } else {
      e.subCode = static_cast<int16_t>(strtol(f[2].c_str(), nullptr, 0));
      e.delayMs = Num(f[3]);
      if (f.size() > 4) e.data = FromHex(f[4]);
    }
    (a == "--event-before" ? g_script.before : g_script.after)[static_cast<uint16_t>(Num(f[0]))].push_back(e);
  } else {
    return false;
  }
  return true;
}

void LogRequest(const uint8_t* message, uint32_t length) {
  if (g_script.log.empty()) return;
  FILE* f = fopen(g_script.log.c_str(), "a");
  if (!f) return;
  fprintf(f, "%u %u ", length >= kApiMsgHeaderSize ? LoadU16(message + kApiMsgType) : 0, length);
  for (uint32_t i = 0; i < length; ++i) fprintf(f, "%02x", message[i]);
  fprintf(f, "\n");
  fclose(f);
}

PipeCntl* ClientPipe(uint32_t pid) {
  auto it = g_clients.find(pid);
  if (it != g_clients.end()) return it->second;
  auto* pipe = static_cast<PipeCntl*>(calloc(1, sizeof(PipeCntl)));
  if (WGOpenOutputMessagePipe(pipe, static_cast<int32_t>(pid)) != 0) {
    free(pipe);
    return nullptr;
  }
  g_clients[pid] = pipe;
  return pipe;
}

void CloseClient(uint32_t pid) {
  auto it = g_clients.find(pid);
  if (it == g_clients.end()) return;
  WGCloseMessagePipe(it->second);
  free(it->second);
  g_clients.erase(it);
}

std::vector<uint8_t> Message(uint32_t pid, uint16_t type, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> m(kApiMsgHeaderSize + payload.size());
  StoreU32(m.data() + kApiMsgSize, static_cast<uint32_t>(m.size()));
  StoreU32(m.data() + kApiMsgProcessId, pid);
  StoreU16(m.data() + kApiMsgType, type);
  std::copy(payload.begin(), payload.end(), m.begin() + kApiMsgHeaderSize);
  return m;
}

std::vector<uint8_t> EventMessage(uint32_t pid, const EventPush& e) {
  std::vector<uint8_t> payload(6 + e.data.size());
  StoreU16(payload.data(), e.eventType);
  StoreI16(payload.data() + 2, e.subCode);
  StoreU16(payload.data() + 4, static_cast<uint16_t>(e.data.size()));
  std::copy(e.data.begin(), e.data.end(), payload.begin() + 6);
  return Message(pid, WG_API_EVENT, payload);
}

void Schedule(uint32_t delayMs, uint32_t pid, std::vector<uint8_t> message, bool stamp = false) {
  g_schedule.push_back({platform::GetTickCount() + delayMs, pid, std::move(message), stamp});
}

void Deliver(uint32_t pid, std::vector<uint8_t>& message, bool stamp) {
  PipeCntl* pipe = ClientPipe(pid);
  if (!pipe) return;
  if (stamp) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ns = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    StoreU32(message.data() + kEventMsgData, static_cast<uint32_t>(ns));
    StoreU32(message.data() + kEventMsgData + 4, static_cast<uint32_t>(ns >> 32));
  }
  WGSendPipeMessage(pipe, message.data(), static_cast<uint32_t>(message.size()));
}

void RunDue() {
  for (size_t i = 0; i < g_schedule.size();) {
    if (static_cast<int32_t>(platform::GetTickCount() - g_schedule[i].dueTick) >= 0) {
      Scheduled due = std::move(g_schedule[i]);
      g_schedule.erase(g_schedule.begin() + static_cast<long>(i));
      Deliver(due.client, due.message, due.stamp);
    } else {
      ++i;
    }
  }
}

Reply NextReply(uint16_t type) {
  auto it = g_script.replies.find(type);
  if (it != g_script.replies.end() && !it->second.empty()) {
    Reply r = it->second.front();
    if (it->second.size() > 1) it->second.erase(it->second.begin());
    return r;
  }
  Reply r;
  r.type = type;
  switch (type) {
    case WG_API_CONNECT:
    case WG_API_ABORT_TRANSACTION:
      r.payload = {0, 0};
      break;
    case WG_API_GETTEMPLATESIZE:
      r.payload = {0x50, 0x09, 0, 0};  // 2384, WG_OK
      break;
    default:
      r.none = true;
  }
  return r;
}

void PushEvents(const std::map<uint16_t, std::vector<EventPush>>& table, uint16_t type,
                uint32_t pid, uint32_t baseDelay) {
  auto it = table.find(type);
  if (it == table.end()) return;
  for (const EventPush& e : it->second) {
    for (int n = 0; n < e.count; ++n) {
      uint32_t offset = e.intervalMs ? static_cast<uint32_t>(n + 1) * e.intervalMs : e.delayMs;
      Schedule(baseDelay + offset, pid, EventMessage(pid, e), e.stamp);
    }
  }
}

void Serve(const uint8_t* request, uint32_t length) {
  LogRequest(request, length);
  if (length < kApiMsgHeaderSize) return;
  uint16_t type = LoadU16(request + kApiMsgType);
  uint32_t pid = LoadU32(request + kApiMsgProcessId);
  if (type == WG_API_DISCONNECT) {
    CloseClient(pid);
    return;
  }
  Reply reply = NextReply(type);
  uint32_t replyDelay = reply.delayMs;
  auto before = g_script.before.find(type);
  if (before != g_script.before.end()) {
    for (const EventPush& e : before->second) {
      Schedule(e.delayMs, pid, EventMessage(pid, e));
      replyDelay = std::max(replyDelay, e.delayMs + 20);
    }
  }
  if (reply.none) return;
  Schedule(replyDelay, pid, Message(pid, reply.type, reply.payload));
  PushEvents(g_script.after, type, pid, replyDelay);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (const char* file = getenv("WG_SCRIPT_SERVER_SCRIPT")) {
    std::ifstream in(file);
    std::string word;
    while (in >> word) args.push_back(word);
  }
  for (size_t i = 0; i < args.size(); ++i) {
    if (!ParseOption(args, i)) {
      fprintf(stderr, "wg_script_server: bad option %s\n", args[i].c_str());
      return 2;
    }
  }
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);
  signal(SIGPIPE, SIG_IGN);

  PipeCntl server{};
  if (WGOpenInputMessagePipe(&server, kServerPipeNumber) != 0) return 1;
  platform::Event* running = platform::CreateNamedEvent(kServerRunningSignal, true, false, nullptr);
  platform::Event* waiting = g_script.waitingSignal
                                 ? platform::CreateNamedEvent(kServerWaitingSignal, true, false, nullptr)
                                 : nullptr;
  platform::WindowObject* window = g_script.window ? platform::CreateWindowObject(kServerWindowClass) : nullptr;
  if (g_script.running) platform::SetEvent(running);
  if (!g_script.log.empty()) {
    if (FILE* f = fopen(g_script.log.c_str(), "a")) {
      fprintf(f, "pid %d\n", static_cast<int>(getpid()));
      fclose(f);
    }
  }
  printf("ready\n");
  fflush(stdout);

  while (!g_stop) {
    // Short looks keep the scheduled replies and events on time; once something has arrived,
    // the read gets time enough for a message of several chunks.
    if (platform::WaitForEvent(server.hMsgRdy, 5)) {
      uint32_t length = 0;
      uint8_t* request = WGReadPipe(&server, 2000, &length);
      if (request) {
        Serve(request, length);
        free(request);
      }
    }
    RunDue();
  }
  while (!g_clients.empty()) CloseClient(g_clients.begin()->first);
  platform::CloseWindowObject(window);
  platform::CloseNamedEvent(waiting);
  platform::CloseNamedEvent(running);
  WGCloseMessagePipe(&server);
  return 0;
}
