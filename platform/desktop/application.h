// The application object of the kit's desktop programs: Qt's application with idle processing,
// the non-waiting message pump, calls queued onto the window thread and numbered timers.
#pragma once

#include <QApplication>
#include <QObject>

#include <functional>
#include <map>

class QTimer;

namespace desktop {

class Application : public QApplication {
 public:
  Application(int& argc, char** argv);

  // Runs `handler` on the window thread whenever the event queue has run empty, before the
  // thread waits for the next event, until it is removed with the id this returns. A handler
  // that opens a modal loop is not re-entered.
  int AddIdleHandler(std::function<void()> handler);
  void RemoveIdleHandler(int id);

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  void RunIdleHandlers();

  std::map<int, std::function<void()>> idleHandlers_;
  int nextIdleHandler_ = 1;
  QTimer* idleTimer_ = nullptr;  // null while the application is being made
  bool inIdle_ = false;
};

// Handles the events already queued for the calling thread and returns without waiting. A quit
// requested meanwhile stays pending for the main loop.
void PumpMessages();

// Runs `call` on the thread of `target` (the window thread for widgets), after the events
// queued before it; dropped when `target` is destroyed first. Safe from any thread.
void PostToWindowThread(QObject* target, std::function<void()> call);
// Runs `call` at once when the caller is on the thread of `target`, else as PostToWindowThread.
void RunOnWindowThread(QObject* target, std::function<void()> call);

// Timers of a window, named by number: setting an id that runs restarts it with the new
// period, as a window's timers do.
class WindowTimers {
 public:
  WindowTimers(QObject* owner, std::function<void(int id)> onTick);
  WindowTimers(const WindowTimers&) = delete;
  WindowTimers& operator=(const WindowTimers&) = delete;

  void Set(int id, int periodMs);
  void Kill(int id);
  bool Running(int id) const;

 private:
  QObject* owner_;
  std::function<void(int)> onTick_;
  std::map<int, QTimer*> timers_;
};

}  // namespace desktop
