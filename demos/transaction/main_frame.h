// The transaction demo's main frame: enrollment, validation of a claimed user, verification
// against the template it holds and identification, each polled or with a callback, with the
// server's texts, the live fingerprint and the enrollment's progress on show.
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <vector>

#include "demos/common/display_panel.h"
#include "demos/common/transaction_display.h"
#include "platform/desktop/commands.h"
#include "whorlgate.h"

class CMainFrame : public QMainWindow {
 public:
  CMainFrame();
  ~CMainFrame() override;

  desktop::CommandSet& Commands() { return commands_; }
  uint16_t ShowTransactionMessage(WGEventMessage* message);

  demo::TextBox* StatusBox() const { return status_; }
  demo::TextBox* PromptBox() const { return prompt_; }
  demo::FingerprintView* Fingerprint() const { return fingerprint_; }
  demo::ProgressBar* Progress() const { return progress_; }
  // The flags the frame shares with the library's event thread.
  static demo::TransactionFlags& Flags();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnCommand(int command);
  void OnUpdateCommand(int command, desktop::CommandState& state);
  void Enroll(bool callback);
  void ValidateId(bool callback);
  void Verify(bool callback, bool reduced);
  void Identify(bool callback);

  // Runs the wait loop of the transaction just begun; false when the command is to stop.
  bool Wait(bool callback);
  void PolledWait();
  void CallbackWait();
  void ClearDisplay();
  // Shows why a Begin call returned no transaction.
  void BeginFailed();
  void ShowResult(WGResult result, const QString& name);
  void Message(const std::string& text);
  void SetPlainTitle();

  desktop::CommandSet commands_;
  demo::TextBox* status_;
  demo::TextBox* prompt_;
  demo::FingerprintView* fingerprint_;
  demo::ProgressBar* progress_;
  demo::MessageTargets targets_;
  bool placed_ = false;

  int16_t templateSize_;
  WGCaptureOptions options_;
  std::vector<uint8_t> stored_;  // the last enrolled template; empty before the first
  uint32_t transaction_ = 0;
};
