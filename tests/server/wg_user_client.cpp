// An application of the installed kind for the user store tests: linked against libwgrpc.so,
// it makes basic calls one command at a time and reports each on standard output.
//
//   wg_user_client COMMAND...
//   walk          WhorlgateInit, WhorlgateGetNextUser until the end, WhorlgateClose:
//                 "walked N FIRST LAST"
//   init          WhorlgateInit: "context HANDLE"
//   delete USER   WhorlgateDeleteUser: "result R"
//   count         WhorlgateGetNumberUsers: "count N result R"
//   details       WhorlgateGetResultDetails: "details R TEXT"
//   hold          waits until standard input closes
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "whorlgate.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string command = argv[i];
    if (command == "walk") {
      WGContextHandle context = WhorlgateInit(nullptr);
      WGUserRecord user = {WG_USER_RECORD_SIZE, "", ""};
      int walked = 0;
      std::string first, last;
      while (WhorlgateGetNextUser(context, &user) == WG_OK && user.szUserID[0]) {
        if (walked++ == 0) first = user.szUserID;
        last = user.szUserID;
      }
      WhorlgateClose(context);
      printf("walked %d %s %s\n", walked, first.c_str(), last.c_str());
    } else if (command == "init") {
      printf("context %u\n", WhorlgateInit(nullptr));
    } else if (command == "delete" && i + 1 < argc) {
      WGUserRecord user = {WG_USER_RECORD_SIZE, "", ""};
      strncpy(user.szUserID, argv[++i], sizeof user.szUserID - 1);
      printf("result %d\n", WhorlgateDeleteUser(&user));
    } else if (command == "count") {
      uint32_t count = 0;
      WGResult result = WhorlgateGetNumberUsers(&count);
      printf("count %u result %d\n", count, result);
    } else if (command == "details") {
      char text[WG_RESULT_DETAILS_TEXT_SIZE] = {};
      WGResult result = WhorlgateGetResultDetails(text, nullptr);
      printf("details %d %s\n", result, text);
    } else if (command == "hold") {
      printf("holding\n");
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
