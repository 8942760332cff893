#include "ventolog/trace_list_wnd.h"

#include <QEvent>
#include <QFont>
#include <QListWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/desktop/application.h"
#include "platform/desktop/controls.h"
#include "ventolog/log_sinks.h"

namespace {

const QColor kBackground(32, 96, 112);
const QColor kText(192, 192, 112);
constexpr char kTracePrefix[] = "Ventolog: ";

}  // namespace

void TraceListWnd::Signal::Set() {
  std::lock_guard<std::mutex> hold(lock_);
  set_ = true;
  changed_.notify_all();
}

void TraceListWnd::Signal::WaitAndReset() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return set_; });
  set_ = false;
}

TraceListWnd::TraceListWnd(QWidget* parent, LogSinks& sinks, const TraceFilters& filters)
    : QWidget(parent), sinks_(sinks), filters_(filters) {
  desktop::SetControlId(this, kIdMessagesWindow);
  setWindowTitle(QStringLiteral("Messages"));
  displayThread_ = std::thread([this] { DisplayThread(); });
  // Opens the trace pipe, creating it when no producer did. Another owner of the process's
  // trace control (none in the viewer) keeps it.
  if (TraceControl* control = TraceInit(kTracePrefix)) g_pTraceControl = control;

  list_ = new QListWidget(this);
  desktop::SetControlId(list_, kIdTraceList);
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  list_->setFocusPolicy(Qt::NoFocus);
  list_->setUniformItemSizes(true);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  QPalette colours = list_->palette();
  colours.setColor(QPalette::Base, kBackground);
  colours.setColor(QPalette::Text, kText);
  list_->setPalette(colours);
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(kListFontPixels);
  list_->setFont(font);
  // Anywhere in the list, on a line or below the last one.
  list_->viewport()->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);

  pollTimer_ = new QTimer(this);
  connect(pollTimer_, &QTimer::timeout, this, [this] {
    if (!paused_) PollTracePipe();
  });
  pollTimer_->start(static_cast<int>(kTracePollPeriodMs));
}

TraceListWnd::~TraceListWnd() {
  pollTimer_->stop();
  stop_ = true;
  linesWaiting_.Set();
  displayThread_.join();
  {
    std::lock_guard<std::mutex> hold(lineLock_);
    lineQueue_.clear();
  }
  TraceShutdown();
}

void TraceListWnd::PollTracePipe() {
  ::PollTracePipe(filters_, [this](std::string line) {
    {
      std::lock_guard<std::mutex> hold(lineLock_);
      lineQueue_.push_back(std::move(line));
    }
    linesWaiting_.Set();
  });
}

void TraceListWnd::Clear() {
  {
    std::lock_guard<std::mutex> hold(lineLock_);
    clearRequested_ = true;
  }
  linesWaiting_.Set();
}

void TraceListWnd::DisplayThread() {
  for (;;) {
    linesWaiting_.WaitAndReset();
    if (stop_) return;
    for (;;) {
      std::string line;
      {
        std::lock_guard<std::mutex> hold(lineLock_);
        if (clearRequested_) {
          ShowCleared();
          clearRequested_ = false;
        }
        if (lineQueue_.empty()) break;
        line = std::move(lineQueue_.front());
        lineQueue_.pop_front();
      }
      sinks_.Write(line);
      Show(std::move(line));
    }
  }
}

bool TraceListWnd::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    Clear();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TraceListWnd::Show(std::string line) {
  std::lock_guard<std::mutex> hold(shownLock_);
  shownLines_.push_back(std::move(line));
  QueueApplyLocked();
}

void TraceListWnd::ShowCleared() {
  std::lock_guard<std::mutex> hold(shownLock_);
  // Lines still on their way to the list would only be cleared away with it.
  shownLines_.clear();
  shownCleared_ = true;
  QueueApplyLocked();
}

void TraceListWnd::QueueApplyLocked() {
  // One queued call carries every line handed over until the window thread runs it, so a
  // burst of lines costs the window thread one pass.
  if (applyQueued_) return;
  applyQueued_ = true;
  desktop::PostToWindowThread(this, [this] { ApplyShown(); });
}

void TraceListWnd::ApplyShown() {
  std::vector<std::string> lines;
  bool cleared;
  {
    std::lock_guard<std::mutex> hold(shownLock_);
    lines.swap(shownLines_);
    cleared = shownCleared_;
    shownCleared_ = false;
    applyQueued_ = false;
  }
  if (cleared) list_->clear();
  for (const std::string& line : lines) {
    if (list_->count() >= kMaxListLines) {
      for (int i = 0; i < kListTrimLines; ++i) delete list_->takeItem(0);
    }
    list_->addItem(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
  }
  if (!lines.empty()) list_->scrollToBottom();
}
