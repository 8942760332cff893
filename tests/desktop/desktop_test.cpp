#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <QToolBar>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/desktop/application.h"
#include "platform/desktop/commands.h"
#include "platform/desktop/controls.h"
#include "platform/desktop/dib.h"
#include "platform/desktop/modal.h"
#include "tests/desktop/gui_test.h"
#include "whorlgate/wg_image.h"

namespace {

using gui_test::Gui;
using gui_test::RunFor;
using gui_test::WaitUntil;

constexpr desktop::MenuItem kMenu[] = {
    {"&File", "E&xit", 100},
    {"&Tools", "&Alpha", 201},
    {"&Tools", nullptr, 0},
    {"&Tools", "&Beta", 202},
};
constexpr desktop::ToolButton kButtons[] = {
    {202, QStyle::SP_MediaPause}, {0, QStyle::SP_CustomBase}, {201, QStyle::SP_DialogSaveButton}};
constexpr desktop::CommandPrompt kPrompts[] = {{202, "Runs beta"}};

TEST(DesktopCommands, MenusAndToolbarShareCommandsAndTheirUpdatedStates) {
  Gui gui;
  QMainWindow frame;
  std::vector<int> commands;
  bool betaChecked = false;
  bool alphaEnabled = true;
  desktop::CommandSet set(
      &frame, [&](int command) { commands.push_back(command); },
      [&](int command, desktop::CommandState& state) {
        if (command == 201) state.enabled = alphaEnabled;
        if (command == 202) state.checked = betaChecked;
      });
  set.BuildMenuBar(kMenu);
  QToolBar* toolBar = set.BuildToolBar(kButtons);
  set.SetPrompts(kPrompts);

  QList<QMenu*> menus = frame.menuBar()->findChildren<QMenu*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->title(), "&File");
  QList<QAction*> tools = menus[1]->actions();
  ASSERT_EQ(tools.size(), 3);
  EXPECT_EQ(tools[0]->text(), "&Alpha");
  EXPECT_TRUE(tools[1]->isSeparator());
  EXPECT_EQ(tools[2], set.Action(202));
  EXPECT_EQ(tools[2]->toolTip(), "Runs beta");
  EXPECT_EQ(tools[2]->statusTip(), "Runs beta");
  QList<QAction*> buttons = toolBar->actions();
  ASSERT_EQ(buttons.size(), 3);
  EXPECT_EQ(buttons[0], set.Action(202)) << "the toolbar button is the menu's command";
  EXPECT_TRUE(buttons[1]->isSeparator());

  alphaEnabled = false;
  betaChecked = true;
  emit menus[1]->aboutToShow();
  EXPECT_FALSE(set.Action(201)->isEnabled());
  EXPECT_TRUE(set.Action(202)->isChecked());
  betaChecked = false;
  set.Update();
  EXPECT_FALSE(set.Action(202)->isChecked());
  set.Action(202)->trigger();
  EXPECT_FALSE(set.Action(202)->isChecked()) << "a plain command keeps no check mark";
  set.Action(100)->trigger();
  EXPECT_EQ(commands, (std::vector<int>{202, 100}));
}

TEST(DesktopControls, ControlsAreFoundByTheirIds) {
  Gui gui;
  QWidget window;
  auto* first = new QWidget(&window);
  auto* inner = new QWidget(first);
  desktop::SetControlId(first, 1000);
  desktop::SetControlId(inner, 1001);
  EXPECT_EQ(desktop::FindControl<QWidget>(&window, 1001), inner);
  EXPECT_EQ(desktop::FindControl<QWidget>(&window, 1000), first);
  EXPECT_EQ(desktop::FindControl<QWidget>(&window, 1002), nullptr);
}

TEST(DesktopMessages, QueuedCallsRunOnTheWindowThreadInOrder) {
  Gui gui;
  QObject target;
  std::vector<int> order;
  std::atomic<int> wrongThread{0};
  std::thread other([&] {
    for (int i = 0; i < 100; ++i) {
      desktop::PostToWindowThread(&target, [&, i] {
        if (QThread::currentThread() != gui.app().thread()) ++wrongThread;
        order.push_back(i);
      });
    }
  });
  other.join();
  EXPECT_TRUE(order.empty()) << "nothing runs before the window thread handles its events";
  desktop::PumpMessages();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(wrongThread, 0);

  auto* gone = new QObject;
  bool ran = false;
  desktop::PostToWindowThread(gone, [&] { ran = true; });
  delete gone;
  desktop::PumpMessages();
  EXPECT_FALSE(ran) << "a call for a destroyed object is dropped";
}

TEST(DesktopMessages, PumpMessagesReturnsAtOnceAndLeavesAQuitPending) {
  Gui gui;
  bool pumpReturned = false;
  bool laterCallRan = false;
  QTimer::singleShot(0, &gui.app(), [&] {
    QCoreApplication::quit();
    QTimer::singleShot(0, &gui.app(), [&] { laterCallRan = true; });
    desktop::PumpMessages();
    pumpReturned = true;
  });
  // Fails the test instead of hanging it when the quit got lost.
  QTimer::singleShot(5000, &gui.app(), [] { QCoreApplication::exit(7); });
  EXPECT_EQ(gui.app().exec(), 0);
  EXPECT_TRUE(pumpReturned);
  EXPECT_TRUE(laterCallRan) << "the pump handled what was queued";
}

TEST(DesktopMessages, IdleHandlersRunWhenTheQueueRunsEmpty) {
  Gui gui;
  int idle = 0;
  int eventsHandledBeforeFirstIdle = -1;
  int events = 0;
  gui.app().AddIdleHandler([&] {
    if (++idle == 1) eventsHandledBeforeFirstIdle = events;
  });
  bool removedRan = false;
  gui.app().RemoveIdleHandler(gui.app().AddIdleHandler([&] { removedRan = true; }));
  QObject target;
  for (int i = 0; i < 20; ++i) desktop::PostToWindowThread(&target, [&] { ++events; });
  QTimer::singleShot(100, &gui.app(), [] { QCoreApplication::quit(); });
  gui.app().exec();
  EXPECT_GE(idle, 1);
  EXPECT_EQ(eventsHandledBeforeFirstIdle, 20) << "idle time comes once the queue is empty";
  EXPECT_FALSE(removedRan);
}

TEST(DesktopTimers, NumberedTimersTickRestartAndStop) {
  Gui gui;
  QObject owner;
  std::vector<int> ticks;
  desktop::WindowTimers timers(&owner, [&](int id) { ticks.push_back(id); });
  timers.Set(1, 10);
  timers.Set(2, 10);
  timers.Set(2, 100000);  // the same id again: restarted with the new period
  ASSERT_TRUE(WaitUntil([&] { return ticks.size() >= 3; }));
  for (int id : ticks) EXPECT_EQ(id, 1);
  EXPECT_TRUE(timers.Running(2));
  timers.Kill(1);
  EXPECT_FALSE(timers.Running(1));
  size_t seen = ticks.size();
  RunFor(80);
  EXPECT_EQ(ticks.size(), seen);
}

// A 3 x 2 bitmap: rows of 3 pixels padded to 4 bytes, the palette in blue, green, red order.
struct SmallDib {
  WGBitmapHeader header{};
  uint8_t pixels[8] = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE};

  explicit SmallDib(int32_t height) {
    header.info.uiHeaderSize = WG_BITMAP_INFO_HEADER_SIZE;
    header.info.iWidth = 3;
    header.info.iHeight = height;
    header.info.usPlanes = 1;
    header.info.usBitCount = 8;
    for (int i = 0; i < WG_BITMAP_PALETTE_ENTRIES; ++i) {
      header.aPalette[i] = {static_cast<uint8_t>(i * 3), static_cast<uint8_t>(i * 2),
                            static_cast<uint8_t>(i), 0};
    }
  }
};

TEST(DesktopDib, RowsComeOutUprightWithThePaletteColours) {
  Gui gui;
  struct Case {
    int32_t height;
    uint8_t topRowFirstIndex;
  };
  // Negative height: the first stored row is the top one; positive: the bottom one.
  for (Case c : {Case{-2, 1}, Case{2, 4}}) {
    SmallDib dib(c.height);
    QImage image = desktop::DibToImage(dib.header, dib.pixels);
    ASSERT_EQ(image.size(), QSize(3, 2)) << c.height;
    uint8_t i = c.topRowFirstIndex;
    EXPECT_EQ(image.pixel(0, 0), qRgb(i, i * 2, i * 3)) << c.height;
    EXPECT_EQ(image.pixel(2, 0), qRgb(i + 2, (i + 2) * 2, (i + 2) * 3)) << c.height;
    uint8_t j = c.topRowFirstIndex == 1 ? 4 : 1;
    EXPECT_EQ(image.pixel(0, 1), qRgb(j, j * 2, j * 3)) << c.height;
  }

  SmallDib dib(-2);
  QImage canvas(6, 4, QImage::Format_RGB32);
  canvas.fill(Qt::black);
  QPainter painter(&canvas);
  desktop::StretchDib(painter, QRect(0, 0, 6, 4), dib.header, dib.pixels);
  painter.end();
  EXPECT_EQ(canvas.pixel(5, 3), qRgb(6, 12, 18)) << "stretched onto the whole target";
}

TEST(DesktopDib, RefusesBitmapsItCannotDraw) {
  Gui gui;
  struct Case {
    const char* what;
    void (*spoil)(WGBitmapInfoHeader&);
  };
  const Case cases[] = {
      {"24 bits", [](WGBitmapInfoHeader& h) { h.usBitCount = 24; }},
      {"compressed", [](WGBitmapInfoHeader& h) { h.uiCompression = 1; }},
      {"no rows", [](WGBitmapInfoHeader& h) { h.iHeight = 0; }},
      {"huge", [](WGBitmapInfoHeader& h) { h.iWidth = 1 << 30; }},
      {"short header", [](WGBitmapInfoHeader& h) { h.uiHeaderSize = 12; }},
  };
  for (const Case& c : cases) {
    SmallDib dib(2);
    c.spoil(dib.header.info);
    EXPECT_TRUE(desktop::DibToImage(dib.header, dib.pixels).isNull()) << c.what;
  }
}

TEST(DesktopModal, SaveFileFiltersBecomeQtNameFilters) {
  struct Case {
    const char* filter;
    const char* expected;
  };
  const Case cases[] = {
      {" Log Files (*.txt) |*.txt|  All Files (*.*) |*.*||", "Log Files (*.txt);;All Files (*.*)"},
      {"Bitmap File (*.BMP)|*.BMP||", "Bitmap File (*.BMP)"},
      {"Pictures|*.bmp;*.png||", "Pictures (*.bmp *.png)"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(desktop::QtNameFilters(c.filter), c.expected) << c.filter;
}

}  // namespace
