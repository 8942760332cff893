#include <atomic>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/isolation.h"
#include "ventolog/comm_port_logger.h"
#include "ventolog/log_sinks.h"
#include "ventolog/viewer_settings.h"

namespace {

class LogSinksTest : public IsolatedTest {};

// The display thread writes as fast as it can while the window thread closes and reopens the
// log file: every line lands whole in a file that is open, or nowhere.
TEST_F(LogSinksTest, ClosingTheFileUnderTheDisplayThreadKeepsEveryLineWhole) {
  RegistryRoot registry =
      MakeRegistryRoot(platform::RegistryHive::kCurrentUser, kVentologRegistryPrefix);
  CommPortLogger logger(registry);
  LogSinks sinks(logger);
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> written{0};
  std::thread display([&] {
    for (uint64_t i = 0; !stop; ++i) {
      sinks.Write("line " + std::to_string(i));
      written = i;
    }
  });
  const int kFiles = 300;
  for (int i = 0; i < kFiles; ++i) {
    ASSERT_TRUE(sinks.OpenFile(scratch() + "/log" + std::to_string(i) + ".txt"));
    // Each file sees a few lines, so that closing meets a display thread in full flow.
    for (uint64_t from = written; written < from + 3;) std::this_thread::yield();
    sinks.CloseFile();
  }
  stop = true;
  display.join();
  const std::regex whole("line [0-9]+");
  uint64_t lines = 0;
  long long last = -1;
  for (int i = 0; i < kFiles; ++i) {
    std::ifstream in(scratch() + "/log" + std::to_string(i) + ".txt");
    for (std::string line; std::getline(in, line); ++lines) {
      ASSERT_TRUE(std::regex_match(line, whole)) << "file " << i << ": " << line;
      long long number = std::stoll(line.substr(5));
      EXPECT_GT(number, last) << "file " << i;
      last = number;
    }
  }
  EXPECT_GT(lines, 0u);
}

}  // namespace
