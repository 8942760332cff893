#include "ventolog/ventolog_app.h"

#include "platform/desktop/application.h"
#include "platform/desktop/modal.h"
#include "ventolog/comm_settings_dlg.h"
#include "ventolog/main_frame.h"
#include "ventolog/viewer_settings.h"

namespace {

constexpr char kAppTitle[] = "Ventolog";
constexpr char kLogFileFilter[] = " Log Files (*.txt) |*.txt|  All Files (*.*) |*.*||";

void ShowBox(QWidget* parent, const std::string& text) {
  desktop::ShowMessage(
      parent, {text, kAppTitle, desktop::MessageButtons::kOk, desktop::MessageIcon::kNone});
}

}  // namespace

VentologApp::VentologApp(desktop::Application& application)
    : application_(application),
      registry_(MakeRegistryRoot(platform::RegistryHive::kCurrentUser, kVentologRegistryPrefix)),
      logger_(registry_),
      sinks_(logger_) {
  application.setApplicationName(QString::fromUtf8(kAppTitle));
  idleHandler_ = application.AddIdleHandler([this] {
    sinks_.FlushFileIfDue();
    if (frame_) frame_->Commands().Update();
  });
}

VentologApp::~VentologApp() {
  application_.RemoveIdleHandler(idleHandler_);
  frame_.reset();
  sinks_.CloseFile();
  logger_.SaveSettings();
  sinks_.SetCommActive(false);
  logger_.Stop();
}

void VentologApp::Start() {
  frame_ = std::make_unique<CMainFrame>(*this);
  frame_->show();
  char name[kRegistryTextLength];
  RegReadText(&registry_, kOptionsKey, kStartupLogFileNameValue, "", name);
  startupLogFileName_ = name;
  if (!startupLogFileName_.empty()) OpenLogFile(startupLogFileName_);
}

void VentologApp::OpenLogFile(const std::string& path) {
  if (!sinks_.OpenFile(path)) ShowBox(frame_.get(), "Error opening output file");
}

void VentologApp::ToggleLogToFile() {
  if (sinks_.FileOpen()) {
    sinks_.CloseFile();
    return;
  }
  std::string path = startupLogFileName_;
  if (path.empty()) {
    desktop::SaveFileRequest request;
    request.filter = kLogFileFilter;
    request.defaultExtension = "txt";
    request.confirmOverwrite = true;
    std::optional<std::string> chosen = desktop::AskSaveFile(frame_.get(), request);
    if (!chosen) return;
    if (chosen->empty()) {
      ShowBox(frame_.get(), "File Name Not Found");
      return;
    }
    path = *chosen;
  }
  OpenLogFile(path);
}

void VentologApp::RunCommSettingsDialog() {
  CommSettingsDlg dialog(frame_.get(), registry_);
  if (desktop::RunDialog(dialog) == QDialog::Accepted) logger_.ReadSettings();
}

void VentologApp::ToggleLogToComm() {
  if (sinks_.CommActive()) {
    // No line is queued once this returns, so the port closes behind the last one.
    sinks_.SetCommActive(false);
    logger_.Stop();
    return;
  }
  // Whether the dialog ends with OK or Cancel, the logger starts with the settings it has.
  RunCommSettingsDialog();
  for (;;) {
    switch (logger_.Start()) {
      case CommStartResult::kStarted:
        sinks_.SetCommActive(true);
        return;
      case CommStartResult::kFailed:
        return;
      case CommStartResult::kPortNotOpened:
        break;
    }
    desktop::Answer answer = desktop::ShowMessage(
        frame_.get(),
        {"Failed to open " + logger_.Settings().port + ".\nWould you like to try another port?",
         kAppTitle, desktop::MessageButtons::kYesNo, desktop::MessageIcon::kQuestion});
    if (answer != desktop::Answer::kYes) return;
    RunCommSettingsDialog();
  }
}
