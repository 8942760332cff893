#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <QComboBox>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/desktop/controls.h"
#include "tests/ventolog/viewer_fixture.h"
#include "ventolog/comm_settings_dlg.h"

namespace {

std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void ClickOk(QDialog& dialog) {
  desktop::FindControl<QPushButton>(&dialog, desktop::kIdOk)->click();
}

class LoggingTest : public ViewerTest {
 protected:
  std::string logPath() const { return scratch() + "/trace.txt"; }
  bool fileLogging() {
    frame()->Commands().Update();
    return frame()->Commands().Action(kCmdLogToFile)->isChecked();
  }
  bool commLogging() {
    frame()->Commands().Update();
    return frame()->Commands().Action(kCmdLogToComm)->isChecked();
  }
  // Traces numbered records at about one a millisecond from another thread, as a busy
  // producer does, until destroyed.
  class Stream {
   public:
    explicit Stream(LoggingTest& test)
        : thread_([this, &test] {
            for (uint32_t i = 0; !stop_; ++i) {
              test.TryAppend(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_FATAL, "stream " + std::to_string(i),
                             i);
              std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
          }) {}
    ~Stream() {
      stop_ = true;
      thread_.join();
    }

   private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
  };
  // What every streamed line looks like, whole.
  const std::regex wholeStreamLine_{"[0-9]+ -stream [0-9]+"};

  // Shows one line and waits until the display thread has handled it.
  void ShowLine(const std::string& text) {
    size_t before = static_cast<size_t>(list()->count());
    Append(TRACE_WHERE_FRAMEWORK, TRACE_TYPE_FATAL, text, 77);
    PollNow();
    ASSERT_TRUE(gui_test::WaitUntil([&] { return static_cast<size_t>(list()->count()) > before; }));
  }
};

TEST_F(LoggingTest, AStartupLogFileLogsAtOnceAndIsReusedWithoutAsking) {
  RegWriteText(registry(), kOptionsKey, kStartupLogFileNameValue, logPath().c_str());
  StartViewer();
  Command(kCmdPause);
  EXPECT_TRUE(fileLogging());
  ShowLine("first");
  Command(kCmdLogToFile);
  EXPECT_FALSE(fileLogging());
  EXPECT_EQ(FileLines(logPath()), std::vector<std::string>{"77 -first"}) << "closed and flushed";
  ShowLine("not logged");
  Command(kCmdLogToFile);
  EXPECT_TRUE(fileLogging());
  EXPECT_TRUE(modal().saveRequests.empty()) << "the start-up name is used without asking";
  ShowLine("second");
  StopViewer();
  EXPECT_EQ(FileLines(logPath()), std::vector<std::string>{"77 -second"})
      << "emptied when reopened, flushed and closed at exit";
}

TEST_F(LoggingTest, TheSaveDialogChoosesTheLogFile) {
  StartViewer();
  Command(kCmdPause);
  struct Case {
    std::optional<std::string> answer;
    const char* message;  // null: none
    bool logging;
  };
  const Case cases[] = {
      {std::nullopt, nullptr, false},
      {std::string(), "File Name Not Found", false},
      {scratch() + "/no/such/folder/log.txt", "Error opening output file", false},
      {logPath(), nullptr, true},
  };
  for (const Case& c : cases) {
    modal().messages.clear();
    modal().savedFiles.push_back(c.answer);
    if (c.message) modal().answers.push_back(desktop::Answer::kOk);
    Command(kCmdLogToFile);
    EXPECT_EQ(fileLogging(), c.logging) << c.answer.value_or("(cancel)");
    if (c.message) {
      ASSERT_EQ(modal().messages.size(), 1u);
      EXPECT_EQ(modal().messages[0].text, c.message);
      EXPECT_EQ(modal().messages[0].caption, "Ventolog");
    } else {
      EXPECT_TRUE(modal().messages.empty());
    }
  }
  const desktop::SaveFileRequest& asked = modal().saveRequests.back();
  EXPECT_EQ(asked.defaultExtension, "txt");
  EXPECT_EQ(asked.filter, " Log Files (*.txt) |*.txt|  All Files (*.*) |*.*||");
  EXPECT_TRUE(asked.confirmOverwrite);
  ShowLine("into the chosen file");
  Command(kCmdLogToFile);
  EXPECT_EQ(FileLines(logPath()), std::vector<std::string>{"77 -into the chosen file"});
}

TEST_F(LoggingTest, TurningLoggingOffWhileLinesStreamInLosesNoWholeLine) {
  RegWriteText(registry(), kOptionsKey, kStartupLogFileNameValue, logPath().c_str());
  StartViewer();
  std::vector<std::string> lines;
  {
    // Lines keep coming while the file is closed and reopened under the display thread.
    Stream stream(*this);
    for (int round = 0; round < 40; ++round) {
      gui_test::RunFor(15);
      Command(kCmdLogToFile);
      if (!fileLogging()) {
        for (std::string& line : FileLines(logPath())) lines.push_back(std::move(line));
      }
    }
  }
  StopViewer();
  for (std::string& line : FileLines(logPath())) lines.push_back(std::move(line));
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines)
    EXPECT_TRUE(std::regex_match(line, wholeStreamLine_)) << line;
}

TEST_F(LoggingTest, APortThatCannotBeOpenedAsksForAnotherOne) {
  setenv("WHORLGATE_COM1", (scratch() + "/no-such-device").c_str(), 1);
  StartViewer();
  struct Case {
    std::vector<desktop::Answer> answers;
    size_t settingsDialogs;
  };
  const Case cases[] = {
      {{desktop::Answer::kNo}, 1},
      {{desktop::Answer::kYes, desktop::Answer::kNo}, 2},
  };
  for (const Case& c : cases) {
    modal().messages.clear();
    modal().dialogCaptions.clear();
    for (desktop::Answer answer : c.answers) {
      modal().answers.push_back(answer);
      modal().dialogs.push_back(ClickOk);
    }
    Command(kCmdLogToComm);
    EXPECT_FALSE(commLogging());
    EXPECT_EQ(modal().dialogCaptions.size(), c.settingsDialogs);
    ASSERT_EQ(modal().messages.size(), c.answers.size());
    EXPECT_EQ(modal().messages[0].text,
              "Failed to open COM1.\nWould you like to try another port?");
    EXPECT_EQ(modal().messages[0].buttons, desktop::MessageButtons::kYesNo);
  }
  EXPECT_TRUE(modal().dialogs.empty());
}

// A pseudo-terminal stands in for the serial line; the test reads what the viewer sends at
// the other end.
class PortTest : public LoggingTest {
 protected:
  void SetUp() override {
    LoggingTest::SetUp();
    char device[128];
    ASSERT_EQ(openpty(&master_, &slave_, device, nullptr, nullptr), 0);
    setenv("WHORLGATE_COM2", device, 1);
    RegWriteText(registry(), kCommPortSettingsKey, kCommPortValue, "COM2");
  }
  void TearDown() override {
    LoggingTest::TearDown();
    close(master_);
    close(slave_);
  }
  std::string readPort(size_t atLeast) {
    std::string bytes;
    while (bytes.size() < atLeast) {
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 5000) != 1) break;
      char buffer[512];
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
  }
  int master_ = -1;
  int slave_ = -1;
};

TEST_F(PortTest, EveryShownLineGoesOutEndedByLineFeedAndCarriageReturn) {
  StartViewer();
  Command(kCmdPause);
  modal().dialogs.push_back(ClickOk);
  Command(kCmdLogToComm);
  ASSERT_TRUE(commLogging());
  ShowLine("to the port");
  ShowLine("and another");
  const std::string expected = "77 -to the port\n\r77 -and another\n\r";
  EXPECT_EQ(readPort(expected.size()), expected);
  Command(kCmdLogToComm);
  EXPECT_FALSE(commLogging());
  ShowLine("not sent");
  pollfd ready{master_, POLLIN, 0};
  EXPECT_EQ(poll(&ready, 1, 200), 0) << "nothing goes out once comm logging is off";
}

TEST_F(PortTest, TurningCommLoggingOffWhileLinesStreamInSendsOnlyWholeLines) {
  StartViewer();
  std::string sent;
  std::atomic<bool> stopDrain{false};
  std::thread drain([&] {
    char buffer[4096];
    for (;;) {
      pollfd ready{master_, POLLIN, 0};
      int got = poll(&ready, 1, 100);
      if (got == 0) {
        if (stopDrain) return;
        continue;
      }
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return;
      sent.append(buffer, static_cast<size_t>(n));
    }
  });
  {
    Stream stream(*this);
    for (int round = 0; round < 20; ++round) {
      if (!commLogging()) modal().dialogs.push_back(ClickOk);
      Command(kCmdLogToComm);
      gui_test::RunFor(40);
    }
  }
  StopViewer();
  stopDrain = true;
  drain.join();
  ASSERT_FALSE(sent.empty());
  size_t start = 0;
  for (size_t end = sent.find("\n\r"); end != std::string::npos; end = sent.find("\n\r", start)) {
    std::string line = sent.substr(start, end - start);
    EXPECT_TRUE(std::regex_match(line, wholeStreamLine_)) << line;
    start = end + 2;
  }
  EXPECT_EQ(start, sent.size()) << "the port stopped between two lines";
}

}  // namespace
