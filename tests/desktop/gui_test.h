// Real widgets in a test: the offscreen platform, one application object per test, a modal
// host that answers what the code under test shows, and a wait that keeps the window thread
// running.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/application.h"
#include "platform/desktop/modal.h"

namespace gui_test {

// Answers message boxes, save-file dialogs and modal dialogs from queues the test fills, and
// keeps what was shown. Something shown without a queued answer fails the test.
class ScriptedModal : public desktop::ModalHost {
 public:
  struct Shown {
    std::string text;
    std::string caption;
    desktop::MessageButtons buttons;
  };

  std::deque<desktop::Answer> answers;
  std::deque<std::optional<std::string>> savedFiles;
  // Each works the dialog (clicks, reads) and ends it, usually by clicking OK or Cancel.
  std::deque<std::function<void(QDialog&)>> dialogs;

  std::vector<Shown> messages;
  std::vector<desktop::SaveFileRequest> saveRequests;
  std::vector<std::string> dialogCaptions;

  desktop::Answer ShowMessage(QWidget*, const desktop::MessageRequest& request) override {
    messages.push_back({request.text, request.caption, request.buttons});
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected message box: " << request.text;
      return desktop::Answer::kCancel;
    }
    desktop::Answer answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::optional<std::string> AskSaveFile(QWidget*,
                                         const desktop::SaveFileRequest& request) override {
    saveRequests.push_back(request);
    if (savedFiles.empty()) {
      ADD_FAILURE() << "unexpected save-file dialog";
      return std::nullopt;
    }
    std::optional<std::string> answer = savedFiles.front();
    savedFiles.pop_front();
    return answer;
  }

  int RunDialog(QDialog& dialog) override {
    dialogCaptions.push_back(dialog.windowTitle().toStdString());
    if (dialogs.empty()) {
      ADD_FAILURE() << "unexpected dialog: " << dialogCaptions.back();
      return QDialog::Rejected;
    }
    auto work = std::move(dialogs.front());
    dialogs.pop_front();
    dialog.setResult(QDialog::Rejected);
    work(dialog);
    return dialog.result();
  }
};

// Creates the application on the offscreen platform and installs the scripted host.
class Gui {
 public:
  Gui();
  ~Gui();
  desktop::Application& app() { return *app_; }
  ScriptedModal& modal() { return modal_; }

 private:
  int argc_ = 1;
  char name_[16] = "gui_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<desktop::Application> app_;
  ScriptedModal modal_;
};

// Runs the window thread's events until `done` holds, at most `budgetMs`; false on time-out.
bool WaitUntil(const std::function<bool()>& done, int budgetMs = 5000);
// Runs the window thread's events for `ms`.
void RunFor(int ms);

}  // namespace gui_test
