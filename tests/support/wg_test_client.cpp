// An application of the installed kind: linked against libwgrpc.so, whose load starts (or
// finds) the server before main runs.
//   wg_test_client [abort]...   each "abort" makes one server call (an abort exchange)
#include <cstdio>
#include <cstring>

#include "whorlgate.h"

int main(int argc, char** argv) {
  printf("loaded\n");
  fflush(stdout);
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "abort") == 0) WGAbortTransaction(0);
  }
  printf("done\n");
  return 0;
}
