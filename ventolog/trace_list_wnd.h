// The child window that fills the viewer's frame: the list of trace lines, the 50 ms poll of
// the trace pipe, and the display thread that moves queued lines into the list, the log file
// and the port queue.
#pragma once

#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ventolog/trace_intake.h"

class QListWidget;
class QTimer;
class LogSinks;

inline constexpr int kIdMessagesWindow = 4660;
inline constexpr int kIdTraceList = 22136;
inline constexpr int kMaxListLines = 500;
// Trimming a batch at a time keeps the cost of adding a line constant.
inline constexpr int kListTrimLines = 20;
inline constexpr int kListFontPixels = 12;

class TraceListWnd : public QWidget {
 public:
  // `filters` belong to the application and are read at every poll.
  TraceListWnd(QWidget* parent, LogSinks& sinks, const TraceFilters& filters);
  ~TraceListWnd() override;

  // Takes what the filters let through from the trace pipe into the line queue.
  void PollTracePipe();
  // Empties the list before any further line is shown.
  void Clear();
  void SetPaused(bool paused) { paused_ = paused; }
  bool Paused() const { return paused_; }

 private:
  // A manual-reset event of this process.
  class Signal {
   public:
    void Set();
    void WaitAndReset();

   private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool set_ = false;
  };

  bool eventFilter(QObject* watched, QEvent* event) override;
  void DisplayThread();
  // Display thread: hands a line (or the clearing) over to the window thread.
  void Show(std::string line);
  void ShowCleared();
  void QueueApplyLocked();
  // Window thread: what the display thread handed over, into the list.
  void ApplyShown();

  LogSinks& sinks_;
  const TraceFilters& filters_;
  QListWidget* list_ = nullptr;
  QTimer* pollTimer_ = nullptr;
  bool paused_ = false;  // window thread only

  std::mutex lineLock_;  // the queue and the clear flag
  std::deque<std::string> lineQueue_;
  bool clearRequested_ = false;
  Signal linesWaiting_;
  std::atomic<bool> stop_{false};
  std::thread displayThread_;

  std::mutex shownLock_;  // what waits for the window thread
  std::vector<std::string> shownLines_;
  bool shownCleared_ = false;
  bool applyQueued_ = false;
};
