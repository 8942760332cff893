#include "bench/pipe_echo.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "shared/pipe.h"
#include "shared/trace.h"

namespace {

// Removes the benchmark's directories when the process ends (children end with _exit and
// leave them to the parent).
struct ScratchDirectories {
  std::vector<std::string> paths;
  ~ScratchDirectories() {
    std::error_code ignored;
    for (const auto& p : paths) std::filesystem::remove_all(p, ignored);
  }
} g_scratch;

}  // namespace

void UseOwnObjectDirectory(const char* tag) {
  std::string dir = "/dev/shm/wgbench-" + std::string(tag) + "-" + std::to_string(getpid());
  g_scratch.paths.push_back(dir);
  setenv("WHORLGATE_OBJECT_DIR", (dir + "/objects").c_str(), 1);
  setenv("WHORLGATE_MACHINE_REGISTRY", (dir + "/machine.reg").c_str(), 1);
  setenv("WHORLGATE_USER_REGISTRY", (dir + "/user.reg").c_str(), 1);
  setenv("WHORLGATE_SERVER_STORE", (dir + "/users.db").c_str(), 1);
}

namespace {

constexpr int32_t kToChild = 9001;
constexpr int32_t kToParent = 9002;

bool OpenOutputWhenReady(PipeCntl* pipe, int32_t number) {
  for (int i = 0; i < 2000; ++i) {
    if (WGOpenOutputMessagePipe(pipe, number) == 0) return true;
    usleep(1000);
  }
  return false;
}

// The child's echo loop: each message comes back as it came; a 1-byte message ends it.
[[noreturn]] void PipeEcho(bool traced) {
  if (traced) g_pTraceControl = TraceInit("child: ");
  PipeCntl in{}, out{};
  if (WGOpenInputMessagePipe(&in, kToChild) != 0 || !OpenOutputWhenReady(&out, kToParent)) _exit(1);
  for (;;) {
    uint32_t length = 0;
    uint8_t* message = WGReadPipe(&in, 30000, &length);
    if (!message) _exit(2);
    WGSendPipeMessage(&out, message, length);
    free(message);
    if (length == 1) _exit(0);
  }
}

}  // namespace

void RunPipeRoundTrip(benchmark::State& state, uint32_t size, bool traced) {
  UseOwnObjectDirectory("pipe");
  PipeCntl in{}, out{};
  WGOpenInputMessagePipe(&in, kToParent);
  pid_t child = fork();
  if (child == 0) PipeEcho(traced);
  if (traced) g_pTraceControl = TraceInit("parent: ");
  if (!OpenOutputWhenReady(&out, kToChild)) {
    state.SkipWithError("child pipe never appeared");
    return;
  }
  std::vector<uint8_t> message(size, 0xA5);
  for (auto _ : state) {
    if (WGSendPipeMessage(&out, message.data(), size) != 0) {
      state.SkipWithError("send failed");
      break;
    }
    uint8_t* reply = WGReadPipe(&in, 10000);
    if (!reply) {
      state.SkipWithError("no reply");
      break;
    }
    free(reply);
  }
  uint8_t last = 0;
  WGSendPipeMessage(&out, &last, 1);
  free(WGReadPipe(&in, 10000));
  waitpid(child, nullptr, 0);
  WGCloseMessagePipe(&in);
  WGCloseMessagePipe(&out);
  TraceShutdown();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size * 2);
}

