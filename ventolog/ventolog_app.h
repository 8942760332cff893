// The viewer's application object: the state the frame, the trace list and the logging
// share, start-up and exit.
#pragma once

#include <memory>
#include <string>

#include "shared/registry.h"
#include "ventolog/comm_port_logger.h"
#include "ventolog/log_sinks.h"
#include "ventolog/trace_intake.h"

namespace desktop {
class Application;
}
class CMainFrame;

class VentologApp {
 public:
  explicit VentologApp(desktop::Application& application);
  VentologApp(const VentologApp&) = delete;
  VentologApp& operator=(const VentologApp&) = delete;
  // Destroys the frame, then flushes and closes the log file, saves the port settings and
  // closes the port.
  ~VentologApp();

  // Creates and shows the frame, then starts logging to the start-up log file if one is named.
  void Start();

  CMainFrame* Frame() const { return frame_.get(); }
  TraceFilters& Filters() { return filters_; }
  LogSinks& Sinks() { return sinks_; }
  CommPortLogger& Logger() { return logger_; }
  const RegistryRoot& Registry() const { return registry_; }

  void ToggleLogToFile();
  void ToggleLogToComm();

 private:
  void OpenLogFile(const std::string& path);
  void RunCommSettingsDialog();

  desktop::Application& application_;
  int idleHandler_;
  RegistryRoot registry_;
  TraceFilters filters_{};
  CommPortLogger logger_;
  LogSinks sinks_;
  std::string startupLogFileName_;
  std::unique_ptr<CMainFrame> frame_;
};
