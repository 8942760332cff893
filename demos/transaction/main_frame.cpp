#include "demos/transaction/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "demos/common/about_box.h"
#include "demos/transaction/db_admin_dlg.h"
#include "demos/transaction/resource.h"
#include "demos/transaction/user_id_dlg.h"
#include "demos/transaction/user_record.h"
#include "platform/desktop/application.h"
#include "platform/desktop/controls.h"
#include "platform/desktop/modal.h"

namespace {

constexpr int kFrameWidth = 500;
constexpr int kFrameHeight = 331;
constexpr auto kWaitStep = std::chrono::milliseconds(100);
constexpr int kEnrollViews = 5;

// The frame that callback transactions report to; null while none may.
std::atomic<CMainFrame*> g_callbackTarget{nullptr};

void TransactionCallback(uint32_t, WGEventMessage* message) {
  CMainFrame* target = g_callbackTarget;
  if (target) {
    target->ShowTransactionMessage(message);
  } else {
    WGReleaseMessage(message);
  }
}

constexpr desktop::MenuItem kMenu[] = {
    {"&File", "E&xit", kCmdAppExit},
    {"&Enroll User", "&Polled", kCmdEnrollPolled},
    {"&Enroll User", "&Callback", kCmdEnrollCallback},
    {"&Validate User ID", "&Polled", kCmdValidatePolled},
    {"&Validate User ID", "&Callback", kCmdValidateCallback},
    {"Verify &Template", "&Polled (normal template)", kCmdVerifyPolled},
    {"Verify &Template", "&Callback (normal template)", kCmdVerifyCallback},
    {"Verify &Template", "P&olled (reduced template)", kCmdVerifyReducedPolled},
    {"Verify &Template", "C&allback (reduced template)", kCmdVerifyReducedCallback},
    {"&Identify User", "&Polled", kCmdIdentifyPolled},
    {"&Identify User", "&Callback", kCmdIdentifyCallback},
    {"&Database", "&User Admin", kCmdUserAdmin},
    {"&Help", "&About WGHighPerformanceAPIDemo...", kCmdAppAbout},
};

// The texts of the results the validation, verification and identification end with.
constexpr const char* kResultTexts[] = {
    "iResults = WG_OK",
    "iResults = WG_UNKNOWN",
    nullptr,  // a match names the user
    "No User - Access Denied",
    "WG_USER_ALREADY_ENROLLED",
    "WG_NO_IMAGE",
    "User Validation Cancelled by timeout",
    "WG_MAX_USER_FINGERS_ENROLLED",
    "WG_IMAGE_RDY",
    "WG_BAD_IMAGE",
};

// Whether the user is enrolled, by walking the users as the basic calls give them.
bool UserEnrolled(const WGUserRecord& wanted) {
  // No context is open: any handle but 0 is taken.
  constexpr WGContextHandle kAnyContext = 1234;
  WGUserRecord user;
  memset(&user, 0, sizeof user);
  user.uiRecordSize = WG_USER_RECORD_SIZE;
  while (WhorlgateGetNextUser(kAnyContext, &user) == WG_OK && user.szUserID[0]) {
    if (strncmp(user.szUserID, wanted.szUserID, WG_USER_ID_LENGTH) == 0) return true;
  }
  return false;
}

enum class Kind { kEnroll, kValidate, kVerify, kVerifyReduced, kIdentify };

struct TransactionCommand {
  int id;
  Kind kind;
  bool callback;
  const char* title;
};

constexpr TransactionCommand kTransactionCommands[] = {
    {kCmdEnrollPolled, Kind::kEnroll, false, "WhorlgateHiPerformanceAPIDemo - Polled Enroll"},
    {kCmdEnrollCallback, Kind::kEnroll, true, "WhorlgateHiPerformanceAPIDemo - Callback Enroll"},
    {kCmdValidatePolled, Kind::kValidate, false,
     "WhorlgateHiPerformanceAPIDemo - Polled ValidateId"},
    {kCmdValidateCallback, Kind::kValidate, true,
     "WhorlgateHiPerformanceAPIDemo - Callback ValidateId"},
    {kCmdVerifyPolled, Kind::kVerify, false,
     "WhorlgateHiPerformanceAPIDemo - Polled Verify Template"},
    {kCmdVerifyCallback, Kind::kVerify, true,
     "WhorlgateHiPerformanceAPIDemo - Callback Verify Template"},
    {kCmdVerifyReducedPolled, Kind::kVerifyReduced, false,
     "WhorlgateHiPerformanceAPIDemo - Polled Verify Using Reduced Template Size"},
    {kCmdVerifyReducedCallback, Kind::kVerifyReduced, true,
     "WhorlgateHiPerformanceAPIDemo - Callback Verify Template"},
    {kCmdIdentifyPolled, Kind::kIdentify, false, "WhorlgateHiPerformanceAPIDemo - Polled Identify"},
    {kCmdIdentifyCallback, Kind::kIdentify, true,
     "WhorlgateHiPerformanceAPIDemo - Callback Identify"},
};

const TransactionCommand* FindTransactionCommand(int id) {
  for (const TransactionCommand& command : kTransactionCommands) {
    if (command.id == id) return &command;
  }
  return nullptr;
}

}  // namespace

demo::TransactionFlags& CMainFrame::Flags() {
  static demo::TransactionFlags flags;
  return flags;
}

CMainFrame::CMainFrame()
    : commands_(this, [this](int command) { OnCommand(command); },
                [this](int command, desktop::CommandState& state) { OnUpdateCommand(command, state); }) {
  setWindowTitle(QString::fromLatin1(kAppTitle));
  setWindowIcon(demo::DemoIcon());
  commands_.BuildMenuBar(kMenu);

  // The client area: a plain view behind the controls, which are laid out over it.
  auto* client = new QWidget(this);
  setCentralWidget(client);
  auto* view = new QFrame(client);
  desktop::SetControlId(view, kIdFirstPane);
  view->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  view->setFocusPolicy(Qt::StrongFocus);

  progress_ = new demo::ProgressBar(client, kEnrollViews, 1);
  desktop::SetControlId(progress_, kIdProgressBar);
  fingerprint_ = new demo::FingerprintView(client, demo::ImageCopy::kWholeBuffer);
  desktop::SetControlId(fingerprint_, kIdFingerprintView);
  status_ = new demo::TextBox(client);
  desktop::SetControlId(status_, kIdStatusBox);
  prompt_ = new demo::TextBox(client);
  desktop::SetControlId(prompt_, kIdPromptBox);

  setFixedSize(kFrameWidth, kFrameHeight);
  targets_ = {this, kAppTitle, fingerprint_, status_, prompt_, progress_, &Flags()};
  templateSize_ = static_cast<int16_t>(WGGetReferenceTemplateSize());
  options_ = {0, 0, 1};
  Flags().active = false;
}

CMainFrame::~CMainFrame() {
  CMainFrame* self = this;
  g_callbackTarget.compare_exchange_strong(self, nullptr);
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (placed_) return;
  placed_ = true;
  // The outer size, decorations included, is the frame's size; centred on the work area.
  QSize decorations = frameGeometry().size() - geometry().size();
  setFixedSize(QSize(kFrameWidth, kFrameHeight) - decorations);
  QRect work = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  move(work.x() + (work.width() - kFrameWidth) / 2, work.y() + (work.height() - kFrameHeight) / 2);
  QWidget* client = centralWidget();
  QRect area = client->rect();
  desktop::FindControl<QFrame>(client, kIdFirstPane)->setGeometry(area);
  const int left = area.left(), top = area.top(), right = area.right() + 1,
            bottom = area.bottom() + 1;
  progress_->setGeometry(QRect(QPoint(left, top), QPoint(right - 1, top + 19)));
  fingerprint_->setGeometry(QRect(QPoint(left, top + 20), QPoint(left + 129, top + 149)));
  status_->setGeometry(QRect(QPoint(left + 131, top + 20), QPoint(right - 1, top + 149)));
  prompt_->setGeometry(QRect(QPoint(left, top + 151), QPoint(right - 1, bottom - 1)));
}

uint16_t CMainFrame::ShowTransactionMessage(WGEventMessage* message) {
  return demo::ShowTransactionMessage(demo::kTransactionDemoRules, targets_, message);
}

void CMainFrame::OnCommand(int command) {
  if (const TransactionCommand* transaction = FindTransactionCommand(command)) {
    setWindowTitle(QString::fromLatin1(transaction->title));
    Flags().ended = false;
    Flags().closing = false;
    Flags().timedOut = false;
    switch (transaction->kind) {
      case Kind::kEnroll:
        Enroll(transaction->callback);
        break;
      case Kind::kValidate:
        ValidateId(transaction->callback);
        break;
      case Kind::kVerify:
        Verify(transaction->callback, false);
        break;
      case Kind::kVerifyReduced:
        Verify(transaction->callback, true);
        break;
      case Kind::kIdentify:
        Identify(transaction->callback);
        break;
    }
    return;
  }
  switch (command) {
    case kCmdAppExit:
      close();
      break;
    case kCmdAppAbout: {
      demo::AboutBox about(this, QStringLiteral("About WGHighPerformanceAPIDemo"),
                           {QStringLiteral("WGHighPerformanceAPIDemo Version 3.2")});
      desktop::RunDialog(about);
      break;
    }
    case kCmdUserAdmin: {
      DbAdminDlg admin(this);
      desktop::RunDialog(admin);
      break;
    }
    default:
      break;
  }
}

void CMainFrame::OnUpdateCommand(int command, desktop::CommandState& state) {
  if (command == kCmdAppExit || command == kCmdAppAbout) return;
  state.enabled = !Flags().active;
}

void CMainFrame::Enroll(bool callback) {
  UserIdDlg dialog(this, UserIdDlg::Mode::kEnroll);
  if (desktop::RunDialog(dialog) != QDialog::Accepted) {
    SetPlainTitle();
    return;
  }
  WGUserRecord user = RequestRecord(dialog.name());
  const WGUserRecord request = user;
  if (callback) g_callbackTarget = this;
  transaction_ = WGBeginEnroll(callback ? TransactionCallback : nullptr, 0, &options_, &user,
                               dialog.finger(), &templateSize_);
  if (!transaction_) {
    BeginFailed();
    return;
  }
  if (!Wait(callback)) return;
  // A template is kept only once an enrollment has filled it.
  std::vector<uint8_t> record(static_cast<size_t>(std::max<int16_t>(templateSize_, 0)));
  int16_t size = 0;
  WGUserRecord ended = request;
  WGResult result = WGEndEnroll(transaction_, record.data(), &size, &ended);
  if (result == WG_OK) {
    stored_ = std::move(record);
    Message((UserIdText(request) + QStringLiteral("\nEnroll successful")).toStdString());
  } else {
    Message("Enroll failed");
  }
  progress_->SetPos(0);
  SetPlainTitle();
}

void CMainFrame::ValidateId(bool callback) {
  UserIdDlg dialog(this, UserIdDlg::Mode::kId);
  if (desktop::RunDialog(dialog) != QDialog::Accepted) {
    SetPlainTitle();
    return;
  }
  WGUserRecord user = RequestRecord(dialog.name());
  if (!UserEnrolled(user)) {
    Message("The specified User ID \"" + dialog.name().toStdString() +
            "\" does not exist in the database, please try again.");
    return;
  }
  if (callback) g_callbackTarget = this;
  transaction_ = WGBeginValidateID(callback ? TransactionCallback : nullptr, 0, &user, &options_);
  if (!transaction_) {
    BeginFailed();
    return;
  }
  if (!Wait(callback)) return;
  ShowResult(WGEndValidateID(transaction_), UserIdText(user));
}

void CMainFrame::Verify(bool callback, bool reduced) {
  if (stored_.empty()) {
    Message("You must enroll before attempting a match");
    return;
  }
  std::vector<uint8_t> small;
  const uint8_t* record = stored_.data();
  if (reduced) {
    small.resize(WGGetSmallReferenceTemplateSize());
    if (WGConvertNormalReferenceTemplateToSmall(small.data(), stored_.data()) != WG_OK) {
      Message("Normal temlplate can not be converted to small template, aborting.");
      return;
    }
    record = small.data();
  }
  if (callback) g_callbackTarget = this;
  const uint8_t* records[] = {record};
  transaction_ = WGBeginVerify(callback ? TransactionCallback : nullptr, 0, records, 1, &options_);
  small.clear();
  if (!transaction_) {
    BeginFailed();
    return;
  }
  if (!Wait(callback)) return;
  int16_t matchValue = 0;
  ShowResult(WGEndVerify(transaction_, &matchValue), QString());
}

void CMainFrame::Identify(bool callback) {
  if (callback) g_callbackTarget = this;
  transaction_ = WGBeginIdentify(callback ? TransactionCallback : nullptr, 0, &options_);
  if (!transaction_) {
    BeginFailed();
    return;
  }
  if (!Wait(callback)) return;
  WGUserRecord user;
  memset(&user, 0, sizeof user);
  user.uiRecordSize = WG_USER_RECORD_SIZE;
  WGResult result = WGEndIdentify(transaction_, &user);
  ShowResult(result, UserIdText(user));
}

bool CMainFrame::Wait(bool callback) {
  Flags().active = true;
  if (callback) {
    CallbackWait();
  } else {
    PolledWait();
  }
  Flags().active = false;
  if (Flags().closing || Flags().timedOut) return false;
  if (!Flags().ended) {
    SetPlainTitle();
    return false;
  }
  return true;
}

void CMainFrame::PolledWait() {
  WGEventMessage* message = nullptr;
  while (!Flags().timedOut && !Flags().ended) {
    uint16_t type = ShowTransactionMessage(message);
    message = nullptr;
    if (type < WG_MSG_TRANSACTION_COMPLETE || type > WG_MSG_TRANSACTION_COMPLETE_LAST) {
      if (Flags().closing) return;
      message = WGContinueTransaction(transaction_);
      if (!message) std::this_thread::sleep_for(kWaitStep);
    }
    if (Flags().closing) {
      // A message fetched as the window closed is given back unshown.
      if (message) WGReleaseMessage(message);
      return;
    }
  }
  if (!Flags().closing && !Flags().timedOut) ClearDisplay();
}

void CMainFrame::CallbackWait() {
  while (!Flags().closing && !Flags().timedOut && !Flags().ended) {
    desktop::PumpMessages();
    std::this_thread::sleep_for(kWaitStep);
  }
  g_callbackTarget = nullptr;
  if (!Flags().closing && !Flags().timedOut) ClearDisplay();
}

void CMainFrame::ClearDisplay() {
  status_->Clear();
  prompt_->Clear();
  fingerprint_->Withdraw();
}

void CMainFrame::BeginFailed() {
  char details[WG_RESULT_DETAILS_TEXT_SIZE] = "";
  uint32_t flags = 0;
  WhorlgateGetResultDetails(details, &flags);
  Message(details);
  SetPlainTitle();
}

void CMainFrame::ShowResult(WGResult result, const QString& name) {
  if (Flags().closing) return;
  int16_t code = static_cast<int16_t>(result);
  std::string text;
  if (code == WG_MATCH) {
    text = (name.isEmpty() ? std::string("User") : name.toStdString()) +
           " Validated - Access Granted ";
  } else if (code >= 0 && static_cast<size_t>(code) < std::size(kResultTexts)) {
    text = kResultTexts[code];
  } else {
    char unknown[64];
    snprintf(unknown, sizeof unknown, "Unknown Result returned - %d", code);
    text = unknown;
  }
  Message(text);
  SetPlainTitle();
}

void CMainFrame::Message(const std::string& text) {
  desktop::ShowMessage(this, {text, kAppTitle});
}

void CMainFrame::SetPlainTitle() {
  setWindowTitle(QString::fromLatin1(kPlainTitle));
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  Flags().closing = true;
  if (Flags().active) {
    Flags().active = false;
    WGAbortTransaction(transaction_);
    Message("Transaction Cancelled by user");
  }
  QMainWindow::closeEvent(event);
}
