#include <signal.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/time.h"
#include "tests/support/peer_process.h"
#include "tests/ventolog/viewer_fixture.h"
#include "ventolog/poll_request.h"

namespace {

// The console viewer prints what the window shows, with the registry's filters or the ones
// given on its command line.
TEST_F(ViewerTest, TheConsoleModePrintsTheFilteredLinesUntilInterrupted) {
  struct Case {
    std::vector<std::string> options;
    uint32_t storedType;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{}, TRACE_TYPE_FATAL, {"fatal"}},
      {{}, TRACE_TYPE_INFO | TRACE_TYPE_FATAL, {"info", "fatal"}},
      {{"--type", "0x1"}, TRACE_TYPE_FATAL, {"info"}},
      {{"--where", "0x04000000", "--type", "0xffffffff"}, TRACE_TYPE_FATAL, {"rpc"}},
  };
  for (const Case& c : cases) {
    RegWriteNumber(registry(), kFilterSetupKey, kTypeFilterValue, c.storedType);
    PeerProcess console;
    std::vector<std::string> args{"--console"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ASSERT_TRUE(console.startProgram(WG_VENTOLOG_PROGRAM, args));
    // The console opens the trace pipe itself; a record put in before that would be lost with
    // the pipe when the last handle goes, so this process holds it open too.
    Append(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_INFO, "info", 1);
    Append(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_FATAL, "fatal", 2);
    Append(TRACE_WHERE_RPC_DLL, TRACE_TYPE_WARNING, "rpc", 3);
    for (const std::string& text : c.expected) {
      std::string line = console.readLine(5000);
      EXPECT_EQ(line.substr(line.find(" -") + 2), text);
    }
    // A few polls more, so that no record is left for the next case.
    platform::SleepMs(250);
    console.kill(SIGTERM);
    EXPECT_EQ(console.wait(), 0);
    EXPECT_EQ(console.readLine(500), "") << "nothing more passed the filters";
  }
}

TEST_F(ViewerTest, PollRequestsFromOutsideReachTheRunningViewer) {
  PeerProcess nobody;
  ASSERT_TRUE(nobody.startProgram(WG_VENTOLOG_PROGRAM, {"--poll"}));
  EXPECT_EQ(nobody.wait(), 1) << "no viewer runs yet";

  StartViewer();
  Command(kCmdPause);
  Append(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_FATAL, "polled from outside");
  gui_test::RunFor(150);
  ASSERT_EQ(list()->count(), 0);
  PeerProcess poke;
  ASSERT_TRUE(poke.startProgram(WG_VENTOLOG_PROGRAM, {"--poll"}));
  EXPECT_EQ(poke.wait(), 0);
  ASSERT_TRUE(WaitForLines(1)) << "polled while paused";
  EXPECT_NE(Lines()[0].find("polled from outside"), std::string::npos);
}

}  // namespace

namespace {

// The program itself on the offscreen platform: it logs what a tracing process sends and, told
// to end by SIGTERM, closes its window as a user would and flushes its log.
TEST_F(ViewerTest, TheProgramEndsOnSigtermWithItsLogFlushed) {
  const std::string log = scratch() + "/program.txt";
  RegWriteText(registry(), kOptionsKey, kStartupLogFileNameValue, log.c_str());
  RegWriteNumber(registry(), kFilterSetupKey, kWhereFilterValue, 0xFFFFFFFFu);
  PeerProcess program;
  ASSERT_TRUE(program.startProgram(WG_VENTOLOG_PROGRAM, {}));
  // The window is up once its poll request event exists.
  ASSERT_TRUE(gui_test::WaitUntil(
      [&] { return std::filesystem::exists(objectFile(kPollRequestEventName)); }));
  Emit("to the program", 3);
  platform::SleepMs(300);
  program.kill(SIGTERM);
  EXPECT_EQ(program.wait(), 0);
  std::ifstream in(log);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(" -") + 2));
  // Three short lines stay in the file's buffer until the file is flushed at exit.
  EXPECT_EQ(lines,
            (std::vector<std::string>{"wgtrace: to the program 0x0", "wgtrace: to the program 0x1",
                                      "wgtrace: to the program 0x2"}));
}

}  // namespace
