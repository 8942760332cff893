// The trace viewer's sustained intake: a producer process traces 1,000 records a second while
// the viewer runs with every filter bit open and logs every line to a file. The counters tell
// whether a record was lost while the pipe had room (the viewer gets half a second after the
// producer's last record to show what is left), and how much CPU the viewer used.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/desktop/application.h"
#include "shared/pipe.h"
#include "shared/registry.h"
#include "shared/trace.h"
#include "ventolog/main_frame.h"
#include "ventolog/ventolog_app.h"
#include "ventolog/viewer_settings.h"

namespace {

constexpr uint32_t kRecordsPerSecond = 1000;
constexpr int kCatchUpMs = 500;

struct ProducerCounts {
  uint32_t sent;
  uint32_t dropped;  // the pipe was full
};

// Appends numbered records at a steady pace from `go` on; reports its counts through `report`.
[[noreturn]] void Producer(int go, int report, uint32_t seconds) {
  char byte;
  if (read(go, &byte, 1) != 1) _exit(1);
  PipeCntl pipe{};
  if (WGOpenInputMessagePipe(&pipe, kTracePipeNumber) != 0) _exit(1);
  ProducerCounts counts{};
  timespec next;
  clock_gettime(CLOCK_MONOTONIC, &next);
  const uint32_t total = seconds * kRecordsPerSecond;
  for (uint32_t i = 0; i < total; ++i) {
    TraceRecord record{};
    record.uiSize = kTraceRecordSize;
    record.uiTickCount = i;
    record.uiWhere = TRACE_WHERE_RPC_DLL;
    record.uiType = TRACE_TYPE_INFO;
    snprintf(record.szText, sizeof record.szText, "bench: record %u", i);
    if (WGAppendPipeRecord(&pipe, reinterpret_cast<const uint8_t*>(&record), sizeof record) == 0) {
      ++counts.sent;
    } else {
      ++counts.dropped;
    }
    next.tv_nsec += 1000000000 / kRecordsPerSecond;
    if (next.tv_nsec >= 1000000000) {
      next.tv_nsec -= 1000000000;
      ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
  if (write(report, &counts, sizeof counts) != sizeof counts) _exit(1);
  // The records stay readable while this process holds the pipe; the viewer holds it too.
  WGCloseMessagePipe(&pipe);
  _exit(0);
}

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The viewer's own event loop, for `ms`.
void RunEventsFor(int ms) {
  QTimer::singleShot(ms, QCoreApplication::instance(), [] { QCoreApplication::quit(); });
  QCoreApplication::exec();
}

void BM_SustainedIntake(benchmark::State& state) {
  const uint32_t seconds = static_cast<uint32_t>(state.range(0));
  char scratch[] = "/dev/shm/wg-ventolog-bench-XXXXXX";
  if (!mkdtemp(scratch)) {
    state.SkipWithError("no scratch folder");
    return;
  }
  const std::string dir = scratch;
  setenv("WHORLGATE_OBJECT_DIR", (dir + "/objects").c_str(), 1);
  setenv("WHORLGATE_USER_REGISTRY", (dir + "/user.reg").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string logPath = dir + "/trace.txt";
  RegistryRoot registry =
      MakeRegistryRoot(platform::RegistryHive::kCurrentUser, kVentologRegistryPrefix);
  RegWriteText(&registry, kOptionsKey, kStartupLogFileNameValue, logPath.c_str());
  RegWriteNumber(&registry, kFilterSetupKey, kWhereFilterValue, 0xFFFFFFFFu);
  RegWriteNumber(&registry, kFilterSetupKey, kTypeFilterValue, 0xFFFFFFFFu);

  int go[2], report[2];
  if (pipe(go) != 0 || pipe(report) != 0) {
    state.SkipWithError("no pipes");
    return;
  }
  // Forked before Qt starts any thread.
  pid_t producer = fork();
  if (producer == 0) Producer(go[0], report[1], seconds);

  int argc = 1;
  char name[] = "ventolog_bench";
  char* argv[] = {name, nullptr};
  ProducerCounts counts{};
  uint32_t shown = 0, outOfOrder = 0;
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    desktop::Application application(argc, argv);
    auto viewer = std::make_unique<VentologApp>(application);
    viewer->Start();
    RunEventsFor(200);
    const double cpuBefore = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    if (write(go[1], "g", 1) != 1) {
      state.SkipWithError("producer not started");
      break;
    }
    // The producer's report arrives when it is done.
    QSocketNotifier reported(report[0], QSocketNotifier::Read);
    QObject::connect(&reported, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    reported.setEnabled(false);
    if (read(report[0], &counts, sizeof counts) != sizeof counts) {
      state.SkipWithError("no report from the producer");
      break;
    }
    // What is still in the pipe is at most a pipe full, about a quarter second of polls; a
    // viewer that kept up has shown everything by the end of this.
    RunEventsFor(kCatchUpMs);
    wall = static_cast<double>(clock.elapsed()) / 1000.0;
    cpu = CpuSeconds() - cpuBefore;
    viewer->Frame()->close();
    viewer.reset();
  }
  waitpid(producer, nullptr, 0);

  std::ifstream log(logPath);
  uint32_t expected = 0;
  for (std::string line; std::getline(log, line);) {
    size_t at = line.find("bench: record ");
    if (at == std::string::npos) continue;
    uint32_t number = static_cast<uint32_t>(std::stoul(line.substr(at + 14)));
    if (number != expected) ++outOfOrder;
    expected = number + 1;
    ++shown;
  }
  std::filesystem::remove_all(dir);
  state.counters["sent"] = counts.sent;
  state.counters["dropped_pipe_full"] = counts.dropped;
  state.counters["shown"] = shown;
  state.counters["lost"] = static_cast<double>(counts.sent) - shown;
  state.counters["out_of_order"] = outOfOrder;
  state.counters["viewer_cpu_percent"] = wall > 0 ? 100.0 * cpu / wall : 0;
}

BENCHMARK(BM_SustainedIntake)->Arg(30)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
