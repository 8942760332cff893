// A viewer in the test's own process, on the offscreen platform with the scripted modal host,
// in the test's own namespace and registry; trace records come from real tracing processes or
// straight through the real trace pipe.
#pragma once

#include <QListWidget>

#include <memory>
#include <string>
#include <vector>

#include "shared/pipe.h"
#include "shared/registry.h"
#include "shared/trace.h"
#include "tests/desktop/gui_test.h"
#include "tests/support/isolation.h"
#include "ventolog/main_frame.h"
#include "ventolog/trace_list_wnd.h"
#include "ventolog/ventolog_app.h"
#include "ventolog/viewer_settings.h"

class ViewerTest : public IsolatedTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  void StartViewer();
  // Ends the viewer as closing its frame does.
  void StopViewer();

  // Appends a record to the trace pipe as a producer does; false when the pipe is full.
  bool TryAppend(uint32_t where, uint32_t type, const std::string& text, uint32_t tick = 1000);
  void Append(uint32_t where, uint32_t type, const std::string& text, uint32_t tick = 1000) {
    ASSERT_TRUE(TryAppend(where, type, text, tick)) << text;
  }
  // Runs `wgtrace emit` with a where and type; its records say "wgtrace: TEXT 0x<i>".
  void Emit(const std::string& text, int repeat, uint32_t where = TRACE_WHERE_FRAMEWORK,
            uint32_t type = TRACE_TYPE_FATAL);
  // The message that polls the trace pipe at once.
  void PollNow() { EXPECT_EQ(frame()->HandleMessage(kMsgPollTracePipe), 0); }
  void Command(int command);

  std::vector<std::string> Lines() const;
  // Waits until the list holds exactly `count` lines; false on time-out.
  bool WaitForLines(size_t count, int budgetMs = 5000);

  const RegistryRoot* registry() const { return &registry_; }
  CMainFrame* frame() const { return viewer_->Frame(); }
  QListWidget* list() const;
  VentologApp& viewer() { return *viewer_; }
  gui_test::ScriptedModal& modal() { return gui_->modal(); }

 private:
  RegistryRoot registry_ =
      MakeRegistryRoot(platform::RegistryHive::kCurrentUser, kVentologRegistryPrefix);
  std::unique_ptr<gui_test::Gui> gui_;
  std::unique_ptr<VentologApp> viewer_;
  PipeCntl producerPipe_{};
};
