#include "tests/desktop/gui_test.h"

#include <cstdlib>

#include <QElapsedTimer>
#include <QThread>

namespace gui_test {

Gui::Gui() {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  app_ = std::make_unique<desktop::Application>(argc_, argv_);
  desktop::SetModalHost(&modal_);
}

Gui::~Gui() {
  desktop::SetModalHost(nullptr);
  app_.reset();
}

bool WaitUntil(const std::function<bool()>& done, int budgetMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > budgetMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

void RunFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
}

}  // namespace gui_test
