// A second application for the comm port tests: linked against libwgrpc.so, it makes the comm
// port calls its arguments name, one after another, and reports each on standard output, so
// that a test can hold the port in one process while another asks for it.
//
//   wg_comm_client COMMAND...
//   get              WGGetCommPort: "result R"
//   release          WGReleaseCommPort: "result R"
//   write TEXT       WGWriteCommPort with the text: "result R"
//   read LENGTH MS   WGReadCommPort: "result R count N DATA"
//   details          WhorlgateGetResultDetails: "details R TEXT"
//   wait             "waiting", then waits until standard input closes
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "whorlgate.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string command = argv[i];
    if (command == "get") {
      printf("result %d\n", WGGetCommPort(nullptr, 0));
    } else if (command == "release") {
      printf("result %d\n", WGReleaseCommPort(nullptr, 0));
    } else if (command == "write" && i + 1 < argc) {
      const char* text = argv[++i];
      printf("result %d\n", WGWriteCommPort(reinterpret_cast<const uint8_t*>(text),
                                            static_cast<uint16_t>(strlen(text))));
    } else if (command == "read" && i + 2 < argc) {
      auto length = static_cast<uint16_t>(atoi(argv[++i]));
      auto ms = static_cast<uint32_t>(atoi(argv[++i]));
      std::vector<char> buffer(length);
      uint16_t count = 0;
      WGResult result =
          WGReadCommPort(reinterpret_cast<uint8_t*>(buffer.data()), length, &count, ms);
      printf("result %d count %u %.*s\n", result, count, static_cast<int>(count), buffer.data());
    } else if (command == "details") {
      char text[WG_RESULT_DETAILS_TEXT_SIZE] = {};
      WGResult result = WhorlgateGetResultDetails(text, nullptr);
      printf("details %d %s\n", result, text);
    } else if (command == "wait") {
      printf("waiting\n");
      fflush(stdout);
      char c;
      while (read(0, &c, 1) > 0) {
      }
    } else {
      printf("bad command\n");
      return 2;
    }
    fflush(stdout);
  }
  return 0;
}
