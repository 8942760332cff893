#include "ventolog/comm_port_logger.h"

#include <string>

#include "shared/trace.h"
#include "ventolog/viewer_settings.h"

namespace {

// The port is given this long per byte to take a block, as its write time-out always was.
constexpr uint32_t kWriteMsPerByte = 10;

}  // namespace

CommPortLogger::CommPortLogger(const RegistryRoot& registry) : registry_(registry) {
  ReadSettings();
}

CommPortLogger::~CommPortLogger() {
  Stop();
}

void CommPortLogger::ReadSettings() {
  char port[kRegistryTextLength];
  RegReadText(&registry_, kCommPortSettingsKey, kCommPortValue, kDefaultCommPort, port);
  settings_.port = port;
  settings_.baudRate =
      RegReadNumber(&registry_, kCommPortSettingsKey, kBaudRateValue, kDefaultBaudRate);
  settings_.dataBits = static_cast<uint8_t>(
      RegReadNumber(&registry_, kCommPortSettingsKey, kNumDataBitsValue, kDefaultDataBits));
  settings_.parity = static_cast<uint8_t>(
      RegReadNumber(&registry_, kCommPortSettingsKey, kParityValue, kDefaultParity));
  settings_.stopBits = static_cast<uint8_t>(
      RegReadNumber(&registry_, kCommPortSettingsKey, kNumStopBitsValue, kDefaultStopBits));
}

void CommPortLogger::SaveSettings() const {
  RegWriteText(&registry_, kCommPortSettingsKey, kCommPortValue, settings_.port.c_str());
  RegWriteNumber(&registry_, kCommPortSettingsKey, kBaudRateValue, settings_.baudRate);
  RegWriteNumber(&registry_, kCommPortSettingsKey, kNumDataBitsValue, settings_.dataBits);
  RegWriteNumber(&registry_, kCommPortSettingsKey, kParityValue, settings_.parity);
  RegWriteNumber(&registry_, kCommPortSettingsKey, kNumStopBitsValue, settings_.stopBits);
}

CommStartResult CommPortLogger::Start() {
  if (port_.IsOpen()) return CommStartResult::kFailed;
  platform::SerialLineSettings line;
  line.baudRate = settings_.baudRate;
  line.byteSize = settings_.dataBits;
  line.parity = settings_.parity;
  line.stopBits = settings_.stopBits;
  if (!port_.Open(settings_.port, line)) {
    TraceMsg(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_WARNING, port_.LastError().c_str(), nullptr);
    return CommStartResult::kPortNotOpened;
  }
  if (port_.StopBitsWidened()) {
    TraceMsg(
        TRACE_WHERE_FRAMEWORK, TRACE_TYPE_WARNING,
        ("CommPortLogger: " + settings_.port + " has no 1.5 stop bits here, it sends 2").c_str(),
        nullptr);
  }
  {
    std::lock_guard<std::mutex> hold(queueLock_);
    stop_ = false;
    accepting_ = true;
  }
  worker_ = std::thread([this] { Worker(); });
  return CommStartResult::kStarted;
}

void CommPortLogger::Stop() {
  {
    std::lock_guard<std::mutex> hold(queueLock_);
    stop_ = true;
    accepting_ = false;
  }
  queueChanged_.notify_all();
  if (worker_.joinable()) worker_.join();
  {
    std::lock_guard<std::mutex> hold(queueLock_);
    queue_.clear();
  }
  port_.Close();
}

void CommPortLogger::QueueBytes(const char* bytes, size_t length) {
  {
    std::lock_guard<std::mutex> hold(queueLock_);
    if (!accepting_) return;
    queue_.emplace_back(bytes, bytes + length);
  }
  queueChanged_.notify_one();
}

void CommPortLogger::Worker() {
  std::unique_lock<std::mutex> hold(queueLock_);
  for (;;) {
    queueChanged_.wait(hold, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    std::vector<char> block = std::move(queue_.front());
    queue_.pop_front();
    hold.unlock();
    // A stop that comes meanwhile ends the worker after this block.
    port_.Write(block.data(), block.size(), static_cast<uint32_t>(block.size()) * kWriteMsPerByte);
    hold.lock();
  }
}
