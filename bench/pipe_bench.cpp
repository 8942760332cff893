// Round trips through message pipes between two processes, beside a Unix-domain socket round
// trip of the same sizes, and the trace pipe's intake while another process drains it.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "shared/pipe.h"
#include "bench/pipe_echo.h"
#include "shared/trace.h"

namespace {

void BM_PipeRoundTrip(benchmark::State& state) {
  RunPipeRoundTrip(state, static_cast<uint32_t>(state.range(0)), false);
}
void BM_PipeRoundTripTraced(benchmark::State& state) {
  RunPipeRoundTrip(state, static_cast<uint32_t>(state.range(0)), true);
}

bool ReadFully(int fd, uint8_t* p, size_t n) {
  while (n) {
    ssize_t r = read(fd, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool WriteFully(int fd, const uint8_t* p, size_t n) {
  while (n) {
    ssize_t w = write(fd, p, n);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// What a Linux developer would otherwise write: a stream socket pair and an echoing child.
void BM_UnixSocketRoundTrip(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
    state.SkipWithError("socketpair failed");
    return;
  }
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    std::vector<uint8_t> buffer(size);
    while (ReadFully(fds[1], buffer.data(), size) && WriteFully(fds[1], buffer.data(), size)) {
    }
    _exit(0);
  }
  close(fds[1]);
  std::vector<uint8_t> message(size, 0xA5), reply(size);
  for (auto _ : state) {
    if (!WriteFully(fds[0], message.data(), size) || !ReadFully(fds[0], reply.data(), size)) {
      state.SkipWithError("socket round trip failed");
      break;
    }
  }
  close(fds[0]);
  waitpid(child, nullptr, 0);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size) * 2);
}

// One process traces as fast as it can while another takes records out, as the trace viewer
// does (without its 50 ms pauses). Reports calls per second and how many records got through.
void BM_TraceIntake(benchmark::State& state) {
  UseOwnObjectDirectory("trace");
  int report[2];
  if (pipe(report) != 0) return;
  pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    g_pTraceControl = TraceInit(nullptr);
    uint64_t taken = 0;
    TraceRecord record;
    for (;;) {
      if (TraceTakeRecord(&record, sizeof record)) {
        if (strcmp(record.szText, "stop") == 0) break;
        ++taken;
      }
    }
    ssize_t ignored = write(report[1], &taken, sizeof taken);
    (void)ignored;
    _exit(0);
  }
  close(report[1]);
  g_pTraceControl = TraceInit(nullptr);
  usleep(100000);  // let the reader open the pipe
  int32_t value = 0;
  for (auto _ : state) {
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, "WGRPC: benchmark record", &value);
    ++value;
  }
  // The stop record must get through even if the pipe is full right now.
  for (;;) {
    TraceControl* control = g_pTraceControl;
    TraceRecord stop{kTraceRecordSize, 0, 0, 0, "stop"};
    if (WGAppendPipeRecord(control->pTracePipe, reinterpret_cast<uint8_t*>(&stop), sizeof stop) == 0) break;
    usleep(100);
  }
  uint64_t taken = 0;
  ssize_t got = read(report[0], &taken, sizeof taken);
  close(report[0]);
  waitpid(child, nullptr, 0);
  TraceShutdown();
  if (got != sizeof taken) return;
  state.counters["delivered"] = benchmark::Counter(static_cast<double>(taken), benchmark::Counter::kIsRate);
  state.counters["delivered_share"] = static_cast<double>(taken) / static_cast<double>(state.iterations());
}

// Medians of five runs: a shared 2-core machine has the odd slow run.
BENCHMARK(BM_PipeRoundTrip)->Arg(64)->Arg(65518)->Arg(65536)->UseRealTime()->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PipeRoundTripTraced)->Arg(64)->UseRealTime()->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_UnixSocketRoundTrip)->Arg(64)->Arg(65536)->UseRealTime()->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_TraceIntake)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
