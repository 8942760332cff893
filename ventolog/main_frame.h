// The viewer's main frame: menu, toolbar with tool tips, status bar and the trace list window
// below the toolbar; it keeps its own placement and the filters in the registry.
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <memory>

#include "platform/desktop/commands.h"
#include "shared/registry.h"
#include "shared/trace.h"

class PollRequestListener;
class TraceListWnd;
class VentologApp;

// Command ids of the menu and the toolbar.
inline constexpr int kCmdAppExit = 57665;
inline constexpr int kCmdAppAbout = 57664;
inline constexpr int kCmdInternalTrace = 32771;
inline constexpr int kCmdLogToFile = 32772;
inline constexpr int kCmdProcedureFilter = 32773;
inline constexpr int kCmdTypeFilter = 32774;
inline constexpr int kCmdPause = 32775;
inline constexpr int kCmdClear = 32776;
inline constexpr int kCmdLogToComm = 32777;

// Sent to the frame: poll the trace pipe at once, also while paused; the answer is 0.
inline constexpr uint32_t kMsgPollTracePipe = 32668;

class CMainFrame : public QMainWindow {
 public:
  explicit CMainFrame(VentologApp& app);
  ~CMainFrame() override;

  // The frame's answer to a window message; -1 for a message it does not handle.
  int HandleMessage(uint32_t message);

  TraceListWnd* TraceList() const { return traceList_; }
  desktop::CommandSet& Commands() { return commands_; }

 private:
  void OnCommand(int command);
  void OnUpdateCommand(int command, desktop::CommandState& state);
  void EditFilter(uint32_t& mask, const char (*names)[kTraceNameLength]);

  VentologApp& app_;
  RegistryRoot registry_;
  desktop::CommandSet commands_;
  TraceListWnd* traceList_ = nullptr;
  std::unique_ptr<PollRequestListener> pollRequests_;
};
