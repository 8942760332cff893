// Logging to a serial port: the port's settings from the registry, the port, and a worker
// thread that writes the queued byte blocks to it in order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "shared/registry.h"

struct CommSettings {
  std::string port;
  uint32_t baudRate;
  uint8_t dataBits;
  uint8_t parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t stopBits;  // 0 one, 1 one and a half, 2 two
};

enum class CommStartResult { kStarted, kPortNotOpened, kFailed };

class CommPortLogger {
 public:
  // Reads the settings.
  explicit CommPortLogger(const RegistryRoot& registry);
  CommPortLogger(const CommPortLogger&) = delete;
  CommPortLogger& operator=(const CommPortLogger&) = delete;
  ~CommPortLogger();

  // Opens the port with the settings and starts the worker; kFailed when a port is open
  // already.
  CommStartResult Start();
  // Stops the worker after the block it is writing and closes the port.
  void Stop();

  // Copies the bytes into a new block at the end of the queue; nothing when no port is open.
  void QueueBytes(const char* bytes, size_t length);

  // Reads the settings again from the registry; they apply from the next start. The viewer
  // edits them only while no port is open.
  void ReadSettings();
  void SaveSettings() const;
  const CommSettings& Settings() const { return settings_; }

 private:
  void Worker();

  const RegistryRoot& registry_;
  CommSettings settings_;
  // Opened and closed by the window thread while no worker runs; written by the worker only.
  platform::SerialPort port_;
  std::thread worker_;

  std::mutex queueLock_;  // the queue, the stop flag and whether blocks are taken
  std::condition_variable queueChanged_;
  std::deque<std::vector<char>> queue_;
  bool stop_ = false;
  bool accepting_ = false;
};
