// The demos' display layer: the texts, and what each program's rules make of event messages,
// shown on real widgets offscreen.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "demos/common/display_panel.h"
#include "demos/common/prompt_texts.h"
#include "demos/common/transaction_display.h"
#include "tests/desktop/gui_test.h"
#include "whorlgate.h"

namespace {

using demo::TextStyle;

TEST(DemoTexts, PromptsAndStatusesInEachProgramsWords) {
  struct Case {
    TextStyle style;
    bool prompt;
    uint16_t code;
    const char* text;
  };
  const Case cases[] = {
      {TextStyle::kTransactionDemo, true, 0, "Please Lift and Replace this finger on the Whorlgate Sensor"},
      {TextStyle::kExtendedDemo, true, 3, "Please Lift and Center this finger on the Whorlgate Sensor"},
      {TextStyle::kCaptureTool, true, 2, "Please place a finger on the Whorlgate sensor."},
      {TextStyle::kTransactionDemo, true, 4, "Invalid Prompt"},
      {TextStyle::kExtendedDemo, true, 0xFFFF, "Invalid Prompt"},
      {TextStyle::kCaptureTool, true, 4, "ERROR - Invalid prompt."},
      {TextStyle::kTransactionDemo, false, 1, "Finger removed"},
      {TextStyle::kExtendedDemo, false, 1, "Invalid Message"},
      {TextStyle::kCaptureTool, false, 1, "Finger removed."},
      {TextStyle::kTransactionDemo, false, 12, ""},
      {TextStyle::kExtendedDemo, false, 24, ""},
      {TextStyle::kTransactionDemo, false, 25, "Enroll Failed"},
      {TextStyle::kCaptureTool, false, 25, "Enroll failed."},
      {TextStyle::kTransactionDemo, false, 26, "Invalid Message"},
      {TextStyle::kCaptureTool, false, 26, "Invalid message."},
      {TextStyle::kCaptureTool, false, 6, "Thank you."},
      {TextStyle::kTransactionDemo, false, 19, "Identifying user from database"},
  };
  for (const Case& c : cases) {
    const char* text = c.prompt ? demo::PromptText(c.style, c.code) : demo::StatusText(c.style, c.code);
    EXPECT_STREQ(text, c.text) << (c.prompt ? "prompt " : "status ") << c.code;
  }
}

// An event message as the library hands one out, which WGReleaseMessage takes back.
WGEventMessage* Event(uint16_t type, int16_t subCode, const std::string& text = "") {
  auto* message = static_cast<WGEventMessage*>(malloc(sizeof(WGEventMessage)));
  message->uiMessageType = type;
  message->iSubCode = subCode;
  message->pData = nullptr;
  if (!text.empty()) {
    message->pData = malloc(text.size() + 1);
    memcpy(message->pData, text.c_str(), text.size() + 1);
  }
  return message;
}

// An image whose rows get darker downwards.
WGEventMessage* ImageEvent() {
  WGEventMessage* message = Event(WG_MSG_IMAGE, 0);
  auto* image = static_cast<uint8_t*>(malloc(WGGetImageBufferSize()));
  memset(image, 0, WGGetImageBufferSize());
  for (int row = 0; row < 128; ++row) memset(image + row * 128, 255 - row, 128);
  message->pData = image;
  return message;
}

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_.resize(400, 300);
    status_ = new demo::TextBox(&frame_);
    prompt_ = new demo::TextBox(&frame_);
    view_ = new demo::FingerprintView(&frame_, demo::ImageCopy::kWholeBuffer);
    view_->setGeometry(0, 0, 130, 130);
    progress_ = new demo::ProgressBar(&frame_, 5, 1);
    frame_.show();
    targets_ = {&frame_, "TestDemo", view_, status_, prompt_, progress_, &flags_};
  }

  uint16_t show(const demo::MessageRules& rules, WGEventMessage* message) {
    return demo::ShowTransactionMessage(rules, targets_, message);
  }
  std::string status() const { return status_->toPlainText().toStdString(); }
  std::string prompt() const { return prompt_->toPlainText().toStdString(); }
  // Whether the inside of the view is one colour: the grey of a view without an image.
  bool viewIsGrey() {
    QImage picture = view_->grab().toImage();
    for (int y = 1; y < 129; ++y) {
      for (int x = 1; x < 129; ++x) {
        if (picture.pixelColor(x, y) != QColor(100, 100, 100)) return false;
      }
    }
    return true;
  }

  gui_test::Gui gui_;
  QWidget frame_;
  demo::TextBox* status_;
  demo::TextBox* prompt_;
  demo::FingerprintView* view_;
  demo::ProgressBar* progress_;
  demo::TransactionFlags flags_;
  demo::MessageTargets targets_;
};

TEST_F(DisplayTest, ThePictureComesWithAnImageAndGoesWithItsWithdrawal) {
  EXPECT_TRUE(viewIsGrey());
  EXPECT_EQ(show(demo::kTransactionDemoRules, ImageEvent()), WG_MSG_IMAGE);
  EXPECT_TRUE(view_->imagePresent());
  QImage picture = view_->grab().toImage();
  // The first image row is drawn at the top.
  EXPECT_EQ(picture.pixelColor(64, 1), QColor(255, 255, 255));
  EXPECT_EQ(picture.pixelColor(64, 128), QColor(128, 128, 128));
  EXPECT_EQ(show(demo::kTransactionDemoRules, Event(WG_MSG_CLEAR_IMAGE, 0)), WG_MSG_CLEAR_IMAGE);
  EXPECT_TRUE(viewIsGrey());

  // "Finger removed" takes the picture away in the transaction demo only.
  show(demo::kExtendedDemoRules, ImageEvent());
  show(demo::kExtendedDemoRules, Event(WG_MSG_STATUS, 1));
  EXPECT_EQ(status(), "Invalid Message");
  EXPECT_FALSE(viewIsGrey());
  show(demo::kTransactionDemoRules, Event(WG_MSG_STATUS, 1));
  EXPECT_EQ(status(), "Finger removed");
  EXPECT_TRUE(viewIsGrey());
}

TEST_F(DisplayTest, StatusAndPromptTextsAreSetAndCleared) {
  show(demo::kTransactionDemoRules, Event(WG_MSG_STATUS, 11));
  show(demo::kTransactionDemoRules, Event(WG_MSG_PROMPT, 2));
  EXPECT_EQ(status(), "Analyzing fingerprint");
  EXPECT_EQ(prompt(), "Please Place a finger on the Whorlgate Sensor");
  show(demo::kTransactionDemoRules, Event(WG_MSG_STATUS, 12));
  EXPECT_EQ(status(), "");
  show(demo::kTransactionDemoRules, Event(WG_MSG_STATUS, 26));
  EXPECT_EQ(status(), "Invalid Message");
  show(demo::kTransactionDemoRules, Event(WG_MSG_CLEAR_STATUS, 0));
  show(demo::kTransactionDemoRules, Event(WG_MSG_CLEAR_PROMPT, 0));
  EXPECT_EQ(status(), "");
  EXPECT_EQ(prompt(), "");
  show(demo::kCaptureToolRules, Event(WG_MSG_PROMPT, 7));
  EXPECT_EQ(prompt(), "ERROR - Invalid prompt.");
}

TEST_F(DisplayTest, EndsOfViewAdvanceTheBarAndSayWhatComesNext) {
  show(demo::kTransactionDemoRules, Event(WG_MSG_STATUS, 3));
  show(demo::kTransactionDemoRules, Event(WG_API_END_OF_VIEW, 3));
  EXPECT_EQ(progress_->value(), 5);
  EXPECT_EQ(status(), "Image is good");

  progress_->SetPos(0);
  show(demo::kTransactionDemoRules, ImageEvent());
  show(demo::kTransactionDemoRules, Event(WG_API_END_OF_VIEW, 0, "View 1 of 5 taken"));
  EXPECT_EQ(prompt(), "Please Lift and Center this finger on the Whorlgate Sensor");
  EXPECT_TRUE(viewIsGrey());
  show(demo::kTransactionDemoRules, Event(WG_API_END_OF_VIEW, 0, "View 2 of 5 taken"));
  show(demo::kTransactionDemoRules, Event(WG_API_END_OF_VIEW, 1, "View 3 of 5 taken"));
  EXPECT_EQ(progress_->value(), 3);
  EXPECT_EQ(status(), "View 3 of 5 taken");
  EXPECT_EQ(prompt(), "Please Lift and Replace this finger on the Whorlgate Sensor");

  // The capture tool's bar has ten steps.
  progress_->setRange(0, 10);
  show(demo::kCaptureToolRules, Event(WG_API_END_OF_VIEW, 3));
  EXPECT_EQ(progress_->value(), 10);
  EXPECT_EQ(prompt(), "Please Lift and Replace this finger on the Whorlgate Sensor");
}

TEST_F(DisplayTest, UnknownMessagesAreReportedAsEachProgramDoes) {
  gui_.modal().answers = {desktop::Answer::kOk, desktop::Answer::kOk, desktop::Answer::kOk};
  EXPECT_EQ(show(demo::kTransactionDemoRules, Event(15, 0)), 15);
  EXPECT_EQ(show(demo::kTransactionDemoRules, Event(WG_API_END_OF_VIEW, 4)), WG_API_END_OF_VIEW);
  EXPECT_EQ(show(demo::kCaptureToolRules, Event(WG_API_END_OF_VIEW, 9)), WG_API_END_OF_VIEW);
  // The extended demo and the capture tool only give unknown types back.
  EXPECT_EQ(show(demo::kExtendedDemoRules, Event(15, 0)), 15);
  EXPECT_EQ(show(demo::kCaptureToolRules, Event(13, 0)), 13);
  EXPECT_FALSE(flags_.timedOut);
  ASSERT_EQ(gui_.modal().messages.size(), 3u);
  EXPECT_EQ(gui_.modal().messages[0].text, "Invalid uiMessageType message - 15");
  EXPECT_EQ(gui_.modal().messages[0].caption, "TestDemo");
  EXPECT_EQ(gui_.modal().messages[1].text, "Invalid WG_API_END_OF_VIEW submessage - 4");
  EXPECT_EQ(gui_.modal().messages[2].text, "Got invalid sub message type in WG_API_END_OF_VIEW!");
  EXPECT_EQ(gui_.modal().messages[2].caption, "ERROR");
  EXPECT_EQ(show(demo::kTransactionDemoRules, nullptr), 0xFFFF);
}

TEST_F(DisplayTest, ATimeOutBlanksEverythingAndSaysSoOnce) {
  show(demo::kTransactionDemoRules, ImageEvent());
  show(demo::kTransactionDemoRules, Event(WG_MSG_STATUS, 0));
  show(demo::kTransactionDemoRules, Event(WG_MSG_PROMPT, 2));
  progress_->SetPos(2);
  gui_.modal().answers = {desktop::Answer::kOk};
  EXPECT_EQ(show(demo::kTransactionDemoRules, Event(WG_MSG_TIMEOUT, 0)), WG_MSG_TIMEOUT);
  EXPECT_TRUE(flags_.timedOut);
  ASSERT_EQ(gui_.modal().messages.size(), 1u);
  EXPECT_EQ(gui_.modal().messages[0].text, "Transaction Timed Out");
  EXPECT_EQ(status(), "");
  EXPECT_EQ(prompt(), "");
  EXPECT_TRUE(viewIsGrey());
  EXPECT_EQ(progress_->value(), 0);
}

TEST_F(DisplayTest, CompletionsSetTheFlagOfEachProgram) {
  show(demo::kTransactionDemoRules, Event(WG_MSG_TRANSACTION_COMPLETE + 2, 0));
  EXPECT_TRUE(flags_.ended);
  EXPECT_FALSE(flags_.acquired);
  show(demo::kExtendedDemoRules, Event(WG_MSG_ACQUIRE_COMPLETE, 0));
  EXPECT_TRUE(flags_.acquired);
  // A closing window takes nothing more in the extended demo.
  flags_.closing = true;
  EXPECT_EQ(show(demo::kExtendedDemoRules, Event(WG_MSG_STATUS, 3)), 0xFFFF);
  EXPECT_EQ(status(), "");
}

TEST_F(DisplayTest, MessagesFromAnotherThreadReachTheWindowsInOrder) {
  std::thread events([this] {
    show(demo::kTransactionDemoRules, ImageEvent());
    show(demo::kTransactionDemoRules, Event(WG_MSG_STATUS, 0));
    show(demo::kTransactionDemoRules, Event(WG_API_END_OF_VIEW, 1, "View 1 of 5 taken"));
    show(demo::kTransactionDemoRules, Event(WG_MSG_PROMPT, 2));
  });
  events.join();
  ASSERT_TRUE(gui_test::WaitUntil([this] { return !prompt().empty(); }));
  gui_test::RunFor(50);
  EXPECT_EQ(status(), "View 1 of 5 taken");
  EXPECT_EQ(prompt(), "Please Place a finger on the Whorlgate Sensor");
  EXPECT_EQ(progress_->value(), 1);
  EXPECT_TRUE(viewIsGrey());
}

}  // namespace
