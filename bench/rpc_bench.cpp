// The client library's own costs: a request and its reply against WGServer beside the raw pipe
// round trip underneath it, and how soon a pushed event reaches a transaction callback.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "bench/pipe_echo.h"
#include "connect/api_exchange.h"
#include "connect/api_messages.h"
#include "connect/connection.h"
#include "connect/event_dispatch.h"
#include "connect/process_attach.h"
#include "platform/time.h"
#include "shared/little_endian.h"
#include "shared/trace.h"

extern char** environ;

namespace {

uint64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

// A server program of the kit, started for one benchmark and stopped after it.
class ServerProcess {
 public:
  explicit ServerProcess(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0].c_str(), nullptr, nullptr, args.data(), environ) != 0) pid_ = -1;
  }
  ~ServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

// Attaches once the server just started can be found, so the library does not start another.
bool Attach() {
  uint32_t start = platform::GetTickCount();
  while (!IsServerPresent() && !platform::TickBudgetSpent(start, 5000)) platform::SleepMs(10);
  static int anchor;
  const char* cause = nullptr;
  return WGRpcProcessAttach(&anchor, &cause) && InitPipeCommunications();
}

void BM_GetMaxTemplateSize(benchmark::State& state) {
  UseOwnObjectDirectory("rpc");
  ServerProcess server({WG_SERVER_PROGRAM});
  if (!server.started() || !Attach()) {
    state.SkipWithError("WGServer did not come up");
    return;
  }
  for (auto _ : state) {
    if (GetMaxTemplateSize() == 0) {
      state.SkipWithError("no template size");
      break;
    }
  }
  WGRpcProcessDetach();
  TraceShutdown();
}

// The same exchange with nothing but the pipes: 14 bytes there and back.
void BM_RawPipeRoundTrip14(benchmark::State& state) { RunPipeRoundTrip(state, 14, false); }

struct Latencies {
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<double> microseconds;
  std::atomic<int> idle{0};
} g_latencies;

void Collect(uint32_t, WGEventMessage* message) {
  if (message->uiMessageType == WG_MSG_STATUS && message->pData) {
    const uint8_t* data = static_cast<const uint8_t*>(message->pData);
    uint64_t sent = LoadU32(data) | (static_cast<uint64_t>(LoadU32(data + 4)) << 32);
    std::lock_guard<std::mutex> guard(g_latencies.lock);
    g_latencies.microseconds.push_back(static_cast<double>(NowNs() - sent) / 1000.0);
    g_latencies.arrived.notify_one();
  } else if (message->uiMessageType == WG_MSG_IDLE) {
    ++g_latencies.idle;
  }
  WGReleaseMessage(message);
}

// The server pushes a stamped event every 10 ms; each iteration is one event's way from the
// server's write to the callback.
void BM_EventDeliveryLatency(benchmark::State& state) {
  UseOwnObjectDirectory("events");
  const int events = 300;
  ServerProcess server({WG_SCRIPT_SERVER, "--reply", "37:37:0:0000", "--event-stream",
                        "37:2:" + std::to_string(events) + ":10:stamp"});
  if (!server.started() || !Attach()) {
    state.SkipWithError("scripted server did not come up");
    return;
  }
  uint8_t request[12] = {};
  WGRpcUtilFillHeader(request, sizeof request, WG_API_BEGIN_ENROLL);
  WGRpcUtilSendAPIMsg(request, sizeof request, "bench", false);
  free(WGRpcUtilWaitAPIMsg(WG_API_BEGIN_ENROLL, 10000, "bench", 10));
  SetEventRegistration(Collect, 0, true, true);
  size_t seen = 0;
  for (auto _ : state) {
    std::unique_lock<std::mutex> guard(g_latencies.lock);
    if (!g_latencies.arrived.wait_for(guard, std::chrono::seconds(5),
                                      [&] { return g_latencies.microseconds.size() > seen; })) {
      state.SkipWithError("events stopped coming");
      break;
    }
    state.SetIterationTime(g_latencies.microseconds[seen++] / 1e6);
  }
  // Then a quiet second: the callback should hear about 20 idle messages.
  platform::SleepMs(300);
  g_latencies.idle = 0;
  platform::SleepMs(1000);
  int idlePerSecond = g_latencies.idle.load();
  ClearEventRegistration();
  std::vector<double> sorted;
  {
    std::lock_guard<std::mutex> guard(g_latencies.lock);
    sorted = g_latencies.microseconds;
  }
  std::sort(sorted.begin(), sorted.end());
  if (!sorted.empty()) {
    state.counters["median_us"] = sorted[sorted.size() / 2];
    state.counters["p90_us"] = sorted[sorted.size() * 9 / 10];
    state.counters["max_us"] = sorted.back();
  }
  state.counters["idle_per_s"] = idlePerSecond;
  WGRpcProcessDetach();
  TraceShutdown();
}

BENCHMARK(BM_GetMaxTemplateSize)->UseRealTime()->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RawPipeRoundTrip14)->UseRealTime()->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_EventDeliveryLatency)->UseManualTime()->Iterations(300);

}  // namespace

BENCHMARK_MAIN();
