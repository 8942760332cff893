// Where shown lines go besides the list: the log file and the serial port. The display thread
// writes every line here while the window thread opens, flushes and closes the file and turns
// comm logging on and off; one lock keeps a line from reaching a file or a port that the
// window thread is closing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

class CommPortLogger;

// A log file is flushed when the viewer is idle and this long has passed since the last flush.
inline constexpr uint32_t kLogFlushPeriodMs = 30000;

class LogSinks {
 public:
  explicit LogSinks(CommPortLogger& logger) : logger_(logger) {}
  LogSinks(const LogSinks&) = delete;
  LogSinks& operator=(const LogSinks&) = delete;
  ~LogSinks() { CloseFile(); }

  // Display thread: the line and a line break into the log file, the line and the bytes
  // 10 and 13 to the port.
  void Write(const std::string& line);

  // Window thread. Creates (or empties) the file; false when it cannot be created.
  bool OpenFile(const std::string& path);
  void CloseFile();
  bool FileOpen() const;
  void FlushFileIfDue();

  // Window thread: lines go to the port from the next line on, or no longer.
  void SetCommActive(bool active);
  bool CommActive() const;

 private:
  CommPortLogger& logger_;
  mutable std::mutex lock_;
  std::FILE* file_ = nullptr;
  uint32_t lastFlushTick_ = 0;
  bool commActive_ = false;
};
