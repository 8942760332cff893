#include "tests/support/isolation.h"

#include <stdlib.h>

#include <filesystem>

void IsolatedTest::SetUp() {
  char pattern[] = "/dev/shm/wgtest-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  scratch_ = pattern;
  setenv("WHORLGATE_OBJECT_DIR", (scratch_ + "/objects").c_str(), 1);
  setenv("WHORLGATE_MACHINE_REGISTRY", (scratch_ + "/machine.reg").c_str(), 1);
  setenv("WHORLGATE_USER_REGISTRY", (scratch_ + "/user.reg").c_str(), 1);
}

void IsolatedTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch_, ignored);
}

std::string IsolatedTest::objectFile(const std::string& name) const {
  return scratch_ + "/objects/" + name;
}
