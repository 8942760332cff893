// The shared library's load and unload. Built into libwgrpc.so only: the static form used by
// tests and the server runs the same steps by hand.
#include <unistd.h>

#include <cstdio>

#include "connect/process_attach.h"

namespace {

__attribute__((constructor)) void LibraryLoad() {
  const char* cause = "unknown cause";
  if (!WGRpcProcessAttach(reinterpret_cast<const void*>(&LibraryLoad), &cause)) {
    // As visible as a library the loader refuses: the program does not start.
    fprintf(stderr, "libwgrpc: cannot load: %s.\n", cause);
    _exit(127);
  }
}

__attribute__((destructor)) void LibraryUnload() { WGRpcProcessDetach(); }

}  // namespace
