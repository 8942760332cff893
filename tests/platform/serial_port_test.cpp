#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"

namespace {

using namespace platform;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A pseudo-terminal standing in as COM2: the port opens the slave; the test talks on the
// master and inspects the line through a slave descriptor of its own.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slavePath_ = ptsname(master_);
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave_, 0);
    setenv("WHORLGATE_COM2", slavePath_.c_str(), 1);
  }
  void TearDown() override {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }

  // What the master has received within `ms`.
  std::string TakeFromMaster(size_t expected, int ms = 2000) {
    std::string got;
    auto start = Clock::now();
    while (got.size() < expected && MsSince(start) < ms) {
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      char buffer[4096];
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  SerialPort port_;
};

TEST_F(SerialPortTest, LineSettingsReachTheTty) {
  struct Case {
    SerialLineSettings settings;
    speed_t speed;
    tcflag_t size;
    tcflag_t parity;  // of PARENB | PARODD | CMSPAR
    bool twoStopBits;
    bool widened;
  };
  const Case cases[] = {
      {{9600, 8, kParityNone, kOneStopBit}, B9600, CS8, 0, false, false},
      {{115200, 7, kParityEven, kTwoStopBits}, B115200, CS7, PARENB, true, false},
      {{1200, 5, kParityOdd, kOneStopBit}, B1200, CS5, PARENB | PARODD, false, false},
      {{19200, 6, kParityMark, kOneAndHalfStopBits},
       B19200,
       CS6,
       PARENB | PARODD | CMSPAR,
       true,
       true},
      {{57600, 8, kParitySpace, kOneStopBit}, B57600, CS8, PARENB | CMSPAR, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings.baudRate);
    termios made{};
    bool widened = false;
    ASSERT_EQ(SerialTermios(c.settings, &made, &widened), nullptr);
    EXPECT_EQ(widened, c.widened);
    EXPECT_EQ(made.c_cflag & CSIZE, c.size);
    EXPECT_EQ(made.c_cflag & (PARENB | PARODD | CMSPAR), c.parity);
    EXPECT_EQ((made.c_iflag & INPCK) != 0, c.parity != 0);

    ASSERT_TRUE(port_.Open("COM2", c.settings)) << port_.LastError();
    EXPECT_EQ(port_.StopBitsWidened(), c.widened);
    // The pseudo-terminal forces 8 data bits without parity; the rest must be on the line.
    termios line{};
    ASSERT_EQ(tcgetattr(slave_, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), c.speed);
    EXPECT_EQ(cfgetispeed(&line), c.speed);
    EXPECT_EQ(line.c_cflag & (PARODD | CMSPAR), c.parity & (PARODD | CMSPAR));
    EXPECT_EQ((line.c_cflag & CSTOPB) != 0, c.twoStopBits);
    EXPECT_EQ(line.c_cflag & CLOCAL, static_cast<tcflag_t>(CLOCAL));
    // Raw: no echo, no line editing, no translation of the bytes.
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_iflag & (ICRNL | IXON), 0u);
    EXPECT_EQ(line.c_cc[VMIN], 0);
    port_.Close();
    EXPECT_FALSE(port_.IsOpen());
  }
}

TEST_F(SerialPortTest, BytesTravelBothWaysUnchanged) {
  ASSERT_TRUE(port_.Open("com2", {})) << port_.LastError();
  // Every byte value, line ends and the terminal's control characters among them.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  size_t written = 0;
  ASSERT_TRUE(port_.Write(all.data(), all.size(), 1000, &written)) << port_.LastError();
  EXPECT_EQ(written, all.size());
  EXPECT_EQ(TakeFromMaster(all.size()), all);

  ASSERT_EQ(write(master_, all.data(), all.size()), static_cast<ssize_t>(all.size()));
  std::string got;
  auto start = Clock::now();
  while (got.size() < all.size() && MsSince(start) < 2000) {
    char buffer[300];
    size_t n = 0;
    ASSERT_TRUE(port_.Read(buffer, sizeof buffer, 500, &n)) << port_.LastError();
    got.append(buffer, n);
  }
  EXPECT_EQ(got, all);
}

TEST_F(SerialPortTest, ReadTakesNoMoreThanItsCapacity) {
  ASSERT_TRUE(port_.Open("COM2", {}));
  ASSERT_EQ(write(master_, "abcdef", 6), 6);
  char buffer[4] = {};
  size_t n = 0;
  ASSERT_TRUE(port_.Read(buffer, 4, 1000, &n));
  EXPECT_EQ(std::string(buffer, n), "abcd");
  ASSERT_TRUE(port_.Read(buffer, 4, 1000, &n));
  EXPECT_EQ(std::string(buffer, n), "ef");
}

TEST_F(SerialPortTest, ReadWaitsForItsTimeOutWhenNothingComes) {
  ASSERT_TRUE(port_.Open("COM2", {}));
  char buffer[16];
  size_t n = 99;
  auto start = Clock::now();
  ASSERT_TRUE(port_.Read(buffer, sizeof buffer, 300, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_GE(MsSince(start), 250);
  EXPECT_LT(MsSince(start), 3000);

  start = Clock::now();
  ASSERT_TRUE(port_.Read(buffer, sizeof buffer, 0, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_LT(MsSince(start), 200);
}

TEST_F(SerialPortTest, ReadEndsAsSoonAsDataArrives) {
  ASSERT_TRUE(port_.Open("COM2", {}));
  std::thread sender([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(write(master_, "late", 4), 4);
  });
  char buffer[16];
  size_t n = 0;
  auto start = Clock::now();
  bool read = port_.Read(buffer, sizeof buffer, 8000, &n);
  long elapsed = MsSince(start);
  sender.join();
  ASSERT_TRUE(read);
  EXPECT_EQ(std::string(buffer, n), "late");
  EXPECT_LT(elapsed, 4000);
}

TEST_F(SerialPortTest, WriteGivesUpWhenTheLineTakesNothingMore) {
  ASSERT_TRUE(port_.Open("COM2", {}));
  // Nobody reads the master: the terminal's buffers fill and the rest must wait.
  std::vector<uint8_t> flood(4 << 20, 0x55);
  size_t written = 0;
  auto start = Clock::now();
  EXPECT_FALSE(port_.Write(flood.data(), flood.size(), 300, &written));
  EXPECT_GE(MsSince(start), 250);
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, flood.size());
  EXPECT_EQ(port_.LastError(), "timed out");
}

TEST_F(SerialPortTest, HangUpIsADeviceError) {
  ASSERT_TRUE(port_.Open("COM2", {}));
  close(master_);
  master_ = -1;
  char buffer[8];
  size_t n = 0;
  EXPECT_FALSE(port_.Read(buffer, sizeof buffer, 1000, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(port_.LastError().empty());
  EXPECT_FALSE(port_.Write("x", 1, 1000));
}

TEST_F(SerialPortTest, OpenFailuresSayWhichPortAndWhy) {
  setenv("WHORLGATE_COM3", "/nonexistent/tty", 1);
  setenv("WHORLGATE_COM4", "/dev/null", 1);
  struct Case {
    const char* name;
    SerialLineSettings settings;
    std::string error;
  };
  const Case cases[] = {
      {"COM3", {}, "COM3 (/nonexistent/tty): No such file or directory"},
      {"COM4", {}, "COM4 (/dev/null): not a serial device"},
      {"COM5", {}, "COM5: not a comm port name (COM1 to COM4)"},
      {"LPT1", {}, "LPT1: not a comm port name (COM1 to COM4)"},
      {"COM2", {14400, 8, 0, 0}, "COM2 (" + slavePath_ + "): unsupported baud rate"},
      {"COM2", {9600, 9, 0, 0}, "COM2 (" + slavePath_ + "): byte size must be 5 to 8"},
      {"COM2", {9600, 4, 0, 0}, "COM2 (" + slavePath_ + "): byte size must be 5 to 8"},
      {"COM2", {9600, 8, 5, 0}, "COM2 (" + slavePath_ + "): parity must be 0 to 4"},
      {"COM2", {9600, 8, 0, 3}, "COM2 (" + slavePath_ + "): stop bits must be 0 to 2"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(port_.Open(c.name, c.settings));
    EXPECT_EQ(port_.LastError(), c.error);
    EXPECT_FALSE(port_.IsOpen());
  }
  char buffer[1];
  size_t n = 0;
  EXPECT_FALSE(port_.Read(buffer, 1, 0, &n));
  EXPECT_EQ(port_.LastError(), "the port is not open");
}

TEST(SerialDevicePathTest, MapsTheFourPortsAndTheirOverrides) {
  for (const char* variable : {"WHORLGATE_COM1", "WHORLGATE_COM2", "WHORLGATE_COM3"}) {
    unsetenv(variable);
  }
  setenv("WHORLGATE_COM4", "/dev/pts/7", 1);
  setenv("WHORLGATE_COM3", "", 1);
  struct Case {
    const char* name;
    const char* path;
  };
  const Case cases[] = {
      {"COM1", "/dev/ttyS0"},
      {"com2", "/dev/ttyS1"},
      {"COM3", "/dev/ttyS2"},
      {"Com4", "/dev/pts/7"},
      {"COM0", ""},
      {"COM5", ""},
      {"COM", ""},
      {"COM12", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(SerialDevicePath(c.name), c.path) << c.name;
}

}  // namespace
