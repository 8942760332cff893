#include "ventolog/console.h"

#include <signal.h>

#include <cstdio>

#include "platform/time.h"
#include "shared/registry.h"
#include "shared/trace.h"
#include "ventolog/trace_intake.h"
#include "ventolog/viewer_settings.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
  g_stop = 1;
}

}  // namespace

int RunConsole(const ConsoleOptions& options) {
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A reader that went away ends the run through a failed write, not a signal.
  signal(SIGPIPE, SIG_IGN);

  RegistryRoot registry =
      MakeRegistryRoot(platform::RegistryHive::kCurrentUser, kVentologRegistryPrefix);
  TraceFilters filters{
      options.where.value_or(
          RegReadNumber(&registry, kFilterSetupKey, kWhereFilterValue, kDefaultFilter)),
      options.type.value_or(
          RegReadNumber(&registry, kFilterSetupKey, kTypeFilterValue, kDefaultFilter)),
  };
  if (TraceControl* control = TraceInit("Ventolog: ")) g_pTraceControl = control;
  bool written = true;
  while (!g_stop && written) {
    PollTracePipe(filters, [&written](std::string line) {
      line += '\n';
      written = written && std::fwrite(line.data(), 1, line.size(), stdout) == line.size();
    });
    written = written && std::fflush(stdout) == 0;
    platform::SleepMs(kTracePollPeriodMs);
  }
  TraceShutdown();
  return written ? 0 : 1;
}
