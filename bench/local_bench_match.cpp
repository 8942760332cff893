// WGMatchTemplatePair end to end, as an application calls it: a sealed reference record (full
// or small) against a match template of another impression of the same finger. The call
// checks and opens the record, asks the server for its minimum score, unpacks the match image
// into the matcher bitmap and compares. The server is the real WGServer, started once for
// these benchmarks in an object directory of their own.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <vector>

#include "bench/pipe_echo.h"
#include "connect/connection.h"
#include "connect/process_attach.h"
#include "fingers/synthetic_finger.h"
#include "platform/time.h"
#include "shared/trace.h"
#include "whorlgate.h"

extern char** environ;

namespace {

constexpr uint32_t kServerStartMs = 5000;

class Server {
 public:
  Server() {
    UseOwnObjectDirectory("match");
    char program[] = WG_SERVER_PROGRAM;
    char* argv[] = {program, nullptr};
    if (posix_spawn(&m_pid, program, nullptr, nullptr, argv, environ) != 0) return;
    const uint32_t start = platform::GetTickCount();
    while (!IsServerPresent() && !platform::TickBudgetSpent(start, kServerStartMs))
      platform::SleepMs(10);
    static int anchor;
    const char* cause = nullptr;
    m_bUp = IsServerPresent() && WGRpcProcessAttach(&anchor, &cause) && InitPipeCommunications();
  }
  ~Server() {
    if (m_bUp) WGRpcProcessDetach();
    TraceShutdown();
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      waitpid(m_pid, nullptr, 0);
    }
  }
  bool up() const { return m_bUp; }

 private:
  pid_t m_pid = -1;
  bool m_bUp = false;
};

const Server& RunningServer() {
  static const Server server;
  return server;
}

constexpr int kFingers = 8;
constexpr uint64_t kDatabase = 1;

using Bytes = std::vector<uint8_t>;

Bytes ImageBuffer(const wg_fingers::Image& image) {
  Bytes buffer(image.begin(), image.end());
  buffer.resize(WG_IMAGE_BUFFER_SIZE, 0);
  return buffer;
}

struct Records {
  std::vector<Bytes> full, small, probes;
  Records() {
    for (int f = 0; f < kFingers; ++f) {
      const wg_fingers::Master master =
          wg_fingers::MakeMaster(wg_fingers::FingerSeed(kDatabase, static_cast<uint32_t>(f)));
      Bytes record(WG_REFERENCE_TEMPLATE_SIZE), smallRecord(WG_SMALL_REFERENCE_TEMPLATE_SIZE);
      Bytes probe(WG_MATCH_TEMPLATE_SIZE);
      WGBuildReferenceTemplate(ImageBuffer(wg_fingers::MakeImpression(master, 0)).data(),
                               record.data());
      WGConvertNormalReferenceTemplateToSmall(smallRecord.data(), record.data());
      WGBuildMatchTemplate(ImageBuffer(wg_fingers::MakeImpression(master, 1)).data(), probe.data());
      full.push_back(record);
      small.push_back(smallRecord);
      probes.push_back(probe);
    }
  }
};

const Records& Database() {
  static const Records records;
  return records;
}

void Match(benchmark::State& state, const std::vector<Bytes>& records) {
  if (!RunningServer().up()) {
    state.SkipWithError("WGServer did not come up");
    return;
  }
  const Records& db = Database();
  size_t i = 0;
  int matched = 0;
  for (auto _ : state) {
    const size_t k = i++ % kFingers;
    const WGResult result = WGMatchTemplatePair(records[k].data(), db.probes[k].data());
    matched += result == WG_MATCH;
    benchmark::DoNotOptimize(result);
  }
  state.counters["matched"] =
      benchmark::Counter(static_cast<double>(matched), benchmark::Counter::kAvgIterations);
}

void BM_MatchTemplatePairFull(benchmark::State& state) {
  Match(state, Database().full);
}
BENCHMARK(BM_MatchTemplatePairFull);

void BM_MatchTemplatePairSmall(benchmark::State& state) {
  Match(state, Database().small);
}
BENCHMARK(BM_MatchTemplatePairSmall);

}  // namespace
