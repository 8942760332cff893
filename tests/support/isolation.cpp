#include "tests/support/isolation.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include <filesystem>

void IsolatedTest::SetUp() {
  char pattern[] = "/dev/shm/wgtest-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  scratch_ = pattern;
  setenv("WHORLGATE_OBJECT_DIR", (scratch_ + "/objects").c_str(), 1);
  setenv("WHORLGATE_MACHINE_REGISTRY", (scratch_ + "/machine.reg").c_str(), 1);
  setenv("WHORLGATE_USER_REGISTRY", (scratch_ + "/user.reg").c_str(), 1);
  setenv("WHORLGATE_SERVER_STORE", (scratch_ + "/users.db").c_str(), 1);
}

namespace {

// Programs started detached on a test's behalf (a server the library launched) are no child of
// the test; they are found by the object directory in their environment.
void StopProcessesUsing(const std::string& objectDir) {
  std::string marker = "WHORLGATE_OBJECT_DIR=" + objectDir;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t pid = static_cast<pid_t>(std::stol(name));
    if (pid == getpid()) continue;
    std::ifstream environ(entry.path() / "environ", std::ios::binary);
    std::string variable;
    while (std::getline(environ, variable, '\0')) {
      if (variable == marker) {
        kill(pid, SIGKILL);
        break;
      }
    }
  }
}

}  // namespace

void IsolatedTest::TearDown() {
  StopProcessesUsing(scratch_ + "/objects");
  std::error_code ignored;
  std::filesystem::remove_all(scratch_, ignored);
}

std::string IsolatedTest::objectFile(const std::string& name) const {
  return scratch_ + "/objects/" + name;
}
