// Adds a user with one finger to the user store as the server's enrollment does, in a process
// of its own that a test can kill in the middle (WHORLGATE_STORE_TEST_PAUSE_FILE).
//
//   wg_store_writer USER-ID FINGER DISPLAY-NAME    prints "outcome N" (0: added)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "server/user_store.h"
#include "tests/server/sealed_record.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: wg_store_writer USER-ID FINGER DISPLAY-NAME\n");
    return 2;
  }
  UserStore store;
  std::string error;
  if (!store.open(UserStorePath(), &error)) {
    fprintf(stderr, "wg_store_writer: %s\n", error.c_str());
    return 1;
  }
  std::vector<uint8_t> record = SealedRecord(atoi(argv[2]));
  StoreOutcome outcome = store.addFinger(argv[1], argv[3], static_cast<int16_t>(atoi(argv[2])),
                                         record.data(), static_cast<uint16_t>(record.size()));
  printf("outcome %d\n", static_cast<int>(outcome));
  return outcome == StoreOutcome::kDone ? 0 : 1;
}
