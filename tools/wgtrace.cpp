// wgtrace: the kit's trace pipe from a terminal.
//
//   wgtrace follow [--count N] [--idle-exit MS] [--where MASK] [--type MASK]
//                  print trace records as they arrive, those whose where and type bits meet
//                  the masks (default: all)
//   wgtrace emit [--where MASK] [--type MASK] TEXT [--repeat N]   trace TEXT from this process
//
// Records written while nobody follows wait in the pipe (about 225 of them) until a reader
// takes them.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/module_version.h"
#include "platform/time.h"
#include "shared/trace.h"

WG_MODULE_VERSION_RESOURCE("4, 1, 0, 1", "Whorlgate trace pipe tool");

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

int Usage(FILE* out) {
  fprintf(out,
          "usage: wgtrace follow [--count N] [--idle-exit MS] [--where MASK] [--type MASK]\n"
          "       wgtrace emit [--where MASK] [--type MASK] [--repeat N] TEXT\n");
  return out == stdout ? 0 : 2;
}

bool ParseNumber(const char* text, unsigned long* value) {
  char* end = nullptr;
  errno = 0;
  *value = strtoul(text, &end, 0);
  return errno == 0 && end != text && *end == '\0';
}

// Names of the set bits, joined with '|'; bits without a name show as hexadecimal.
std::string BitNames(uint32_t bits, const char (*names)[kTraceNameLength]) {
  std::string out;
  for (int bit = 31; bit >= 0; --bit) {
    if (!(bits & (1u << bit))) continue;
    if (!out.empty()) out += '|';
    if (names[bit][0]) {
      out += names[bit];
    } else {
      char hex[16];
      snprintf(hex, sizeof hex, "0x%x", 1u << bit);
      out += hex;
    }
  }
  return out.empty() ? "-" : out;
}

int Follow(unsigned long count, unsigned long idleExitMs, uint32_t where, uint32_t type) {
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  g_pTraceControl = TraceInit(nullptr);
  if (!g_pTraceControl) {
    fprintf(stderr, "wgtrace: cannot open the trace pipe\n");
    return 1;
  }
  unsigned long shown = 0;
  uint32_t lastRecord = platform::GetTickCount();
  TraceRecord record;
  while (!g_stop && (count == 0 || shown < count)) {
    if (!TraceTakeRecord(&record, sizeof record)) {
      if (idleExitMs && platform::TickBudgetSpent(lastRecord, static_cast<uint32_t>(idleExitMs))) break;
      platform::SleepMs(20);
      continue;
    }
    lastRecord = platform::GetTickCount();
    if (!PassesFilters(record, {where, type})) continue;
    record.szText[kTraceTextLength - 1] = '\0';
    printf("%10u  %-16s %-12s %s\n", record.uiTickCount,
           BitNames(record.uiWhere, g_TraceWhereNames).c_str(),
           BitNames(record.uiType, g_TraceTypeNames).c_str(), record.szText);
    fflush(stdout);
    ++shown;
  }
  TraceShutdown();
  return 0;
}

int Emit(uint32_t where, uint32_t type, unsigned long repeat, const char* text) {
  g_pTraceControl = TraceInit("wgtrace: ");
  if (!g_pTraceControl) {
    fprintf(stderr, "wgtrace: cannot open the trace pipe\n");
    return 1;
  }
  for (unsigned long i = 0; i < repeat; ++i) {
    int32_t value = static_cast<int32_t>(i);
    TraceMsg(where, type, text, repeat > 1 ? &value : nullptr);
  }
  // The records stay in the pipe for a reader as long as some process holds it open; give a
  // follower that is starting up a moment to open it too.
  platform::SleepMs(200);
  TraceShutdown();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(stderr);
  std::string command = argv[1];
  if (command == "--help" || command == "-h") return Usage(stdout);
  unsigned long count = 0, idleExit = 0, repeat = 1;
  // Emit traces as "FrameWork" "Info" by default; follow shows everything by default.
  bool following = command == "follow";
  unsigned long where = following ? 0xFFFFFFFFul : TRACE_WHERE_FRAMEWORK;
  unsigned long type = following ? 0xFFFFFFFFul : TRACE_TYPE_INFO;
  const char* text = nullptr;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    unsigned long* target = arg == "--count"       ? &count
                            : arg == "--idle-exit" ? &idleExit
                            : arg == "--repeat"    ? &repeat
                            : arg == "--where"     ? &where
                            : arg == "--type"      ? &type
                                                   : nullptr;
    if (target) {
      if (i + 1 >= argc || !ParseNumber(argv[++i], target)) {
        fprintf(stderr, "wgtrace: %s needs a number\n", arg.c_str());
        return 2;
      }
    } else if (command == "emit" && !text) {
      text = argv[i];
    } else {
      fprintf(stderr, "wgtrace: unexpected argument %s\n", argv[i]);
      return 2;
    }
  }
  if (following) {
    return Follow(count, idleExit, static_cast<uint32_t>(where), static_cast<uint32_t>(type));
  }
  if (command == "emit" && text) return Emit(static_cast<uint32_t>(where), static_cast<uint32_t>(type), repeat, text);
  return Usage(stderr);
}
