#include "platform/desktop/modal.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

#include <vector>

namespace desktop {
namespace {

QMessageBox::Icon QtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kQuestion:
      return QMessageBox::Question;
    case MessageIcon::kWarning:
      return QMessageBox::Warning;
    case MessageIcon::kError:
      return QMessageBox::Critical;
    case MessageIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

class QtDialogsHost final : public ModalHost {
 public:
  Answer ShowMessage(QWidget* parent, const MessageRequest& request) override {
    QMessageBox box(QtIcon(request.icon), QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), QMessageBox::NoButton, parent);
    switch (request.buttons) {
      case MessageButtons::kOk:
        box.setStandardButtons(QMessageBox::Ok);
        break;
      case MessageButtons::kOkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
      case MessageButtons::kYesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    switch (box.exec()) {
      case QMessageBox::Yes:
        return Answer::kYes;
      case QMessageBox::No:
        return Answer::kNo;
      case QMessageBox::Cancel:
        return Answer::kCancel;
      default:
        return request.buttons == MessageButtons::kYesNo ? Answer::kNo : Answer::kOk;
    }
  }

  std::optional<std::string> AskSaveFile(QWidget* parent, const SaveFileRequest& request) override {
    QFileDialog dialog(parent, QString::fromStdString(request.title),
                       QString::fromStdString(request.folder),
                       QString::fromStdString(QtNameFilters(request.filter)));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (!request.fileName.empty()) dialog.selectFile(QString::fromStdString(request.fileName));
    if (!request.confirmOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? std::string() : files.front().toStdString();
  }

  int RunDialog(QDialog& dialog) override { return dialog.exec(); }
};

QtDialogsHost g_qtDialogs;
ModalHost* g_host = &g_qtDialogs;

}  // namespace

ModalHost& Modal() {
  return *g_host;
}

void SetModalHost(ModalHost* host) {
  g_host = host ? host : &g_qtDialogs;
}

std::string QtNameFilters(const std::string& filter) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t bar = filter.find('|'); bar != std::string::npos; bar = filter.find('|', start)) {
    parts.push_back(filter.substr(start, bar - start));
    start = bar + 1;
  }
  auto trim = [](std::string text) {
    size_t first = text.find_first_not_of(' ');
    size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
  };
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string label = trim(parts[i]);
    std::string pattern = trim(parts[i + 1]);
    if (label.empty() && pattern.empty()) break;
    // Qt reads the patterns from the parentheses at the end of a label, so a label that
    // already shows them loses them here and gets the real ones back.
    size_t open = label.rfind('(');
    if (open != std::string::npos && label.back() == ')') label = trim(label.substr(0, open));
    std::string patterns = pattern;
    for (char& c : patterns) {
      if (c == ';') c = ' ';
    }
    if (!out.empty()) out += ";;";
    out += label + " (" + patterns + ")";
  }
  return out;
}

}  // namespace desktop
