#include "shared/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/time.h"

// Indexed by bit number; the unnamed bits stay empty.
const char g_TraceWhereNames[kTraceNameCount][kTraceNameLength] = {
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    "Chip I/O",        // 21
    "Gain Control",    // 22
    "Auto-Cal",        // 23
    "Srvr Interface",  // 24
    "OS Pipe",         // 25
    "RPC DLL",         // 26
    "Extract",         // 27
    "Display",         // 28
    "Sensor",          // 29
    "Control",         // 30
    "FrameWork",       // 31
};

const char g_TraceTypeNames[kTraceNameCount][kTraceNameLength] = {
    "Info",         // 0
    "Enter",        // 1
    "Exit",         // 2
    "API Result",   // 3
    "", "", "", "", "", "", "", "", "", "", "", "",
    "OldStyleMsg",  // 16
    "", "", "", "", "", "", "", "", "", "", "",
    "StateInfo",    // 28
    "Warning",      // 29
    "Critical",     // 30
    "Fatal",        // 31
};

std::atomic<TraceControl*> g_pTraceControl{nullptr};

namespace {

PipeCntl* OpenTracePipe(int32_t number) {
  auto* pipe = static_cast<PipeCntl*>(calloc(1, sizeof(PipeCntl)));
  if (!pipe) return nullptr;
  if (WGOpenInputMessagePipe(pipe, number) != 0) {
    free(pipe);
    return nullptr;
  }
  return pipe;
}

void CloseTracePipe(PipeCntl*& pipe) {
  if (!pipe) return;
  WGCloseMessagePipe(pipe);
  free(pipe);
  pipe = nullptr;
}

void FreeControl(TraceControl* control) {
  CloseTracePipe(control->pTracePipe);
  for (PipeCntl*& pipe : control->pExtraPipes) CloseTracePipe(pipe);
  CloseTracePipe(control->pReservedPipe);
  free(control->pszPrefix);
  delete control;
}

// Appends `piece` to the text of `used` characters if the result stays within the field.
void AppendIfItFits(char* text, size_t& used, const char* piece) {
  size_t n = strlen(piece);
  if (used + n < kTraceTextLength) {
    memcpy(text + used, piece, n + 1);
    used += n;
  }
}

void Emit(uint32_t where, uint32_t type, const char* text, bool hasValue, uint32_t value) {
  TraceControl* control = g_pTraceControl.load(std::memory_order_acquire);
  if (!control || !control->pTracePipe) return;
  TraceRecord record{};
  record.uiSize = kTraceRecordSize;
  record.uiTickCount = platform::GetTickCount();
  record.uiWhere = where;
  record.uiType = type;
  size_t used = 0;
  if (control->pszPrefix) AppendIfItFits(record.szText, used, control->pszPrefix);
  if (text) AppendIfItFits(record.szText, used, text);
  if (hasValue) {
    char number[16];
    snprintf(number, sizeof number, " 0x%x", value);
    AppendIfItFits(record.szText, used, number);
  }
  // A full pipe drops the record: tracing never waits for the viewer.
  WGAppendPipeRecord(control->pTracePipe, reinterpret_cast<const uint8_t*>(&record),
                     sizeof record);
}

void EmitIndented(uint32_t where, uint32_t type, int16_t level, const char* text) {
  char indented[kTraceTextLength] = {};
  size_t used = 0;
  for (int i = 0; i < level && used + 2 < kTraceTextLength; ++i) {
    indented[used++] = ' ';
    indented[used++] = ' ';
  }
  indented[used] = '\0';
  if (text) AppendIfItFits(indented, used, text);
  Emit(where, type, indented, false, 0);
}

}  // namespace

TraceControl* TraceInit(const char* pszPrefix) {
  if (g_pTraceControl.load(std::memory_order_acquire)) return nullptr;
  auto* control = new TraceControl{};
  memcpy(control->szWhereNames, g_TraceWhereNames, sizeof control->szWhereNames);
  memcpy(control->szTypeNames, g_TraceTypeNames, sizeof control->szTypeNames);
  if (pszPrefix && strlen(pszPrefix) < kTraceTextLength - 1) control->pszPrefix = strdup(pszPrefix);
  // Without the trace pipe the facility exists but stays silent.
  control->pTracePipe = OpenTracePipe(kTracePipeNumber);
  for (int i = 0; i < kTraceExtraPipeCount; ++i) {
    control->pExtraPipes[i] = OpenTracePipe(kTraceFirstExtraPipe + i);
    if (!control->pExtraPipes[i]) {
      FreeControl(control);
      return nullptr;
    }
  }
  control->pReservedPipe = OpenTracePipe(kTraceReservedPipe);
  if (!control->pReservedPipe) {
    FreeControl(control);
    return nullptr;
  }
  return control;
}

void TraceMsg(uint32_t uiWhere, uint32_t uiType, const char* pszText, const int32_t* piValue) {
  Emit(uiWhere, uiType, pszText, piValue != nullptr,
       piValue ? static_cast<uint32_t>(*piValue) : 0);
}

void TraceMsg16(uint32_t uiWhere, uint32_t uiType, const char* pszText, const int16_t* piValue) {
  Emit(uiWhere, uiType, pszText, piValue != nullptr,
       piValue ? static_cast<uint16_t>(*piValue) : 0);
}

void TraceEnter(uint32_t uiWhere, const char* pszText) {
  TraceControl* control = g_pTraceControl.load(std::memory_order_acquire);
  if (!control) return;
  int16_t level = control->iNestLevel.fetch_add(1, std::memory_order_relaxed);
  EmitIndented(uiWhere, TRACE_TYPE_ENTER, level, pszText);
}

void TraceExit(uint32_t uiWhere, const char* pszText) {
  TraceControl* control = g_pTraceControl.load(std::memory_order_acquire);
  if (!control) return;
  int16_t level = static_cast<int16_t>(control->iNestLevel.fetch_sub(1, std::memory_order_relaxed) - 1);
  EmitIndented(uiWhere, TRACE_TYPE_EXIT, level, pszText);
}

bool TraceTakeRecord(void* pBuffer, uint32_t uiLength) {
  TraceControl* control = g_pTraceControl.load(std::memory_order_acquire);
  if (!control || !control->pTracePipe) return false;
  uint32_t taken = 0;
  uint8_t* record = WGTakePipeRecord(control->pTracePipe, &taken);
  if (!record) return false;
  // Never read past what the pipe delivered, whatever length the caller asked for.
  memcpy(pBuffer, record, uiLength < taken ? uiLength : taken);
  if (uiLength > taken) memset(static_cast<uint8_t*>(pBuffer) + taken, 0, uiLength - taken);
  free(record);
  return true;
}

void TraceShutdown() {
  TraceControl* control = g_pTraceControl.exchange(nullptr, std::memory_order_acq_rel);
  if (control) FreeControl(control);
}

bool PassesFilters(const TraceRecord& record, const TraceFilters& filters) {
  return (record.uiWhere & filters.uiWhere) != 0 && (record.uiType & filters.uiType) != 0;
}

std::string FormatTraceLine(const TraceRecord& record) {
  char stamp[16];
  snprintf(stamp, sizeof stamp, "%d -", static_cast<int32_t>(record.uiTickCount));
  // A producer may fill the whole text field without a terminating zero.
  std::string line(stamp);
  line.append(record.szText, strnlen(record.szText, kTraceTextLength));
  return line;
}
