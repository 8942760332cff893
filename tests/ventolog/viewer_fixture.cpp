#include "tests/ventolog/viewer_fixture.h"

#include <cstring>

#include "platform/desktop/controls.h"
#include "tests/support/peer_process.h"

void ViewerTest::SetUp() {
  IsolatedTest::SetUp();
  gui_ = std::make_unique<gui_test::Gui>();
  // Opened before any viewer traces, so that opening it leaves no record of its own behind.
  ASSERT_EQ(WGOpenInputMessagePipe(&producerPipe_, kTracePipeNumber), 0);
}

void ViewerTest::TearDown() {
  StopViewer();
  WGCloseMessagePipe(&producerPipe_);
  gui_.reset();
  IsolatedTest::TearDown();
}

void ViewerTest::StartViewer() {
  viewer_ = std::make_unique<VentologApp>(gui_->app());
  viewer_->Start();
}

void ViewerTest::StopViewer() {
  if (!viewer_) return;
  viewer_->Frame()->close();
  viewer_.reset();
}

bool ViewerTest::TryAppend(uint32_t where, uint32_t type, const std::string& text, uint32_t tick) {
  TraceRecord record{};
  record.uiSize = kTraceRecordSize;
  record.uiTickCount = tick;
  record.uiWhere = where;
  record.uiType = type;
  strncpy(record.szText, text.c_str(), kTraceTextLength - 1);
  return WGAppendPipeRecord(&producerPipe_, reinterpret_cast<const uint8_t*>(&record),
                            sizeof record) == 0;
}

void ViewerTest::Emit(const std::string& text, int repeat, uint32_t where, uint32_t type) {
  PeerProcess producer;
  ASSERT_TRUE(producer.startProgram(
      WG_TRACE_TOOL, {"emit", "--where", std::to_string(where), "--type", std::to_string(type),
                      "--repeat", std::to_string(repeat), text}));
  ASSERT_EQ(producer.wait(), 0);
}

void ViewerTest::Command(int command) {
  QAction* action = frame()->Commands().Action(command);
  ASSERT_NE(action, nullptr) << command;
  action->trigger();
}

QListWidget* ViewerTest::list() const {
  return desktop::FindControl<QListWidget>(frame(), kIdTraceList);
}

std::vector<std::string> ViewerTest::Lines() const {
  std::vector<std::string> lines;
  for (int i = 0; i < list()->count(); ++i) lines.push_back(list()->item(i)->text().toStdString());
  return lines;
}

bool ViewerTest::WaitForLines(size_t count, int budgetMs) {
  return gui_test::WaitUntil([&] { return static_cast<size_t>(list()->count()) == count; },
                             budgetMs);
}
