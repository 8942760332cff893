// WGServer's answer to the cheapest user call, WhorlgateGetNumberUsers, through the client
// library and the pipes, with a thousand users in the store. Each iteration is one round trip;
// the median and the 90th percentile are reported beside the mean.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/pipe_echo.h"
#include "connect/connection.h"
#include "connect/process_attach.h"
#include "local/template_record.h"
#include "platform/time.h"
#include "server/user_store.h"
#include "shared/little_endian.h"
#include "shared/trace.h"
#include "whorlgate/wg_basic.h"

extern char** environ;

namespace {

constexpr int kUsers = 1000;

uint64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

bool SeedStore(const std::string& path) {
  UserStore store;
  std::string error;
  if (!store.open(path, &error)) return false;
  std::vector<uint8_t> record(WG_REFERENCE_TEMPLATE_SIZE, 0);
  StoreU16(record.data() + kRecType, WG_REFERENCE_TEMPLATE_TYPE);
  WGEncryptIOTemplateRecForExport(record.data());
  for (int i = 0; i < kUsers; ++i) {
    if (store.addFinger("user" + std::to_string(i), "", 1, record.data(),
                        static_cast<uint16_t>(record.size())) != StoreOutcome::kDone) {
      return false;
    }
  }
  return true;
}

void BM_GetNumberUsers(benchmark::State& state) {
  UseOwnObjectDirectory("server");
  char folder[] = "/dev/shm/wgbench-store-XXXXXX";
  if (!mkdtemp(folder)) {
    state.SkipWithError("no scratch folder");
    return;
  }
  std::string store = std::string(folder) + "/users.db";
  setenv("WHORLGATE_SERVER_STORE", store.c_str(), 1);
  pid_t server = -1;
  char program[] = WG_SERVER_PROGRAM;
  char* argv[] = {program, nullptr};
  static int anchor;
  const char* cause = nullptr;
  bool up = SeedStore(store) && posix_spawn(&server, program, nullptr, nullptr, argv, environ) == 0;
  uint32_t start = platform::GetTickCount();
  while (up && !IsServerPresent() && !platform::TickBudgetSpent(start, 5000)) {
    platform::SleepMs(10);
  }
  if (!up || !WGRpcProcessAttach(&anchor, &cause) || !InitPipeCommunications()) {
    state.SkipWithError("WGServer did not come up");
  } else {
    std::vector<double> microseconds;
    for (auto _ : state) {
      uint32_t count = 0;
      uint64_t begin = NowNs();
      WGResult result = WhorlgateGetNumberUsers(&count);
      double elapsed = static_cast<double>(NowNs() - begin) / 1000.0;
      if (result != WG_OK || count != kUsers) {
        state.SkipWithError("wrong answer");
        break;
      }
      microseconds.push_back(elapsed);
      state.SetIterationTime(elapsed / 1e6);
    }
    std::sort(microseconds.begin(), microseconds.end());
    if (!microseconds.empty()) {
      state.counters["median_us"] = microseconds[microseconds.size() / 2];
      state.counters["p90_us"] = microseconds[microseconds.size() * 9 / 10];
    }
    WGRpcProcessDetach();
  }
  TraceShutdown();
  if (server > 0) {
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

BENCHMARK(BM_GetNumberUsers)->UseManualTime()->Iterations(20000);

}  // namespace

BENCHMARK_MAIN();
