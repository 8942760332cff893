#include "platform/desktop/application.h"

#include <QThread>
#include <QTimer>

#include <vector>

namespace desktop {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  // A zero timer fires once the events queued before it are handled: idle time, as a window
  // system means it. It is armed by the next event after that, so an idle program sleeps.
  auto* timer = new QTimer(this);
  timer->setSingleShot(true);
  timer->setInterval(0);
  QObject::connect(timer, &QTimer::timeout, this, [this] { RunIdleHandlers(); });
  idleTimer_ = timer;
}

bool Application::notify(QObject* receiver, QEvent* event) {
  if (idleTimer_ && receiver != idleTimer_ && !inIdle_ && QThread::currentThread() == thread() &&
      !idleTimer_->isActive()) {
    idleTimer_->start();
  }
  return QApplication::notify(receiver, event);
}

int Application::AddIdleHandler(std::function<void()> handler) {
  int id = nextIdleHandler_++;
  idleHandlers_.emplace(id, std::move(handler));
  return id;
}

void Application::RemoveIdleHandler(int id) {
  idleHandlers_.erase(id);
}

void Application::RunIdleHandlers() {
  if (inIdle_) return;
  inIdle_ = true;
  // A handler may remove others (or itself): each is looked up again before it runs.
  std::vector<int> ids;
  for (const auto& entry : idleHandlers_) ids.push_back(entry.first);
  for (int id : ids) {
    auto it = idleHandlers_.find(id);
    if (it != idleHandlers_.end()) it->second();
  }
  inIdle_ = false;
}

void PumpMessages() {
  // Without WaitForMoreEvents this returns once the queued events are handled. A quit sets the
  // running loop's exit flag, which only that loop reads, so it stays pending.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void PostToWindowThread(QObject* target, std::function<void()> call) {
  QMetaObject::invokeMethod(target, std::move(call), Qt::QueuedConnection);
}

void RunOnWindowThread(QObject* target, std::function<void()> call) {
  if (QThread::currentThread() == target->thread()) {
    call();
  } else {
    PostToWindowThread(target, std::move(call));
  }
}

WindowTimers::WindowTimers(QObject* owner, std::function<void(int id)> onTick)
    : owner_(owner), onTick_(std::move(onTick)) {}

void WindowTimers::Set(int id, int periodMs) {
  QTimer*& timer = timers_[id];
  if (!timer) {
    timer = new QTimer(owner_);
    QObject::connect(timer, &QTimer::timeout, owner_, [this, id] { onTick_(id); });
  }
  timer->start(periodMs);
}

void WindowTimers::Kill(int id) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();
}

bool WindowTimers::Running(int id) const {
  auto it = timers_.find(id);
  return it != timers_.end() && it->second->isActive();
}

}  // namespace desktop
