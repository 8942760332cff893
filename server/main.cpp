// WGServer, the kit's stand-in for the server process that owns the sensor and the store of
// enrolled users. The client library starts it (no arguments, its own folder as working folder)
// when no server runs; it serves until SIGTERM or SIGINT.
#include <signal.h>

#include <cstdio>
#include <cstring>

#include "platform/module_version.h"
#include "server/server.h"
#include "shared/registry.h"

WG_MODULE_VERSION_RESOURCE("4, 1, 0, 1", "Whorlgate server stand-in");

namespace {

volatile sig_atomic_t g_stopRequested = 0;

void OnStopSignal(int) {
  g_stopRequested = 1;
}

void Usage(FILE* out) {
  fprintf(out,
          "usage: WGServer [--help | --version]\n"
          "Serves the Whorlgate client library over the kit's message pipes until SIGTERM or\n"
          "SIGINT. Its objects live in $WHORLGATE_OBJECT_DIR (default /dev/shm/whorlgate); one\n"
          "server runs per object directory. Its users and settings live in\n"
          "$WHORLGATE_SERVER_STORE (default /var/lib/whorlgate/users.db for root, else\n"
          "${XDG_DATA_HOME:-$HOME/.local/share}/whorlgate/users.db).\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--help") == 0) {
    Usage(stdout);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    char version[kModuleVersionTextLength];
    GetModuleVersionText(nullptr, version);
    printf("WGServer %s\n", version);
    return 0;
  }
  if (argc != 1) {
    Usage(stderr);
    return 2;
  }
  // Installed before any object exists, so that a stop at any moment still withdraws them all.
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  // A store that reaches the file size limit must fail its write, which the client hears of,
  // rather than end the server; a client gone while a reply is written the same.
  signal(SIGXFSZ, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  return RunServer(g_stopRequested);
}
