#include "ventolog/trace_intake.h"

#include <cstdio>
#include <cstring>

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

void PollTracePipe(const TraceFilters& filters, const std::function<void(std::string)>& onLine) {
  TraceRecord record;
  for (int i = 0; i < kMaxRecordsPerPoll; ++i) {
    if (!TraceTakeRecord(&record, sizeof record)) return;
    if (PassesFilters(record, filters)) onLine(FormatTraceLine(record));
  }
}
