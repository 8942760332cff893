// Identification against WGServer with 0, 100, 1,000 and 10,000 enrolled fingers: the whole
// blocking WhorlgateIdentify call (the simulated sensor at 10 ms a frame and no user delay, so
// the capture costs the same few frames each time), the server's CPU time per call in cores,
// and its resident memory with the fingers loaded. The finger presented is enrolled nowhere, so
// every call compares with every finger. The 0-finger run is the capture's own cost.
//
// The 10,000 sealed records (250 synthetic fingers, 40 impressions each) are made once and kept
// in the bench's build folder.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/pipe_echo.h"
#include "connect/connection.h"
#include "connect/process_attach.h"
#include "connect/service_block.h"
#include "fingers/synthetic_finger.h"
#include "local/matcher_adapter.h"
#include "local/template_record.h"
#include "platform/time.h"
#include "server/sensor_commands.h"
#include "server/user_store.h"
#include "shared/little_endian.h"
#include "shared/trace.h"
#include "whorlgate/wg_basic.h"
#include "whorlgate/wg_image.h"

extern char** environ;

namespace {

constexpr int kMostFingers = 10000;
constexpr int kImpressionsPerFinger = 40;

double NowSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The sealed records, made on the first run and read back on the next.
std::vector<std::vector<uint8_t>> Records() {
  std::string cache = std::string(WG_BENCH_CACHE_DIR) + "/identify-records.bin";
  std::vector<std::vector<uint8_t>> records;
  std::ifstream in(cache, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() == size_t{kMostFingers} * WG_REFERENCE_TEMPLATE_SIZE) {
    for (int i = 0; i < kMostFingers; ++i) {
      auto at = bytes.begin() + static_cast<ptrdiff_t>(i) * WG_REFERENCE_TEMPLATE_SIZE;
      records.emplace_back(at, at + WG_REFERENCE_TEMPLATE_SIZE);
    }
    return records;
  }
  std::ofstream out(cache, std::ios::binary);
  for (int finger = 0; finger < kMostFingers / kImpressionsPerFinger; ++finger) {
    wg_fingers::Master master = wg_fingers::MakeMaster(wg_fingers::FingerSeed(9, finger));
    for (int k = 0; k < kImpressionsPerFinger; ++k) {
      uint8_t buffer[WG_IMAGE_BUFFER_SIZE] = {};
      wg_fingers::Image image = wg_fingers::MakeImpression(master, static_cast<uint32_t>(k));
      std::copy(image.begin(), image.end(), buffer);
      std::vector<uint8_t> record(WG_REFERENCE_TEMPLATE_SIZE);
      WGSBuildReferenceTemplate(buffer, record.data(), nullptr);
      WGEncryptIOTemplateRecForExport(record.data());
      out.write(reinterpret_cast<const char*>(record.data()), WG_REFERENCE_TEMPLATE_SIZE);
      records.push_back(std::move(record));
    }
  }
  return records;
}

long PageKb() { return sysconf(_SC_PAGESIZE) / 1024; }

// Resident memory (kB) and CPU time (s) of a process.
long ResidentKb(pid_t pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * PageKb();
}
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  double ticks = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool SensorCommand(uint8_t command, const std::function<void(uint8_t*)>& fill) {
  WGServiceBlock block{};
  if (!ServicePrepare(&block)) return false;
  block.aucBlock[kServiceBlockCommand] = command;
  fill(block.aucBlock);
  return ServiceSend(&block, true);
}

long g_emptyServerKb = 0;

void BM_Identify(benchmark::State& state) {
  const int fingers = static_cast<int>(state.range(0));
  static const std::vector<std::vector<uint8_t>> records = Records();
  UseOwnObjectDirectory(("identify" + std::to_string(fingers)).c_str());
  char folder[] = "/dev/shm/wgbench-identify-XXXXXX";
  if (!mkdtemp(folder)) {
    state.SkipWithError("no scratch folder");
    return;
  }
  std::string path = std::string(folder) + "/users.db";
  setenv("WHORLGATE_SERVER_STORE", path.c_str(), 1);
  {
    UserStore store;
    std::string error;
    store.open(path, &error);
    for (int i = 0; i < fingers; ++i) {
      store.addFinger("user" + std::to_string(i), "", 1, records[static_cast<size_t>(i)].data(),
                      WG_REFERENCE_TEMPLATE_SIZE);
    }
  }
  pid_t server = -1;
  char program[] = WG_SERVER_PROGRAM;
  char* argv[] = {program, nullptr};
  static int anchor;
  const char* cause = nullptr;
  bool up = posix_spawn(&server, program, nullptr, nullptr, argv, environ) == 0;
  uint32_t start = platform::GetTickCount();
  while (up && !IsServerPresent() && !platform::TickBudgetSpent(start, 10000)) {
    platform::SleepMs(10);
  }
  up = up && WGRpcProcessAttach(&anchor, &cause) && InitPipeCommunications() &&
       SensorCommand(kSensorPace,
                     [](uint8_t* b) {
                       StoreU32(b + kSensorBlockFrameMs, 10);
                       StoreU32(b + kSensorBlockDelayMs, 0);
                       StoreU32(b + kSensorBlockTimeoutMs, 10000);
                     }) &&
       SensorCommand(kSensorPresent, [](uint8_t* b) {
         strcpy(reinterpret_cast<char*>(b + kSensorBlockText), "finger stranger/1");
       });
  if (!up) {
    state.SkipWithError("WGServer did not come up");
  } else {
    double cpu = 0, wall = 0;
    int falseMatches = 0;
    for (auto _ : state) {
      WGUserRecord user = {WG_USER_RECORD_SIZE, "", ""};
      double cpuBefore = CpuSeconds(server), begin = NowSeconds();
      WGResult result = WhorlgateIdentify(&user, nullptr);
      double elapsed = NowSeconds() - begin;
      if (result != WG_NO_MATCH && result != WG_MATCH) {
        state.SkipWithError("the identification failed");
        break;
      }
      falseMatches += result == WG_MATCH;
      cpu += CpuSeconds(server) - cpuBefore;
      wall += elapsed;
      state.SetIterationTime(elapsed);
    }
    long resident = ResidentKb(server);
    if (fingers == 0) g_emptyServerKb = resident;
    state.counters["server_cores"] = wall > 0 ? cpu / wall : 0;
    state.counters["false_matches"] = falseMatches;
    state.counters["server_rss_mb"] = static_cast<double>(resident) / 1024;
    if (fingers > 0 && g_emptyServerKb > 0) {
      state.counters["kb_per_finger"] = static_cast<double>(resident - g_emptyServerKb) / fingers;
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

BENCHMARK(BM_Identify)->Arg(0)->Arg(100)->Arg(1000)->Arg(10000)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
