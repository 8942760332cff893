#include "ventolog/trace_intake.h"

void PollTracePipe(const TraceFilters& filters, const std::function<void(std::string)>& onLine) {
  TraceRecord record;
  for (int i = 0; i < kMaxRecordsPerPoll; ++i) {
    if (!TraceTakeRecord(&record, sizeof record)) return;
    if (PassesFilters(record, filters)) onLine(FormatTraceLine(record));
  }
}
