// Ventolog, the kit's trace viewer.
//
//   Ventolog                       the window
//   Ventolog --console [--where MASK] [--type MASK]
//                                  the same lines on standard output, until interrupted
//   Ventolog --poll                asks the running viewer to poll the trace pipe at once
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/desktop/application.h"
#include "platform/module_version.h"
#include "ventolog/console.h"
#include "ventolog/main_frame.h"
#include "ventolog/poll_request.h"
#include "ventolog/ventolog_app.h"

WG_MODULE_VERSION_RESOURCE("4, 1, 0, 1", "Whorlgate trace viewer");

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  char byte = 1;
  ssize_t ignored = write(g_signalPipe[1], &byte, 1);
  (void)ignored;
}

int Usage(FILE* out) {
  fprintf(out,
          "usage: Ventolog\n"
          "       Ventolog --console [--where MASK] [--type MASK]\n"
          "       Ventolog --poll\n");
  return out == stdout ? 0 : 2;
}

bool ParseMask(const char* text, uint32_t* value) {
  char* end = nullptr;
  errno = 0;
  unsigned long number = strtoul(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || number > 0xFFFFFFFFul) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

int Console(int argc, char** argv) {
  ConsoleOptions options;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<uint32_t>* target = arg == "--where"  ? &options.where
                                      : arg == "--type" ? &options.type
                                                        : nullptr;
    uint32_t mask = 0;
    if (!target || i + 1 >= argc || !ParseMask(argv[++i], &mask)) {
      fprintf(stderr, "Ventolog: %s\n",
              target ? "a mask is a number such as 0x80000000" : "unknown option");
      return Usage(stderr);
    }
    *target = mask;
  }
  return RunConsole(options);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2) {
    std::string command = argv[1];
    if (command == "--help" || command == "-h") return Usage(stdout);
    if (command == "--console") return Console(argc, argv);
    if (command == "--poll" && argc == 2) {
      if (SendPollRequest()) return 0;
      fprintf(stderr, "Ventolog: no trace viewer is running\n");
      return 1;
    }
    return Usage(stderr);
  }
  desktop::Application application(argc, argv);
  VentologApp viewer(application);
  viewer.Start();
  // SIGTERM (a session ending) and SIGINT close the window as the user would, so the log file
  // is flushed and the settings are saved.
  if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  QSocketNotifier signalled(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalled, &QSocketNotifier::activated, [&viewer] { viewer.Frame()->close(); });
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return application.exec();
}
