#include "demos/common/transaction_display.h"

#include <QApplication>
#include <QThread>

#include <cstdio>

#include "platform/desktop/application.h"
#include "platform/desktop/modal.h"
#include "platform/desktop/sound.h"

namespace demo {
namespace {

using enum OnMessage;

constexpr uint16_t kNoMessage = 0xFFFF;
constexpr uint16_t kRemovedStatus = 1;
constexpr const char* kEnrollSound = "enroll.wav";

// End-of-view sub-codes: the view wanted the finger centred, lifted and put back, or fuller;
// every view is taken.
enum EndOfView : uint16_t { kViewCenter = 0, kViewReplace = 1, kViewFuller = 2, kViewsDone = 3 };
constexpr uint16_t kPromptLiftAndReplace = 0;
constexpr uint16_t kPromptLiftAndCenter = 3;

bool OnWindowThread() {
  return QThread::currentThread() == qApp->thread();
}

// The event data of a text message, which the library ends with a zero.
QString DataText(const WGEventMessage& message) {
  return message.pData ? QString::fromLatin1(static_cast<const char*>(message.pData)) : QString();
}

void ShowBox(const MessageTargets& targets, QWidget* owner, std::string text, std::string caption) {
  // From the event thread the box waits for the window thread, which pumps while it waits.
  desktop::RunOnWindowThread(targets.frame, [owner, text = std::move(text),
                                             caption = std::move(caption)] {
    desktop::ShowMessage(owner, {text, caption});
  });
}

void ShowBox(const MessageTargets& targets, std::string text) {
  ShowBox(targets, targets.frame, std::move(text), targets.caption);
}

std::string Formatted(const char* format, int value) {
  char text[128];
  snprintf(text, sizeof text, format, value);
  return text;
}

void EndOfViewStep(const MessageRules& rules, const MessageTargets& targets,
                   const WGEventMessage& message, uint16_t nextPrompt) {
  if (targets.image) targets.image->Withdraw();
  if (targets.status) targets.status->SetText(DataText(message));
  if (targets.prompt) targets.prompt->SetText(PromptText(rules.texts, nextPrompt));
  if (targets.progress) targets.progress->StepIt();
}

void EndOfView(const MessageRules& rules, const MessageTargets& targets,
               const WGEventMessage& message) {
  if (rules.soundAtEndOfView) desktop::PlaySoundFile(kEnrollSound);
  uint16_t subCode = static_cast<uint16_t>(message.iSubCode);
  switch (subCode) {
    case kViewCenter:
    case kViewFuller:
      EndOfViewStep(rules, targets, message, kPromptLiftAndCenter);
      break;
    case kViewReplace:
      EndOfViewStep(rules, targets, message, kPromptLiftAndReplace);
      break;
    case kViewsDone:
      if (targets.progress) targets.progress->SetPos(rules.progressWhenDone);
      break;
    default:
      ShowBox(targets, rules.badEndOfViewOwned ? targets.frame : nullptr,
              Formatted(rules.badEndOfViewText, subCode),
              rules.badEndOfViewCaption ? rules.badEndOfViewCaption : targets.caption);
      break;
  }
}

void Act(const MessageRules& rules, const MessageTargets& targets, const WGEventMessage& message) {
  uint16_t type = message.uiMessageType;
  if (type >= kKnownMessageTypes) {
    if (rules.boxForUnknownType) ShowBox(targets, Formatted("Invalid uiMessageType message - %d", type));
    return;
  }
  uint16_t subCode = static_cast<uint16_t>(message.iSubCode);
  switch (rules.actions[type]) {
    case kRelease:
      break;
    case kImage:
      if (targets.image && message.pData &&
          !targets.image->ShowImage(static_cast<const uint8_t*>(message.pData)) &&
          rules.checkImageHeader) {
        ShowBox(targets, "Error: WGBuildOSBmpHeader failed");
      }
      break;
    case kClearImage:
      if (targets.image) targets.image->Withdraw();
      break;
    case kStatus:
      if (targets.status) targets.status->SetText(StatusText(rules.texts, subCode));
      if (rules.removedFingerClearsImage && subCode == kRemovedStatus && targets.image) {
        targets.image->Withdraw();
      }
      break;
    case kClearStatus:
      if (targets.status) targets.status->Clear();
      break;
    case kSound:
      if (message.pData) desktop::PlaySoundFile(static_cast<const char*>(message.pData));
      break;
    case kPrompt:
      if (targets.prompt) targets.prompt->SetText(PromptText(rules.texts, subCode));
      break;
    case kClearPrompt:
      if (targets.prompt) targets.prompt->Clear();
      break;
    case kEnded:
      if (targets.flags) targets.flags->ended = true;
      break;
    case kAcquired:
      if (targets.flags) targets.flags->acquired = true;
      break;
    case kEndOfView:
      EndOfView(rules, targets, message);
      break;
    case kTimeOut:
      if (targets.flags) targets.flags->timedOut = true;
      ShowBox(targets, "Transaction Timed Out");
      if (targets.status) targets.status->Clear();
      if (targets.prompt) targets.prompt->Clear();
      if (targets.image) targets.image->Withdraw();
      if (targets.progress) targets.progress->SetPos(0);
      break;
  }
}

}  // namespace

const MessageRules kTransactionDemoRules = {
    .texts = TextStyle::kTransactionDemo,
    .actions = {kImage, kClearImage, kStatus, kClearStatus, kSound, kPrompt, kClearPrompt, kEnded,
                kEnded, kEnded, kEnded, kEnded, kEndOfView, kTimeOut, kRelease},
    .boxForUnknownType = true,
    .pumpBefore = true,
    .pumpAfter = true,
    .quietWhenClosing = false,
    .checkImageHeader = false,
    .removedFingerClearsImage = true,
    .soundAtEndOfView = false,
    .progressWhenDone = 5,
    .badEndOfViewText = "Invalid WG_API_END_OF_VIEW submessage - %d",
    .badEndOfViewCaption = nullptr,
    .badEndOfViewOwned = true,
};

const MessageRules kExtendedDemoRules = {
    .texts = TextStyle::kExtendedDemo,
    .actions = {kImage, kClearImage, kStatus, kClearStatus, kSound, kPrompt, kClearPrompt,
                kAcquired, kRelease, kRelease, kRelease, kRelease, kRelease, kRelease, kRelease},
    .boxForUnknownType = false,
    .pumpBefore = true,
    .pumpAfter = false,
    .quietWhenClosing = true,
    .checkImageHeader = true,
    .removedFingerClearsImage = false,
    .soundAtEndOfView = false,
    .progressWhenDone = 5,
    .badEndOfViewText = "Invalid WG_API_END_OF_VIEW submessage - %d",
    .badEndOfViewCaption = nullptr,
    .badEndOfViewOwned = true,
};

const MessageRules kCaptureToolRules = {
    .texts = TextStyle::kCaptureTool,
    .actions = {kImage, kClearImage, kStatus, kClearStatus, kRelease, kPrompt, kClearPrompt,
                kRelease, kRelease, kRelease, kRelease, kRelease, kEndOfView, kRelease, kRelease},
    .boxForUnknownType = false,
    .pumpBefore = false,
    .pumpAfter = false,
    .quietWhenClosing = false,
    .checkImageHeader = false,
    .removedFingerClearsImage = false,
    .soundAtEndOfView = true,
    .progressWhenDone = 10,
    .badEndOfViewText = "Got invalid sub message type in WG_API_END_OF_VIEW!",
    .badEndOfViewCaption = "ERROR",
    .badEndOfViewOwned = false,
};

uint16_t ShowTransactionMessage(const MessageRules& rules, const MessageTargets& targets,
                                WGEventMessage* message) {
  // The event thread has no windows of its own to keep alive.
  bool onWindowThread = OnWindowThread();
  if (rules.pumpBefore && onWindowThread) desktop::PumpMessages();
  if (!message) return kNoMessage;
  if (rules.quietWhenClosing && targets.flags && targets.flags->closing) {
    WGReleaseMessage(message);
    return kNoMessage;
  }
  Act(rules, targets, *message);
  uint16_t type = message->uiMessageType;
  WGReleaseMessage(message);
  if (rules.pumpAfter && onWindowThread) desktop::PumpMessages();
  return type;
}

}  // namespace demo
