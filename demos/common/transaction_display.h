// Turning one event message of a transaction into updates of a demo's windows. The three
// programs that watch transactions act on the same messages in different ways; each way is a
// table of what to do for each message type, and a few switches.
#pragma once

#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "demos/common/display_panel.h"
#include "demos/common/prompt_texts.h"
#include "whorlgate.h"

namespace demo {

// Flags the window thread and the library's event thread share while a transaction runs.
struct TransactionFlags {
  std::atomic<bool> ended{false};     // a transaction-complete message came
  std::atomic<bool> acquired{false};  // an acquire-complete message came
  std::atomic<bool> timedOut{false};
  std::atomic<bool> closing{false};   // the window is being closed
  std::atomic<bool> active{false};    // a wait loop runs
};

enum class OnMessage : uint8_t {
  kRelease,      // nothing but giving the message back
  kImage,
  kClearImage,
  kStatus,
  kClearStatus,
  kSound,
  kPrompt,
  kClearPrompt,
  kEnded,
  kAcquired,
  kEndOfView,
  kTimeOut,
};

inline constexpr size_t kKnownMessageTypes = WG_MSG_IDLE + 1;

struct MessageRules {
  TextStyle texts;
  std::array<OnMessage, kKnownMessageTypes> actions;  // by message type
  bool boxForUnknownType;        // "Invalid uiMessageType message - %d"
  bool pumpBefore;               // handle the window's queued events first
  bool pumpAfter;                // and again once the message is given back
  bool quietWhenClosing;         // a closing window takes no more messages
  bool checkImageHeader;         // a header that cannot be built is reported
  bool removedFingerClearsImage; // status "Finger removed" also takes the picture away
  bool soundAtEndOfView;         // "enroll.wav" at every end of a view
  int progressWhenDone;          // the bar's position once every view is taken
  const char* badEndOfViewText;  // a printf format of the sub-code, or a plain text
  const char* badEndOfViewCaption;  // null: the program's name
  bool badEndOfViewOwned;        // the box has the frame as its owner
};

extern const MessageRules kTransactionDemoRules;
extern const MessageRules kExtendedDemoRules;
extern const MessageRules kCaptureToolRules;

// What a program shows a transaction on. Any piece but `frame` may be absent.
struct MessageTargets {
  QWidget* frame;            // owner of the message boxes
  std::string caption;       // the program's name, the boxes' caption
  ImageSurface* image = nullptr;
  TextSurface* status = nullptr;
  TextSurface* prompt = nullptr;
  ProgressBar* progress = nullptr;
  TransactionFlags* flags = nullptr;
};

// Shows `message` (which may be null), gives it back with WGReleaseMessage and returns its
// type, or 0xFFFF when there was no message. Runs on the window thread or on the library's
// event thread; from the event thread, message boxes are shown by the window thread later.
uint16_t ShowTransactionMessage(const MessageRules& rules, const MessageTargets& targets,
                                WGEventMessage* message);

}  // namespace demo
