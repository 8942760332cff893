// Serial ports by their Windows names. "COM1" to "COM4" are /dev/ttyS0 to /dev/ttyS3 unless
// $WHORLGATE_COM1 ... $WHORLGATE_COM4 name another device (a pseudo-terminal in tests). Line
// settings keep the Windows values so that settings stored for the original system still mean
// the same line here.
//
// A port has one owner at a time; it is not safe to call one port from two threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct termios;  // <termios.h>

namespace platform {

// Windows' parity codes.
inline constexpr uint8_t kParityNone = 0;
inline constexpr uint8_t kParityOdd = 1;
inline constexpr uint8_t kParityEven = 2;
inline constexpr uint8_t kParityMark = 3;
inline constexpr uint8_t kParitySpace = 4;

// Windows' stop-bit codes. Linux has no 1.5 stop bits: that code opens the line with 2, and the
// port says so (StopBitsWidened) so the caller can trace it.
inline constexpr uint8_t kOneStopBit = 0;
inline constexpr uint8_t kOneAndHalfStopBits = 1;
inline constexpr uint8_t kTwoStopBits = 2;

struct SerialLineSettings {
  uint32_t baudRate = 9600;  // bits per second, one of the standard rates 50 ... 4000000
  uint8_t byteSize = 8;      // data bits, 5 to 8
  uint8_t parity = kParityNone;
  uint8_t stopBits = kOneStopBit;
};

// The device behind a port name: $WHORLGATE_COMn when set and not empty, else /dev/ttyS(n-1).
// The name is matched without regard to case, as Windows does. Empty for any other name.
std::string SerialDevicePath(std::string_view portName);

// The raw line Open sets up for the settings, written over *tio, and whether 1.5 stop bits
// became 2: null, or which setting Linux cannot give. A pseudo-terminal keeps only part of
// what it is told (its driver forces 8 data bits without parity), so this is the whole story.
const char* SerialTermios(const SerialLineSettings& settings, termios* tio, bool* widened);

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(SerialPort&& other) noexcept;
  SerialPort& operator=(SerialPort&& other) noexcept;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the named port with the line settings, closing whatever was open before. False with
  // LastError() naming the port, the device and the reason (unknown name, missing device,
  // unsupported setting).
  bool Open(std::string_view portName, const SerialLineSettings& settings);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // True when the settings asked for 1.5 stop bits and the line got 2.
  bool StopBitsWidened() const { return stopBitsWidened_; }

  // Writes all `size` bytes, waiting for room at most `timeoutMs` in all. True once every byte
  // is written; false on time-out or a device error, with the bytes that did go out in
  // `*pWritten` (when not null) and the reason in LastError().
  bool Write(const void* data, size_t size, uint32_t timeoutMs, size_t* pWritten = nullptr);

  // Waits at most `timeoutMs` for data, then takes what has arrived, up to `capacity` bytes,
  // without waiting further. `*pRead` is 0 when nothing came in time; false only on a device
  // error (LastError() says which).
  bool Read(void* buffer, size_t capacity, uint32_t timeoutMs, size_t* pRead);

  const std::string& LastError() const { return lastError_; }

 private:
  int fd_ = -1;
  bool stopBitsWidened_ = false;
  std::string lastError_;
};

}  // namespace platform
