// The one way the desktop programs show something modal: message boxes, question boxes, the
// save-file dialog and their own dialogs. The host in force shows the real Qt dialogs; a test
// installs a host of its own that answers them and reads their texts and captions.
#pragma once

#include <optional>
#include <string>

class QDialog;
class QWidget;

namespace desktop {

enum class MessageButtons { kOk, kOkCancel, kYesNo };
enum class MessageIcon { kNone, kInformation, kQuestion, kWarning, kError };
enum class Answer { kOk, kCancel, kYes, kNo };

struct MessageRequest {
  std::string text;
  std::string caption;
  MessageButtons buttons = MessageButtons::kOk;
  MessageIcon icon = MessageIcon::kNone;
};

struct SaveFileRequest {
  std::string title;     // empty: the dialog's usual title
  std::string folder;    // empty: the current folder
  std::string fileName;  // proposed name
  // Pairs of label and pattern, each closed by '|', the list closed by one more '|':
  // "Log Files (*.txt)|*.txt|All Files (*.*)|*.*||".
  std::string filter;
  std::string defaultExtension;  // without the dot; added to a name typed without one
  bool confirmOverwrite = true;
};

class ModalHost {
 public:
  virtual ~ModalHost() = default;
  virtual Answer ShowMessage(QWidget* parent, const MessageRequest& request) = 0;
  // The chosen path, or nothing when the user cancelled.
  virtual std::optional<std::string> AskSaveFile(QWidget* parent,
                                                 const SaveFileRequest& request) = 0;
  // Runs the dialog modally; QDialog::Accepted or QDialog::Rejected.
  virtual int RunDialog(QDialog& dialog) = 0;
};

// The host in force.
ModalHost& Modal();
// Installs `host` (not owned); null brings the real dialogs back.
void SetModalHost(ModalHost* host);

inline Answer ShowMessage(QWidget* parent, const MessageRequest& request) {
  return Modal().ShowMessage(parent, request);
}
inline std::optional<std::string> AskSaveFile(QWidget* parent, const SaveFileRequest& request) {
  return Modal().AskSaveFile(parent, request);
}
inline int RunDialog(QDialog& dialog) {
  return Modal().RunDialog(dialog);
}

// The Qt name filters of a save-file filter string ("Log Files (*.txt);;All Files (*.*)").
std::string QtNameFilters(const std::string& filter);

}  // namespace desktop
