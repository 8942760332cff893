#include "ventolog/log_sinks.h"

#include "platform/time.h"
#include "ventolog/comm_port_logger.h"

void LogSinks::Write(const std::string& line) {
  std::lock_guard<std::mutex> hold(lock_);
  if (file_) {
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
  }
  if (commActive_) {
    std::string bytes = line;
    bytes += "\n\r";
    logger_.QueueBytes(bytes.data(), bytes.size());
  }
}

bool LogSinks::OpenFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  std::lock_guard<std::mutex> hold(lock_);
  if (file_) std::fclose(file_);
  file_ = file;
  lastFlushTick_ = platform::GetTickCount();
  return true;
}

void LogSinks::CloseFile() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!file_) return;
  std::fclose(file_);
  file_ = nullptr;
}

bool LogSinks::FileOpen() const {
  std::lock_guard<std::mutex> hold(lock_);
  return file_ != nullptr;
}

void LogSinks::FlushFileIfDue() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!file_ || !platform::TickBudgetSpent(lastFlushTick_, kLogFlushPeriodMs)) return;
  std::fflush(file_);
  lastFlushTick_ = platform::GetTickCount();
}

void LogSinks::SetCommActive(bool active) {
  std::lock_guard<std::mutex> hold(lock_);
  commActive_ = active;
}

bool LogSinks::CommActive() const {
  std::lock_guard<std::mutex> hold(lock_);
  return commActive_;
}
