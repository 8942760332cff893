// Registry commands of the peer program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/registry_store.h"

namespace {

// registry-write-numbers KEY PREFIX COUNT: stores PREFIX0 = 0 ... in the user store, one write
// after the other; exits 1 when any write was refused.
int WriteNumbers(int argc, char** argv) {
  if (argc != 5) return 2;
  std::string key = argv[2];
  std::string prefix = argv[3];
  long count = strtol(argv[4], nullptr, 10);
  std::printf("writing\n");
  std::fflush(stdout);
  int failures = 0;
  for (long i = 0; i < count; ++i) {
    if (!platform::RegistrySetNumber(platform::RegistryHive::kCurrentUser, key,
                                     prefix + std::to_string(i), static_cast<uint32_t>(i))) {
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int PeerRegistryCommand(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "registry-write-numbers") == 0) {
    return WriteNumbers(argc, argv);
  }
  return -1;
}
