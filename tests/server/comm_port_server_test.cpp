// The comm port end to end: the real WGServer lending a pseudo-terminal as its serial port,
// reached through the library's comm port calls from this process and from a second
// application, and through raw messages in the server pipe.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/comm_port_messages.h"
#include "connect/api_messages.h"
#include "connect/client_error.h"
#include "connect/process_attach.h"
#include "connect/settings_table.h"
#include "platform/time.h"
#include "platform/window_object.h"
#include "shared/little_endian.h"
#include "shared/pipe.h"
#include "shared/trace.h"
#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"
#include "whorlgate.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

const uint32_t kOwnPid = static_cast<uint32_t>(getpid());

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

bool WaitUntil(const std::function<bool()>& condition, uint32_t budgetMs) {
  uint32_t start = platform::GetTickCount();
  while (!condition()) {
    if (platform::TickBudgetSpent(start, budgetMs)) return false;
    platform::SleepMs(20);
  }
  return true;
}

std::string Details() {
  char text[WG_RESULT_DETAILS_TEXT_SIZE] = {};
  WhorlgateGetResultDetails(text, nullptr);
  return text;
}

// A pseudo-terminal as the server's serial line: the server opens the slave, the test is the
// device on the master.
struct Pty {
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    path = ptsname(master);
    // Held open so the line stays up whatever the server does with it.
    slave = open(path.c_str(), O_RDWR | O_NOCTTY);
  }
  ~Pty() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
  void put(const std::string& bytes) const {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the device has received once `expected` bytes came or `ms` passed.
  std::string take(size_t expected, int ms = 3000) const {
    std::string got;
    auto start = Clock::now();
    while (got.size() < expected && MsSince(start) < ms) {
      pollfd ready{master, POLLIN, 0};
      if (poll(&ready, 1, 20) <= 0) continue;
      char buffer[1024];
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

  int master = -1;
  int slave = -1;
  std::string path;
};

class CommPortServerTest : public IsolatedTest {
 protected:
  void SetUp() override {
    IsolatedTest::SetUp();
    ASSERT_GE(line1_.slave, 0);
    ASSERT_GE(line3_.slave, 0);
    setenv("WHORLGATE_COM1", line1_.path.c_str(), 1);
    setenv("WHORLGATE_COM3", line3_.path.c_str(), 1);
    setenv("WHORLGATE_COM4", "/nonexistent/tty", 1);
  }
  void TearDown() override {
    if (attached_) WGRpcProcessDetach();
    TakeClientError(nullptr, nullptr);
    TraceShutdown();
    if (server_) {
      server_->kill(SIGTERM);
      server_->wait(5000);
    }
    IsolatedTest::TearDown();
  }

  void startServer(bool attach = true) {
    server_ = std::make_unique<PeerProcess>();
    ASSERT_TRUE(server_->startProgram(WG_SERVER, {}));
    ASSERT_TRUE(WaitUntil([] { return platform::WindowObjectExists(kServerWindowClass); }, 10000));
    if (attach) {
      const char* cause = nullptr;
      static int anchor;
      ASSERT_TRUE(WGRpcProcessAttach(&anchor, &cause)) << cause;
      attached_ = true;
    }
  }

  WGResult write(const std::string& text) {
    return WGWriteCommPort(reinterpret_cast<const uint8_t*>(text.data()),
                           static_cast<uint16_t>(text.size()));
  }

  Pty line1_;  // COM1, the default port
  Pty line3_;  // COM3
  std::unique_ptr<PeerProcess> server_;
  bool attached_ = false;
};

TEST_F(CommPortServerTest, BytesTravelBothWaysThroughTheLentPort) {
  startServer();
  ASSERT_EQ(WGGetCommPort(nullptr, 0), WG_OK);
  EXPECT_EQ(write("ping\r\n"), WG_OK);
  EXPECT_EQ(line1_.take(6), "ping\r\n");
  EXPECT_EQ(WGWriteCommPort(nullptr, 0), WG_OK);

  // Every byte value, NUL among them, in both directions.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(write(all), WG_OK);
  EXPECT_EQ(line1_.take(all.size()), all);
  line1_.put(all);
  std::string back;
  while (back.size() < all.size()) {
    uint8_t buffer[100];
    uint16_t count = 0;
    ASSERT_EQ(WGReadCommPort(buffer, sizeof buffer, &count, 1000), WG_OK);
    ASSERT_GT(count, 0) << "after " << back.size() << " bytes";
    back.append(reinterpret_cast<char*>(buffer), count);
  }
  EXPECT_EQ(back, all);

  // A read takes no more than its buffer holds; the rest waits for the next.
  line1_.put("0123456789");
  uint8_t buffer[64];
  uint16_t count = 0;
  ASSERT_EQ(WGReadCommPort(buffer, 4, &count, 1000), WG_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), "0123");
  ASSERT_EQ(WGReadCommPort(buffer, sizeof buffer, &count, 1000), WG_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), "456789");
}

TEST_F(CommPortServerTest, AReadWaitsForDataAtMostAboutASecond) {
  startServer();
  ASSERT_EQ(WGGetCommPort(nullptr, 0), WG_OK);
  uint8_t buffer[16];
  memset(buffer, 'x', sizeof buffer);
  uint16_t count = 99;
  // Asked to wait a minute, the server still answers within its own limit.
  auto start = Clock::now();
  ASSERT_EQ(WGReadCommPort(buffer, sizeof buffer, &count, 60000), WG_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_GE(MsSince(start), 700);
  EXPECT_LT(MsSince(start), 5000);

  // Data arriving during the wait ends it.
  std::thread device([this] {
    platform::SleepMs(200);
    line1_.put("late");
  });
  ASSERT_EQ(WGReadCommPort(buffer, sizeof buffer, &count, 5000), WG_OK);
  device.join();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), "late");
}

TEST_F(CommPortServerTest, TheLoanGoesToOneClientAtATime) {
  startServer();
  PeerProcess other;
  ASSERT_TRUE(other.startProgram(WG_COMM_CLIENT, {"get", "wait", "release", "write", "x"}));
  ASSERT_TRUE(other.expectLine("result 0"));
  ASSERT_TRUE(other.expectLine("waiting"));

  EXPECT_EQ(WGGetCommPort(nullptr, 0), WG_SENSOR_BUSY);
  EXPECT_EQ(Details(), "The comm port is lent to another client.");
  const std::string notHolder = "This client does not hold the comm port: get it first.";
  EXPECT_EQ(write("mine"), WG_FUNCTION_FAILED);
  EXPECT_EQ(Details(), notHolder);
  uint8_t buffer[8];
  uint16_t count = 0;
  EXPECT_EQ(WGReadCommPort(buffer, sizeof buffer, &count, 0), WG_FUNCTION_FAILED);
  EXPECT_EQ(WGReleaseCommPort(nullptr, 0), WG_FUNCTION_FAILED);
  EXPECT_EQ(Details(), notHolder);
  EXPECT_EQ(line1_.take(1, 300), "") << "a refused write reaches nothing";

  // Released, the port is free for this process, and the other's write is refused.
  other.closeInput();
  EXPECT_TRUE(other.expectLine("result 0"));
  EXPECT_TRUE(other.expectLine("result -127"));
  EXPECT_EQ(other.wait(), 0);
  EXPECT_EQ(WGGetCommPort(nullptr, 0), WG_OK);
  EXPECT_EQ(WGGetCommPort(nullptr, 0), WG_OK) << "the holder may ask again";
  EXPECT_EQ(write("mine"), WG_OK);
  EXPECT_EQ(line1_.take(4), "mine");
  EXPECT_EQ(WGReleaseCommPort(nullptr, 0), WG_OK);
  EXPECT_EQ(write("more"), WG_FUNCTION_FAILED);
}

TEST_F(CommPortServerTest, AClientThatDiesLosesItsLoan) {
  startServer();
  PeerProcess holder;
  ASSERT_TRUE(holder.startProgram(WG_COMM_CLIENT, {"get", "wait"}));
  ASSERT_TRUE(holder.expectLine("result 0"));
  ASSERT_TRUE(holder.expectLine("waiting"));
  EXPECT_EQ(WGGetCommPort(nullptr, 0), WG_SENSOR_BUSY);
  holder.kill(SIGKILL);
  holder.wait();
  EXPECT_TRUE(WaitUntil([] { return WGGetCommPort(nullptr, 0) == WG_OK; }, 5000));
  EXPECT_EQ(write("after"), WG_OK);
  EXPECT_EQ(line1_.take(5), "after");
}

TEST_F(CommPortServerTest, RestartOpensThePortWithTheSettingsAsTheyAreNow) {
  startServer();
  ASSERT_TRUE(SetSetting("Comm port name", true, "COM4"));
  EXPECT_EQ(WGGetCommPort(nullptr, 0), WG_FUNCTION_FAILED);
  EXPECT_EQ(Details(),
            "The comm port could not be opened: COM4 (/nonexistent/tty): No such file or "
            "directory.");
  EXPECT_EQ(WGRestartCommPort(), WG_FUNCTION_FAILED);
  EXPECT_EQ(Details(),
            "The comm port could not be opened again: COM4 (/nonexistent/tty): No such file or "
            "directory.");

  const uint32_t baud = 19200;
  ASSERT_TRUE(SetSetting("Comm port name", true, "COM1"));
  ASSERT_TRUE(SetSetting("Startup baud rate", true, &baud));
  EXPECT_EQ(WGRestartCommPort(), WG_OK);
  termios tio{};
  ASSERT_EQ(tcgetattr(line1_.slave, &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
  ASSERT_EQ(WGGetCommPort(nullptr, 0), WG_OK);
  EXPECT_EQ(write("one"), WG_OK);
  EXPECT_EQ(line1_.take(3), "one");

  // The loan outlives the restart; the bytes go to the line now named.
  ASSERT_TRUE(SetSetting("Comm port name", true, "COM3"));
  EXPECT_EQ(WGRestartCommPort(), WG_OK);
  EXPECT_EQ(write("three"), WG_OK);
  EXPECT_EQ(line3_.take(5), "three");
  EXPECT_EQ(line1_.take(1, 300), "");
}

// A comm port request written straight into the server pipe, as any local process can.
Bytes CommRequest(uint16_t type, uint32_t size, uint16_t dataLength, uint32_t readParameter = 0) {
  Bytes m(size);
  StoreU32(m.data() + kApiMsgSize, size);
  StoreU32(m.data() + kApiMsgProcessId, kOwnPid);
  StoreU16(m.data() + kApiMsgType, type);
  if (size >= kCommMsgFixedSize) {
    StoreU32(m.data() + kCommMsgReadParameter, readParameter);
    StoreU16(m.data() + kCommMsgLength, dataLength);
  }
  return m;
}

TEST_F(CommPortServerTest, MalformedRequestsAreDroppedAndTheServerAnswersAfterwards) {
  startServer(false);
  PipeCntl input{};
  PipeCntl server{};
  ASSERT_EQ(WGOpenInputMessagePipe(&input, static_cast<int32_t>(kOwnPid)), 0);
  ASSERT_EQ(WGOpenOutputMessagePipe(&server, kServerPipeNumber), 0);
  auto send = [&](const Bytes& m) {
    ASSERT_EQ(WGSendPipeMessage(&server, m.data(), static_cast<uint32_t>(m.size())), 0);
  };
  auto reply = [&](uint32_t budgetMs = 5000) {
    uint32_t length = 0;
    uint8_t* message = WGReadPipe(&input, budgetMs, &length);
    Bytes bytes(message, message + (message ? length : 0));
    free(message);
    return bytes;
  };

  struct Bad {
    uint32_t size;
    uint16_t dataLength;
  };
  const Bad bad[] = {
      {kCommMsgFixedSize - 1, 0},  // shorter than the fixed part
      {kCommMsgFixedSize, 1},      // L says more than the message holds
      {kCommMsgFixedSize + 4, 0},  // L says less
      {kCommMsgFixedSize + 4, 0xFFFF},
  };
  for (uint16_t type : {WG_API_GET_COMM_PORT, WG_API_READ_COMM_PORT, WG_API_WRITE_COMM_PORT,
                        WG_API_RELEASE_COMM_PORT}) {
    for (const Bad& b : bad) {
      send(CommRequest(type, b.size, b.dataLength, 1000));
      EXPECT_TRUE(reply(200).empty())
          << "type " << type << ", " << b.size << " bytes, L " << b.dataLength;
    }
  }
  send(CommRequest(WG_API_GET_COMM_PORT, kCommMsgFixedSize + 3, 3));
  Bytes got = reply();
  ASSERT_EQ(got.size(), kCommMsgFixedSize);
  EXPECT_EQ(LoadU16(got.data() + kApiMsgType), WG_API_GET_COMM_PORT);
  EXPECT_EQ(LoadU32(got.data() + kApiMsgProcessId), kOwnPid);
  EXPECT_EQ(LoadI16(got.data() + kCommMsgResult), WG_OK);

  // A read's reply: N bytes behind the fixed part, N at the count, never more than L.
  line1_.put("abcdefgh");
  send(CommRequest(WG_API_READ_COMM_PORT, kCommMsgFixedSize + 5, 5, 1000));
  got = reply();
  ASSERT_EQ(got.size(), kCommMsgFixedSize + 5);
  EXPECT_EQ(LoadU16(got.data() + kApiMsgType), WG_API_READ_COMM_PORT);
  EXPECT_EQ(LoadI16(got.data() + kCommMsgResult), WG_OK);
  EXPECT_EQ(LoadU16(got.data() + kCommMsgCount), 5);
  EXPECT_EQ(std::string(got.begin() + kCommMsgData, got.begin() + kCommMsgData + 5), "abcde");

  WGCloseMessagePipe(&input);
  WGCloseMessagePipe(&server);
}

}  // namespace
