// The second process of cross-process tests. Usage: wg_test_peer COMMAND ARGS...; it reports
// progress on standard output, one line at a time, for the test to wait on.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/shared_area.h"
#include "platform/sync.h"
#include "platform/window_object.h"
#include "shared/little_endian.h"
#include "shared/pipe.h"
#include "shared/trace.h"
#include "tests/support/message_pattern.h"

// Registry commands live beside the registry tests' needs; -1 when argv[1] is not one of them.
int PeerRegistryCommand(int argc, char** argv);

namespace {

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  printf("\n");
  fflush(stdout);
}

int32_t Arg(char** argv, int i) { return static_cast<int32_t>(strtol(argv[i], nullptr, 0)); }

// Opens the output pipe, waiting for its owner to create it.
bool OpenOutput(PipeCntl* pipe, int32_t number) {
  for (int i = 0; i < 1000; ++i) {
    if (WGOpenOutputMessagePipe(pipe, number) == 0) return true;
    usleep(5000);
  }
  return false;
}

// send PIPE LENGTH SEED: one message of the test pattern.
int Send(char** argv) {
  PipeCntl pipe{};
  if (!OpenOutput(&pipe, Arg(argv, 2))) return 2;
  auto message = PatternMessage(static_cast<uint32_t>(Arg(argv, 3)), static_cast<uint32_t>(Arg(argv, 4)));
  Say("sent %d", WGSendPipeMessage(&pipe, message.data(), static_cast<uint32_t>(message.size())));
  WGCloseMessagePipe(&pipe);
  return 0;
}

// read PIPE BUDGET_MS COUNT: creates the pipe, then reports COUNT messages (length, FNV-1a).
int Read(char** argv) {
  PipeCntl pipe{};
  if (WGOpenInputMessagePipe(&pipe, Arg(argv, 2)) != 0) return 2;
  Say("ready");
  for (int i = 0; i < Arg(argv, 4); ++i) {
    uint32_t length = 0;
    uint8_t* message = WGReadPipe(&pipe, static_cast<uint32_t>(Arg(argv, 3)), &length);
    if (message) {
      Say("got %u %08x", length, Fnv1a(message, length));
    } else {
      Say("none");
    }
    free(message);
  }
  WGCloseMessagePipe(&pipe);
  return 0;
}

// echo IN OUT: sends every message read from pipe IN back on pipe OUT until an empty read.
int Echo(char** argv) {
  PipeCntl in{}, out{};
  if (WGOpenInputMessagePipe(&in, Arg(argv, 2)) != 0) return 2;
  Say("ready");
  if (!OpenOutput(&out, Arg(argv, 3))) return 2;
  for (;;) {
    uint32_t length = 0;
    uint8_t* message = WGReadPipe(&in, 30000, &length);
    if (!message) break;
    bool last = length == 1 && message[0] == 0xFF;
    WGSendPipeMessage(&out, message, length);
    free(message);
    if (last) break;
  }
  WGCloseMessagePipe(&in);
  WGCloseMessagePipe(&out);
  return 0;
}

// record PIPE SIZE TYPE BYTES_TO_FOLLOW CHUNK_LENGTH: writes one raw record with the given
// header fields (and a data pattern), as a careless or hostile writer might. The record written
// is SIZE bytes long, kept between the header's 18 bytes and the area's 65,536.
int Record(char** argv) {
  PipeCntl pipe{};
  if (!OpenOutput(&pipe, Arg(argv, 2))) return 2;
  uint32_t size = static_cast<uint32_t>(strtoul(argv[3], nullptr, 0));
  uint32_t written = size < kPipeRecordHeaderSize ? kPipeRecordHeaderSize
                     : size > kPipeAreaSize       ? kPipeAreaSize
                                                  : size;
  std::vector<uint8_t> record = PatternMessage(written, 7);
  StoreU32(record.data() + kPipeRecSize, size);
  StoreI32(record.data() + kPipeRecPipeNumber, pipe.iPipeNumber);
  StoreU16(record.data() + kPipeRecType, static_cast<uint16_t>(Arg(argv, 4)));
  StoreU32(record.data() + kPipeRecBytesToFollow, static_cast<uint32_t>(strtoul(argv[5], nullptr, 0)));
  StoreU32(record.data() + kPipeRecChunkLength, static_cast<uint32_t>(strtoul(argv[6], nullptr, 0)));
  Say("wrote %d", WGWriteOutputPipe(&pipe, record.data(), static_cast<uint32_t>(record.size())));
  WGCloseMessagePipe(&pipe);
  return 0;
}

// hold KIND NAME: creates the object and keeps it until killed or until stdin closes.
int Hold(char** argv) {
  std::string kind = argv[2];
  const char* name = argv[3];
  bool existed = false;
  std::function<void()> release;
  if (kind == "area") {
    platform::SharedArea* area = platform::CreateSharedArea(name, 65536, &existed);
    if (area) {
      memset(platform::SharedAreaView(area), 0x5A, 16);
      release = [area] { platform::CloseSharedArea(area); };
    }
  } else if (kind == "event") {
    platform::Event* event = platform::CreateNamedEvent(name, true, true, &existed);
    if (event) release = [event] { platform::CloseNamedEvent(event); };
  } else if (kind == "mutex") {
    platform::Mutex* mutex = platform::CreateNamedMutex(name, &existed);
    if (mutex) release = [mutex] { platform::CloseNamedMutex(mutex); };
  } else if (kind == "window") {
    platform::WindowObject* window = platform::CreateWindowObject(name);
    if (window) release = [window] { platform::CloseWindowObject(window); };
  }
  if (!release) return 2;
  Say("held %d", existed ? 1 : 0);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  release();
  return 0;
}

// lock-mutex NAME: takes the mutex, reports, then waits to be killed (or stdin to close,
// when it exits holding the mutex).
int LockMutexAndWait(char** argv) {
  platform::Mutex* mutex = platform::CreateNamedMutex(argv[2], nullptr);
  if (!mutex || !platform::LockMutex(mutex, 1000)) return 2;
  Say("locked");
  char c;
  while (read(0, &c, 1) > 0) {
  }
  return 0;
}

// trace PREFIX COUNT: traces COUNT records "<n>" through the trace facility.
int Trace(char** argv) {
  g_pTraceControl = TraceInit(argv[2]);
  if (!g_pTraceControl) return 2;
  Say("ready");
  int count = Arg(argv, 3);
  for (int i = 0; i < count; ++i) {
    TraceValue(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, "record", i);
  }
  Say("done");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string command = argv[1];
  if (command == "send" && argc == 5) return Send(argv);
  if (command == "read" && argc == 5) return Read(argv);
  if (command == "echo" && argc == 4) return Echo(argv);
  if (command == "record" && argc == 7) return Record(argv);
  if (command == "hold" && argc == 4) return Hold(argv);
  if (command == "lock-mutex" && argc == 3) return LockMutexAndWait(argv);
  if (command == "trace" && argc == 4) return Trace(argv);
  int status = PeerRegistryCommand(argc, argv);
  if (status >= 0) return status;
  fprintf(stderr, "wg_test_peer: unknown command %s\n", command.c_str());
  return 2;
}
