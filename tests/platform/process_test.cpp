#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/process.h"
#include "platform/time.h"
#include "tests/support/isolation.h"

namespace {

using namespace platform;

class ProcessTest : public IsolatedTest {
 protected:
  std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // Waits for the detached program to leave its report.
  std::string awaitFile(const std::string& path) {
    for (int i = 0; i < 1000; ++i) {
      std::string content = readFile(path);
      if (!content.empty() && content.back() == '\n') return content;
      SleepMs(10);
    }
    return {};
  }
};

TEST_F(ProcessTest, StartedProgramIsDetachedAndInheritsNothing) {
  std::string folder = scratch() + "/bin";
  std::filesystem::create_directories(folder);
  std::string program = folder + "/probe.sh";
  {
    std::ofstream script(program);
    script << "#!/bin/sh\n"
              "{ pwd; echo $PPID; cut -d' ' -f6 /proc/$$/stat;"
              "  [ -e /proc/$$/fd/$1 ] && echo inherited || echo clean; } > report.tmp\n"
              "mv report.tmp report\n";
  }
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  int leaky = open("/dev/null", O_RDONLY);  // no close-on-exec: a careless starter's descriptor
  ASSERT_GE(leaky, 3);

  ASSERT_TRUE(StartDetachedProcess(program, {std::to_string(leaky)}));
  std::istringstream report(awaitFile(folder + "/report"));
  close(leaky);
  std::string cwd, ppid, session, fds;
  report >> cwd >> ppid >> session >> fds;
  EXPECT_EQ(cwd, folder);
  EXPECT_NE(ppid, std::to_string(getpid()));
  EXPECT_NE(session, std::to_string(getsid(0)));
  EXPECT_EQ(fds, "clean");
}

TEST_F(ProcessTest, MissingProgramIsReported) {
  EXPECT_FALSE(StartDetachedProcess(scratch() + "/no/such/program", {}));
  EXPECT_FALSE(StartDetachedProcess(scratch(), {})) << "a folder is not a program";
}

TEST_F(ProcessTest, ModulesAreFoundFromAnAddressInThem) {
  std::string self = ModuleFilePath(nullptr);
  EXPECT_EQ(std::filesystem::path(self).filename(), "platform_test");
  static int marker;
  EXPECT_EQ(ModuleFilePath(&marker), self);
  std::filesystem::path bin = std::filesystem::path(self).parent_path();
  EXPECT_EQ(ProgramDirectory(&marker), bin.parent_path().string() + "/bin");
}

}  // namespace
