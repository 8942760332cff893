#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/ventolog/viewer_fixture.h"

namespace {

using gui_test::RunFor;

// The line of the i-th record of a `wgtrace emit --repeat` run.
std::string EmittedText(const std::string& text, int i) {
  char value[16];
  snprintf(value, sizeof value, " 0x%x", i);
  return "wgtrace: " + text + value;
}

// What follows the time stamp and " -".
std::string TextOf(const std::string& line) {
  size_t dash = line.find(" -");
  return dash == std::string::npos ? std::string() : line.substr(dash + 2);
}

TEST_F(ViewerTest, TheDefaultFiltersShowFrameWorkFatalOnly) {
  StartViewer();
  EXPECT_EQ(RegReadNumber(registry(), kFilterSetupKey, kWhereFilterValue, 0), 0x80000000u)
      << "the default is stored when first read";
  EXPECT_EQ(RegReadNumber(registry(), kFilterSetupKey, kTypeFilterValue, 0), 0x80000000u);
  Command(kCmdPause);
  Append(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, "WGRPC: info", 5);
  Append(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_INFO, "WGRPC: framework info", 6);
  Append(TRACE_WHERE_RPC_DLL, TRACE_TYPE_FATAL, "WGRPC: rpc fatal", 7);
  Append(TRACE_WHERE_FRAMEWORK | TRACE_WHERE_RPC_DLL, TRACE_TYPE_FATAL, "WGRPC: shown", 123456);
  Append(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_FATAL | TRACE_TYPE_INFO, "WGRPC: wrapped", 0xFFFFFFFEu);
  PollNow();
  ASSERT_TRUE(WaitForLines(2));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"123456 -WGRPC: shown", "-2 -WGRPC: wrapped"}));
}

TEST_F(ViewerTest, FiltersChosenInTheApplicationApplyFromTheNextPoll) {
  StartViewer();
  Command(kCmdPause);
  struct Case {
    uint32_t where;
    uint32_t type;
    bool shown;
  };
  const Case cases[] = {
      {TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, true},
      {TRACE_WHERE_RPC_DLL | TRACE_WHERE_OS_PIPE, TRACE_TYPE_ENTER | TRACE_TYPE_INFO, true},
      {0, 0xFFFFFFFFu, false},
      {0xFFFFFFFFu, 0, false},
      {TRACE_WHERE_OS_PIPE, TRACE_TYPE_INFO, false},
  };
  for (const Case& c : cases) {
    Command(kCmdClear);
    ASSERT_TRUE(WaitForLines(0));
    viewer().Filters() = {c.where, c.type};
    Append(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, "rpc info");
    Append(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_FATAL, "end");  // passes every filter of a case shown
    PollNow();
    if (c.shown) {
      ASSERT_TRUE(WaitForLines(1)) << c.where << " " << c.type;
      EXPECT_EQ(TextOf(Lines()[0]), "rpc info");
    } else {
      RunFor(100);
      EXPECT_EQ(list()->count(), 0) << c.where << " " << c.type;
    }
  }
}

TEST_F(ViewerTest, WaitingRecordsAreTakenFiftyAPollInOrder) {
  StartViewer();
  Command(kCmdPause);
  Emit("burst", 120);
  PollNow();
  ASSERT_TRUE(WaitForLines(50));
  RunFor(200);
  EXPECT_EQ(list()->count(), 50) << "one poll takes at most 50 records";
  PollNow();
  PollNow();
  ASSERT_TRUE(WaitForLines(120));
  std::vector<std::string> lines = Lines();
  for (int i = 0; i < 120; ++i) EXPECT_EQ(TextOf(lines[i]), EmittedText("burst", i)) << i;
}

TEST_F(ViewerTest, TheTimerTakesTheRecordsOfALiveProducer) {
  StartViewer();
  Emit("live", 120);
  ASSERT_TRUE(WaitForLines(120));
  EXPECT_EQ(TextOf(Lines().back()), EmittedText("live", 119));
}

TEST_F(ViewerTest, TheListKeepsAtMost500LinesTrimmingTwentyAtATime) {
  StartViewer();
  Command(kCmdPause);
  for (int sent = 0; sent < 501;) {
    for (int i = 0; i < 50 && sent < 501; ++i, ++sent) {
      Append(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_FATAL, "line " + std::to_string(sent));
    }
    PollNow();
    if (sent == 500) {
      ASSERT_TRUE(WaitForLines(500));
    }
  }
  ASSERT_TRUE(WaitForLines(481));
  EXPECT_EQ(TextOf(Lines().front()), "line 20");
  EXPECT_EQ(TextOf(Lines().back()), "line 500");
}

TEST_F(ViewerTest, PauseLeavesRecordsInThePipeUntilResumed) {
  StartViewer();
  Command(kCmdPause);
  frame()->Commands().Update();
  EXPECT_TRUE(frame()->Commands().Action(kCmdPause)->isChecked());
  Emit("held", 10);
  RunFor(300);
  EXPECT_EQ(list()->count(), 0) << "six ticks went by without taking anything";
  Command(kCmdPause);
  EXPECT_FALSE(frame()->Commands().Action(kCmdPause)->isChecked());
  ASSERT_TRUE(WaitForLines(10));
  EXPECT_EQ(TextOf(Lines()[9]), EmittedText("held", 9));
}

TEST_F(ViewerTest, ClearingEmptiesTheListBeforeTheQueuedLines) {
  StartViewer();
  Command(kCmdPause);
  for (int i = 0; i < 30; ++i) Append(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_FATAL, "old");
  PollNow();
  ASSERT_TRUE(WaitForLines(30));
  for (int i = 0; i < 40; ++i)
    Append(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_FATAL, "new " + std::to_string(i));
  // Within one turn of the window thread: the lines are queued behind the clearing.
  Command(kCmdClear);
  PollNow();
  ASSERT_TRUE(WaitForLines(40));
  EXPECT_EQ(TextOf(Lines().front()), "new 0");
  EXPECT_EQ(TextOf(Lines().back()), "new 39");

  QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(gui_test::WaitUntil([&] { return list()->count() == 0; }))
      << "a double click in the list clears it";
}

TEST_F(ViewerTest, ClosingMinimisedKeepsTheStoredLayoutAndFilters) {
  struct Case {
    bool minimised;
  };
  for (Case c : {Case{true}, Case{false}}) {
    RegWriteNumber(registry(), kFrameLayoutKey, kTopLeftXValue, 11);
    RegWriteNumber(registry(), kFrameLayoutKey, kTopLeftYValue, 12);
    RegWriteNumber(registry(), kFrameLayoutKey, kSizeXValue, 400);
    RegWriteNumber(registry(), kFrameLayoutKey, kSizeYValue, 300);
    RegWriteNumber(registry(), kFilterSetupKey, kWhereFilterValue, 0x1);
    StartViewer();
    EXPECT_EQ(frame()->pos(), QPoint(11, 12));
    EXPECT_EQ(frame()->size(), QSize(400, 300));
    EXPECT_EQ(viewer().Filters().uiWhere, 0x1u);
    frame()->move(40, 50);
    frame()->resize(420, 310);
    viewer().Filters().uiWhere = 0x6;
    if (c.minimised) frame()->showMinimized();
    gui_test::RunFor(50);
    StopViewer();
    uint32_t x = RegReadNumber(registry(), kFrameLayoutKey, kTopLeftXValue, 0);
    uint32_t sizeY = RegReadNumber(registry(), kFrameLayoutKey, kSizeYValue, 0);
    uint32_t where = RegReadNumber(registry(), kFilterSetupKey, kWhereFilterValue, 0);
    EXPECT_EQ(x, c.minimised ? 11u : 40u) << c.minimised;
    EXPECT_EQ(sizeY, c.minimised ? 300u : 310u) << c.minimised;
    EXPECT_EQ(where, c.minimised ? 0x1u : 0x6u) << c.minimised;
  }
}

TEST_F(ViewerTest, TheDefaultLayoutComesFromTheScreenSize) {
  StartViewer();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(frame()->pos(), QPoint(screen.width() / 10, screen.height() / 8));
  EXPECT_EQ(frame()->size(), QSize((screen.width() / 5) * 4, (screen.height() / 4) * 3));
  EXPECT_EQ(frame()->windowTitle(), "Ventolog");
}

TEST_F(ViewerTest, TheMenuAndToolbarCarryTheCommandsAndPrompts) {
  StartViewer();
  struct Case {
    int command;
    const char* text;
    const char* prompt;  // null: none
  };
  const Case cases[] = {
      {kCmdAppExit, "E&xit", nullptr},
      {kCmdAppAbout, "&About Ventolog...", nullptr},
      {kCmdInternalTrace, "Quillfen Internal &Trace",
       "Enable / Disable Tracing internal to Quillfen."},
      {kCmdLogToFile, "Log To File..", "Opens a log file to save trace messages"},
      {kCmdLogToComm, "Log To Comm Port...", "Sends trace messages out the Comm port"},
      {kCmdProcedureFilter, "Setup Procedure Filter", "Setup procedure filter bits"},
      {kCmdTypeFilter, "Setup Type Filter", "Setup control bits for message severity level"},
      {kCmdPause, "Pause Trace Listing", "Pause Trace Listing"},
      {kCmdClear, "Clear Trace Window", "Clear Trace Window"},
  };
  for (const Case& c : cases) {
    QAction* action = frame()->Commands().Action(c.command);
    ASSERT_NE(action, nullptr) << c.command;
    EXPECT_EQ(action->text().toStdString(), c.text);
    if (c.prompt) {
      EXPECT_EQ(action->toolTip().toStdString(), c.prompt);
    }
  }
  Command(kCmdInternalTrace);
  frame()->Commands().Update();
  EXPECT_TRUE(frame()->Commands().Action(kCmdInternalTrace)->isEnabled());
  EXPECT_FALSE(frame()->Commands().Action(kCmdInternalTrace)->isChecked());
  EXPECT_TRUE(modal().messages.empty() && modal().dialogCaptions.empty());
}

TEST_F(ViewerTest, ThePictureOfTheWindowWithLiveLinesIsSaved) {
  RegWriteNumber(registry(), kFrameLayoutKey, kSizeXValue, 640);
  RegWriteNumber(registry(), kFrameLayoutKey, kSizeYValue, 360);
  StartViewer();
  viewer().Filters() = {0xFFFFFFFFu, 0xFFFFFFFFu};
  Emit("ENTERING WhorlgateInit", 1, TRACE_WHERE_RPC_DLL, TRACE_TYPE_ENTER);
  Emit("WhorlgateInit: returning WG_OK", 1, TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT);
  Emit("frame", 12);
  ASSERT_TRUE(WaitForLines(14));
  RunFor(100);
  QImage picture = frame()->grab().toImage();
  QPoint inList = list()->viewport()->mapTo(
      frame(), QPoint(list()->viewport()->width() - 3, list()->viewport()->height() - 3));
  EXPECT_EQ(picture.pixelColor(inList), QColor(32, 96, 112)) << "the list's own background";
  EXPECT_TRUE(picture.save(QString::fromUtf8(WG_ARTIFACT_DIR "/ventolog.png")));
}

}  // namespace
