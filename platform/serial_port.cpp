#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace platform {

namespace {

struct BaudRate {
  uint32_t bitsPerSecond;
  speed_t speed;
};

// The rates termios can set. Windows also knows 14400, 56000, 128000 and 256000, which no
// Linux serial driver offers; they are refused rather than rounded to a neighbour, because a
// line at the wrong rate only ever yields garbage.
constexpr BaudRate kBaudRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

constexpr tcflag_t kByteSizes[] = {CS5, CS6, CS7, CS8};  // 5 to 8 data bits

// c_cflag bits of each Windows parity code.
constexpr tcflag_t kParityFlags[] = {
    0,                         // none
    PARENB | PARODD,           // odd
    PARENB,                    // even
    PARENB | PARODD | CMSPAR,  // mark: the parity bit always 1
    PARENB | CMSPAR,           // space: the parity bit always 0
};

using Clock = std::chrono::steady_clock;

// What is left of a budget that started at `start`, for poll: never negative.
int RemainingMs(Clock::time_point start, uint32_t budgetMs) {
  auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  return spent >= budgetMs ? 0 : static_cast<int>(budgetMs - spent);
}

std::string Describe(std::string_view portName, const std::string& device, const char* reason) {
  std::string text(portName);
  if (!device.empty()) text += " (" + device + ")";
  return text + ": " + reason;
}

}  // namespace

const char* SerialTermios(const SerialLineSettings& settings, termios* tio, bool* widened) {
  const BaudRate* rate = nullptr;
  for (const BaudRate& r : kBaudRates) {
    if (r.bitsPerSecond == settings.baudRate) rate = &r;
  }
  if (!rate) return "unsupported baud rate";
  if (settings.byteSize < 5 || settings.byteSize > 8) return "byte size must be 5 to 8";
  if (settings.parity > kParitySpace) return "parity must be 0 to 4";
  if (settings.stopBits > kTwoStopBits) return "stop bits must be 0 to 2";

  // Raw bytes both ways: the port carries a device protocol, not text lines.
  *tio = termios{};
  cfmakeraw(tio);
  tio->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio->c_cflag |=
      CLOCAL | CREAD | kByteSizes[settings.byteSize - 5] | kParityFlags[settings.parity];
  *widened = settings.stopBits == kOneAndHalfStopBits;
  if (settings.stopBits != kOneStopBit) tio->c_cflag |= CSTOPB;
  if (settings.parity != kParityNone) tio->c_iflag |= INPCK;
  // Reads never wait inside the driver: the time-outs are ours, through poll.
  tio->c_cc[VMIN] = 0;
  tio->c_cc[VTIME] = 0;
  cfsetispeed(tio, rate->speed);
  cfsetospeed(tio, rate->speed);
  return nullptr;
}

std::string SerialDevicePath(std::string_view portName) {
  if (portName.size() != 4 || strncasecmp(portName.data(), "COM", 3) != 0) return {};
  char digit = portName[3];
  if (digit < '1' || digit > '4') return {};
  char variable[] = "WHORLGATE_COM?";
  variable[sizeof variable - 2] = digit;
  const char* overridden = getenv(variable);
  if (overridden && *overridden) return overridden;
  return std::string("/dev/ttyS") + static_cast<char>(digit - 1);
}

SerialPort::~SerialPort() {
  Close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      stopBitsWidened_(other.stopBitsWidened_),
      lastError_(std::move(other.lastError_)) {}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    stopBitsWidened_ = other.stopBitsWidened_;
    lastError_ = std::move(other.lastError_);
  }
  return *this;
}

bool SerialPort::Open(std::string_view portName, const SerialLineSettings& settings) {
  Close();
  std::string device = SerialDevicePath(portName);
  if (device.empty()) {
    lastError_ = Describe(portName, device, "not a comm port name (COM1 to COM4)");
    return false;
  }
  termios tio{};
  bool widened = false;
  if (const char* fault = SerialTermios(settings, &tio, &widened)) {
    lastError_ = Describe(portName, device, fault);
    return false;
  }
  // O_NOCTTY: a server without a terminal must not take the line as its controlling one.
  int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    lastError_ = Describe(portName, device, strerror(errno));
    return false;
  }
  const char* fault = nullptr;
  if (!isatty(fd)) {
    fault = "not a serial device";
  } else if (ioctl(fd, TIOCEXCL) != 0 || tcsetattr(fd, TCSANOW, &tio) != 0) {
    // Exclusive like a Windows comm port: a second program opening the line would steal bytes.
    fault = strerror(errno);
  }
  if (fault) {
    lastError_ = Describe(portName, device, fault);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  stopBitsWidened_ = widened;
  lastError_.clear();
  return true;
}

void SerialPort::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  stopBitsWidened_ = false;
}

bool SerialPort::Write(const void* data, size_t size, uint32_t timeoutMs, size_t* pWritten) {
  auto start = Clock::now();
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t written = 0;
  bool done = fd_ >= 0;
  if (!done) lastError_ = "the port is not open";
  while (done && written < size) {
    ssize_t n = ::write(fd_, bytes + written, size - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      lastError_ = strerror(errno);
      done = false;
      break;
    }
    // The driver's buffer is full: wait for room within what is left of the budget.
    pollfd ready{fd_, POLLOUT, 0};
    int remaining = RemainingMs(start, timeoutMs);
    if (remaining == 0 || poll(&ready, 1, remaining) == 0) {
      lastError_ = "timed out";
      done = false;
    } else if (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) {
      lastError_ = "the line hung up";
      done = false;
    }
  }
  if (pWritten) *pWritten = written;
  return done;
}

bool SerialPort::Read(void* buffer, size_t capacity, uint32_t timeoutMs, size_t* pRead) {
  *pRead = 0;
  if (fd_ < 0) {
    lastError_ = "the port is not open";
    return false;
  }
  if (capacity == 0) return true;
  auto start = Clock::now();
  for (;;) {
    ssize_t n = ::read(fd_, buffer, capacity);
    if (n > 0) {
      *pRead = static_cast<size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      lastError_ = strerror(errno);
      return false;
    }
    int remaining = RemainingMs(start, timeoutMs);
    if (remaining == 0) return true;
    pollfd ready{fd_, POLLIN, 0};
    int polled = poll(&ready, 1, remaining);
    if (polled < 0 && errno != EINTR) {
      lastError_ = strerror(errno);
      return false;
    }
    if (polled == 0) return true;
    // A line that hung up reads as empty, so the hang-up is seen here or never.
    if (polled > 0 && (ready.revents & (POLLHUP | POLLERR | POLLNVAL))) {
      lastError_ = "the line hung up";
      return false;
    }
  }
}

}  // namespace platform
