// The captures end to end: the real WGServer with its simulated sensor, applications linked
// against libwgrpc.so doing what the demos do, and wgsensor saying what the sensor is shown.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "platform/time.h"
#include "platform/window_object.h"
#include "server/server_messages.h"
#include "server/user_store.h"
#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"
#include "fingers/synthetic_finger.h"
#include "whorlgate/wg_results.h"

namespace {

bool WaitUntil(const std::function<bool()>& condition, uint32_t budgetMs) {
  uint32_t start = platform::GetTickCount();
  while (!condition()) {
    if (platform::TickBudgetSpent(start, budgetMs)) return false;
    platform::SleepMs(10);
  }
  return true;
}

// Runs a program to its end and returns what it printed, a line each, expecting `status`.
std::vector<std::string> RunToEnd(const std::string& program, const std::vector<std::string>& args,
                                  int status = 0) {
  PeerProcess process;
  EXPECT_TRUE(process.startProgram(program, args));
  std::vector<std::string> lines;
  for (std::string line; !(line = process.readLine(60000)).empty();) lines.push_back(line);
  EXPECT_EQ(process.wait(60000), status) << program << " " << args.front();
  return lines;
}

// The first line that starts with `prefix`, or "".
std::string LineOf(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return "";
}

int ResultOf(const std::vector<std::string>& lines, const std::string& prefix = "end ") {
  std::string line = LineOf(lines, prefix);
  return line.empty() ? 9999 : std::stoi(line.substr(prefix.size()));
}

class CaptureTest : public IsolatedTest {
 protected:
  void SetUp() override {
    IsolatedTest::SetUp();
    startServer();
    // A quick user and a quick sensor, so that a five-view enrollment takes about a second.
    sensor({"pace", "--frame-ms", "15", "--delay-ms", "40", "--timeout-ms", "15000"});
  }
  void TearDown() override {
    stopServer(SIGTERM);
    IsolatedTest::TearDown();
  }

  void startServer() {
    server_ = std::make_unique<PeerProcess>();
    ASSERT_TRUE(server_->startProgram(WG_SERVER, {}));
    ASSERT_TRUE(WaitUntil([] { return platform::WindowObjectExists(kServerWindowClass); }, 10000));
  }
  void stopServer(int signal) {
    if (!server_) return;
    server_->kill(signal);
    server_->wait(5000);
    server_.reset();
  }

  std::vector<std::string> sensor(const std::vector<std::string>& args, int status = 0) {
    return RunToEnd(WG_SENSOR, args, status);
  }
  std::vector<std::string> client(const std::vector<std::string>& args) {
    return RunToEnd(WG_CAPTURE_CLIENT, args);
  }
  std::string file(const std::string& name) { return scratch() + "/" + name; }

  std::unique_ptr<PeerProcess> server_;
};

TEST_F(CaptureTest, AnEnrolledFingerValidatesAndAnotherDoesNot) {
  std::vector<std::string> enroll = client({"enroll", "alice", "7", file("alice.rec")});
  ASSERT_EQ(ResultOf(enroll), WG_OK) << LineOf(enroll, "events");
  EXPECT_EQ(LineOf(enroll, "begun 1 size"), "begun 1 size 2384");
  EXPECT_EQ(LineOf(enroll, "end "), "end 0 size 2384 user alice");
  // Four views ask for the next, the fifth says all are done, then the completion.
  std::string events = LineOf(enroll, "events");
  const std::regex viewDone(" 12:[012]");
  EXPECT_EQ(std::distance(std::sregex_iterator(events.begin(), events.end(), viewDone),
                          std::sregex_iterator()),
            4)
      << events;
  EXPECT_NE(events.find(" 12:3"), std::string::npos) << events;
  EXPECT_NE(events.find(" 8:0"), std::string::npos) << events;

  EXPECT_EQ(ResultOf(client({"validate", "alice"})), WG_MATCH);
  sensor({"finger", "bob/2"});
  EXPECT_EQ(ResultOf(client({"validate", "alice"})), WG_NO_MATCH);
}

TEST_F(CaptureTest, IdentificationFindsTheRightUserAmongSeveral) {
  ASSERT_EQ(ResultOf(client({"enroll", "alice", "1"})), WG_OK);
  ASSERT_EQ(ResultOf(client({"enroll-callback", "bob", "2"})), WG_OK);
  ASSERT_EQ(ResultOf(client({"basic-enroll", "carol", "3"}), "enroll "), WG_NO_MATCH);

  sensor({"finger", "bob/2"});
  std::vector<std::string> found = client({"identify", "basic-identify"});
  EXPECT_EQ(LineOf(found, "end ").rfind("end 2 user bob name Display bob score ", 0), 0u)
      << LineOf(found, "end ");
  EXPECT_EQ(LineOf(found, "identify "), "identify 2 user bob");
  sensor({"finger", "dave/9"});
  EXPECT_EQ(ResultOf(client({"identify"})), WG_NO_MATCH);
  // The same finger is not enrolled twice, under any user.
  sensor({"finger", "alice/1"});
  std::vector<std::string> twice = client({"enroll", "erin", "1", "details"});
  EXPECT_EQ(ResultOf(twice), WG_USER_ALREADY_ENROLLED);
  EXPECT_EQ(LineOf(twice, "details "), "details 4 This finger is enrolled already.");
}

TEST_F(CaptureTest, VerificationTakesNormalAndSmallRecordsInTheirOrder) {
  std::string alice = file("alice.rec"), small = file("alice-small.rec"), bob = file("bob.rec");
  ASSERT_EQ(ResultOf(client({"enroll", "alice", "1", alice})), WG_OK);
  ASSERT_EQ(ResultOf(client({"basic-enroll", "bob", "99", bob}), "enroll "), WG_NO_MATCH);
  ASSERT_EQ(LineOf(client({"small", alice, small}), "small"), "small 0");
  // The small record keeps only the start of the template and misses some placements of the
  // right finger (about one in seven on the synthetic database): of three placements, one
  // must match.
  auto smallMatches = [&](const std::vector<std::string>& args, const std::string& expected) {
    for (int placement = 0; placement < 3; ++placement) {
      std::vector<std::string> lines = client(args);
      if (LineOf(lines, expected.substr(0, expected.find(' ') + 1)) == expected) return true;
    }
    return false;
  };
  // Left to itself, the user presents the finger whose enrollment made the first record.
  EXPECT_EQ(LineOf(client({"verify", alice}), "end "), "end 2 value 1");
  EXPECT_TRUE(smallMatches({"verify", small}, "end 2 value 1"));
  sensor({"finger", "alice/1"});
  EXPECT_EQ(LineOf(client({"verify", bob, alice}), "end "), "end 2 value 2");
  EXPECT_TRUE(smallMatches({"basic-verify", small}, "verify 2"));
  EXPECT_EQ(LineOf(client({"verify", bob}), "end "), "end 3 value 0");
  EXPECT_EQ(LineOf(client({"basic-verify", bob}), "verify "), "verify 3");
}

TEST_F(CaptureTest, BlockingCallsRunTheSameCapture) {
  std::string record = file("bob.rec");
  std::vector<std::string> enrolled =
      client({"basic-enroll", "bob", "99", record, "basic-validate", "bob", "basic-enroll", "bob",
              "99", "basic-validate", "nobody", "details"});
  EXPECT_EQ(LineOf(enrolled, "enroll "), "enroll 3 size 2384");
  EXPECT_EQ(LineOf(enrolled, "validate "), "validate 2");
  EXPECT_EQ(std::filesystem::file_size(record), 2384u);
  // The second enrollment of the finger is refused before anything is captured.
  EXPECT_NE(std::find(enrolled.begin(), enrolled.end(), "enroll 4 size 0"), enrolled.end());
  EXPECT_EQ(LineOf(enrolled, "details "),
            "details -127 No user with this user ID is enrolled.");
}

TEST_F(CaptureTest, NothingOnTheSensorTimesOut) {
  sensor({"nothing"});
  sensor({"pace", "--timeout-ms", "1000"});
  std::vector<std::string> waited = client({"enroll", "alice", "1", "basic-identify", "details"});
  EXPECT_NE(std::find(waited.begin(), waited.end(), "timeout"), waited.end());
  EXPECT_EQ(LineOf(waited, "events"), "events images=0 2:2 5:2 13:0");
  EXPECT_EQ(LineOf(waited, "identify "), "identify 5 user ");
  EXPECT_EQ(LineOf(waited, "details "), "details 5 No finger was placed on the sensor in time.");
}

TEST_F(CaptureTest, AnAbortedEnrollmentLeavesNothingAndFreesTheSensor) {
  std::vector<std::string> lines = client({"abort-on-prompt", "alice", "1", "enroll", "alice", "1"});
  EXPECT_EQ(LineOf(lines, "aborted"), "aborted 1");
  // The next transaction has the sensor at once and the user's finger is still free.
  EXPECT_EQ(LineOf(lines, "begun 2"), "begun 2 size 2384");
  EXPECT_EQ(ResultOf(lines), WG_OK);
}

TEST_F(CaptureTest, OneCaptureAtATimeAndADeadClientFreesTheSensor) {
  sensor({"nothing"});
  sensor({"pace", "--timeout-ms", "60000"});
  PeerProcess first;
  ASSERT_TRUE(first.startProgram(WG_CAPTURE_CLIENT, {"enroll", "alice", "1"}));
  ASSERT_EQ(first.readLine(), "begun 1 size 2384");
  // Another client is refused the sensor meanwhile, and served everything else.
  std::vector<std::string> second = client({"basic-identify", "details", "begin-enroll", "bob", "2"});
  EXPECT_EQ(LineOf(second, "identify "), "identify -126 user ");
  EXPECT_EQ(LineOf(second, "details "),
            "details -126 The sensor is busy with another client's capture.");
  EXPECT_EQ(LineOf(second, "begun "), "begun 0");

  first.kill(SIGKILL);
  first.wait();
  // The dead client's capture is gone at once: the sensor is free for the next.
  sensor({"auto"});
  EXPECT_EQ(ResultOf(client({"enroll", "bob", "2"})), WG_OK);
}

TEST_F(CaptureTest, AServerKilledInsideAnEnrollmentLosesItWholeAndServesTheSameClientAfter) {
  stopServer(SIGTERM);
  std::string marker = file("paused");
  setenv("WHORLGATE_STORE_TEST_PAUSE_FILE", marker.c_str(), 1);
  startServer();
  unsetenv("WHORLGATE_STORE_TEST_PAUSE_FILE");
  PeerProcess app;
  ASSERT_TRUE(app.startProgram(WG_CAPTURE_CLIENT,
                               {"--patience", "4000", "enroll", "alice", "1", "enroll", "alice", "1"}));
  ASSERT_EQ(app.readLine(), "begun 1 size 2384");
  // The server pauses inside the store's transaction, after every view is taken.
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(marker); }, 20000));
  stopServer(SIGKILL);
  {
    UserStore store;
    std::string error;
    ASSERT_TRUE(store.open(UserStorePath(), &error)) << error;
    EXPECT_EQ(store.countUsers(), 0u);
  }
  startServer();
  // Every view was taken, the completion never came.
  std::string events = app.readLine();
  EXPECT_NE(events.find(" 12:3"), std::string::npos) << events;
  EXPECT_EQ(events.find(" 8:"), std::string::npos) << events;
  EXPECT_EQ(app.readLine(), "stalled");
  // The same application, which never connected to this server, enrolls the finger now.
  EXPECT_EQ(app.readLine(), "begun 2 size 2384");
  std::vector<std::string> rest;
  for (std::string line; !(line = app.readLine()).empty();) rest.push_back(line);
  EXPECT_EQ(ResultOf(rest), WG_OK);
  EXPECT_EQ(app.wait(), 0);
}

TEST_F(CaptureTest, TheImageStreamShowsTheFingerAndItsState) {
  ASSERT_EQ(ResultOf(client({"enroll", "alice", "1"})), WG_OK);
  std::vector<std::string> watched = client({"stream", "1500"});
  std::smatch counts;
  std::string line = LineOf(watched, "stream ");
  ASSERT_TRUE(std::regex_match(line, counts,
                               std::regex("stream open 0 close 0 images (\\d+) present (\\d+) stable (\\d+)")))
      << line;
  EXPECT_GT(std::stoi(counts[1]), 0);
  EXPECT_GT(std::stoi(counts[2]), 0);
  EXPECT_GT(std::stoi(counts[3]), 0);
  sensor({"nothing"});
  EXPECT_EQ(LineOf(client({"stream", "600"}), "stream "),
            "stream open 0 close 0 images 0 present 0 stable 0");
}

// A picture the way a real sensor's would be fed in: a grey PGM.
void WritePgm(const std::string& path, const uint8_t* pixels, int side) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n# a finger\n" << side << " " << side << "\n255\n";
  out.write(reinterpret_cast<const char*>(pixels), side * side);
}

TEST_F(CaptureTest, APictureFromAFileIsEnrolledAndMatchedAndABadOneIsRefused) {
  wg_fingers::ImpressionParams pressed;
  pressed.fNoise = 4;
  pressed.fContrast = 160;
  pressed.fBackground = 232;
  wg_fingers::Image picture = wg_fingers::RenderImpression(wg_fingers::MakeMaster(77), pressed);
  std::string path = file("finger.pgm");
  WritePgm(path, picture.data(), wg_fingers::kImageSide);
  std::vector<std::string> shown = sensor({"image", path});
  EXPECT_EQ(LineOf(shown, "presenting: "), "presenting: image " + path);
  ASSERT_EQ(ResultOf(client({"enroll", "carol", "1"})), WG_OK);
  sensor({"auto"});
  // The enrollment remembers the picture: validating carol presents it again.
  EXPECT_EQ(ResultOf(client({"validate", "carol"})), WG_MATCH);

  std::string small = file("small.pgm");
  WritePgm(small, picture.data(), 64);
  // Neither a picture of the wrong size nor something that is no plain file is taken.
  for (const std::string& bad : {small, std::string("/dev/zero")}) {
    PeerProcess refused;
    ASSERT_TRUE(refused.startProgram(WG_SENSOR, {"image", bad}));
    EXPECT_EQ(refused.wait(), 2) << bad;
  }
  EXPECT_EQ(LineOf(sensor({}), "presenting: "), "presenting: auto");
}

}  // namespace
