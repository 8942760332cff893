#include "ventolog/main_frame.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>

#include "platform/desktop/application.h"
#include "platform/desktop/modal.h"
#include "ventolog/about_dlg.h"
#include "ventolog/filter_setup_dlg.h"
#include "ventolog/poll_request.h"
#include "ventolog/trace_list_wnd.h"
#include "ventolog/ventolog_app.h"
#include "ventolog/viewer_settings.h"

namespace {

constexpr desktop::MenuItem kMenu[] = {
    {"&File", "E&xit", kCmdAppExit},
    {"&Help", "&About Ventolog...", kCmdAppAbout},
    {"&Options", "Quillfen Internal &Trace", kCmdInternalTrace},
    {"&Options", "Log To File..", kCmdLogToFile},
    {"&Options", "Log To Comm Port...", kCmdLogToComm},
    {"&Options", nullptr, 0},
    {"&Options", "Setup Procedure Filter", kCmdProcedureFilter},
    {"&Options", "Setup Type Filter", kCmdTypeFilter},
    {"&Options", nullptr, 0},
    {"&Options", "Pause Trace Listing", kCmdPause},
    {"&Options", "Clear Trace Window", kCmdClear},
};

constexpr desktop::ToolButton kToolBar[] = {
    {kCmdProcedureFilter, QStyle::SP_FileDialogListView},
    {kCmdTypeFilter, QStyle::SP_FileDialogDetailedView},
    {0, QStyle::SP_CustomBase},
    {kCmdPause, QStyle::SP_MediaPause},
    {0, QStyle::SP_CustomBase},
    {kCmdLogToFile, QStyle::SP_DialogSaveButton},
    {kCmdClear, QStyle::SP_DialogResetButton},
};

constexpr desktop::CommandPrompt kPrompts[] = {
    {kCmdInternalTrace, "Enable / Disable Tracing internal to Quillfen."},
    {kCmdLogToFile, "Opens a log file to save trace messages"},
    {kCmdProcedureFilter, "Setup procedure filter bits"},
    {kCmdTypeFilter, "Setup control bits for message severity level"},
    {kCmdPause, "Pause Trace Listing"},
    {kCmdClear, "Clear Trace Window"},
    {kCmdLogToComm, "Sends trace messages out the Comm port"},
};

}  // namespace

CMainFrame::CMainFrame(VentologApp& app)
    : app_(app),
      registry_(MakeRegistryRoot(platform::RegistryHive::kCurrentUser, kVentologRegistryPrefix)),
      commands_(
          this, [this](int command) { OnCommand(command); },
          [this](int command, desktop::CommandState& state) { OnUpdateCommand(command, state); }) {
  setWindowTitle(QStringLiteral("Ventolog"));
  commands_.BuildMenuBar(kMenu);
  commands_.BuildToolBar(kToolBar);
  commands_.SetPrompts(kPrompts);
  statusBar();

  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const uint32_t width = static_cast<uint32_t>(screen.width());
  const uint32_t height = static_cast<uint32_t>(screen.height());
  // Positions are stored as 32-bit numbers; a window left of or above the primary screen has
  // a negative one.
  int x =
      static_cast<int32_t>(RegReadNumber(&registry_, kFrameLayoutKey, kTopLeftXValue, width / 10));
  int y =
      static_cast<int32_t>(RegReadNumber(&registry_, kFrameLayoutKey, kTopLeftYValue, height / 8));
  int sizeX = static_cast<int32_t>(
      RegReadNumber(&registry_, kFrameLayoutKey, kSizeXValue, (width / 5) * 4));
  int sizeY = static_cast<int32_t>(
      RegReadNumber(&registry_, kFrameLayoutKey, kSizeYValue, (height / 4) * 3));
  app_.Filters().uiWhere =
      RegReadNumber(&registry_, kFilterSetupKey, kWhereFilterValue, kDefaultFilter);
  app_.Filters().uiType =
      RegReadNumber(&registry_, kFilterSetupKey, kTypeFilterValue, kDefaultFilter);
  move(x, y);
  resize(sizeX, sizeY);

  traceList_ = new TraceListWnd(this, app_.Sinks(), app_.Filters());
  setCentralWidget(traceList_);
  pollRequests_ = std::make_unique<PollRequestListener>(
      [this] { desktop::PostToWindowThread(this, [this] { HandleMessage(kMsgPollTracePipe); }); });
}

CMainFrame::~CMainFrame() {
  // No request may reach a frame that is going away.
  pollRequests_.reset();
  delete traceList_;
  traceList_ = nullptr;
  // A minimised frame's placement is not one to come back to, and neither are its filters.
  if (isMinimized()) return;
  const QPoint place = pos();
  RegWriteNumber(&registry_, kFrameLayoutKey, kTopLeftXValue, static_cast<uint32_t>(place.x()));
  RegWriteNumber(&registry_, kFrameLayoutKey, kTopLeftYValue, static_cast<uint32_t>(place.y()));
  RegWriteNumber(&registry_, kFrameLayoutKey, kSizeXValue, static_cast<uint32_t>(width()));
  RegWriteNumber(&registry_, kFrameLayoutKey, kSizeYValue, static_cast<uint32_t>(height()));
  RegWriteNumber(&registry_, kFilterSetupKey, kWhereFilterValue, app_.Filters().uiWhere);
  RegWriteNumber(&registry_, kFilterSetupKey, kTypeFilterValue, app_.Filters().uiType);
}

int CMainFrame::HandleMessage(uint32_t message) {
  if (message != kMsgPollTracePipe) return -1;
  if (traceList_) traceList_->PollTracePipe();
  return 0;
}

void CMainFrame::EditFilter(uint32_t& mask, const char (*names)[kTraceNameLength]) {
  FilterSetupDlg dialog(this, mask, names);
  if (desktop::RunDialog(dialog) == QDialog::Accepted) mask = dialog.Mask();
}

void CMainFrame::OnCommand(int command) {
  switch (command) {
    case kCmdAppExit:
      close();
      break;
    case kCmdAppAbout: {
      AboutDlg about(this);
      desktop::RunDialog(about);
      break;
    }
    case kCmdLogToFile:
      app_.ToggleLogToFile();
      break;
    case kCmdLogToComm:
      app_.ToggleLogToComm();
      break;
    case kCmdProcedureFilter:
      EditFilter(app_.Filters().uiWhere, g_TraceWhereNames);
      break;
    case kCmdTypeFilter:
      EditFilter(app_.Filters().uiType, g_TraceTypeNames);
      break;
    case kCmdPause:
      traceList_->SetPaused(!traceList_->Paused());
      break;
    case kCmdClear:
      traceList_->Clear();
      break;
    default:
      break;  // kCmdInternalTrace is enabled and does nothing
  }
  commands_.Update();
}

void CMainFrame::OnUpdateCommand(int command, desktop::CommandState& state) {
  switch (command) {
    case kCmdLogToFile:
      state.checked = app_.Sinks().FileOpen();
      break;
    case kCmdLogToComm:
      state.checked = app_.Sinks().CommActive();
      break;
    case kCmdPause:
      state.checked = traceList_ && traceList_->Paused();
      break;
    default:
      break;
  }
}
