// Taking trace records out of the trace pipe, filtering them and turning them into the lines
// the viewer shows, logs and prints.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "shared/trace.h"

inline constexpr uint32_t kTracePollPeriodMs = 50;
// With the 50 ms period this takes up to 1,000 records a second; what is left waits in the
// pipe for the next poll.
inline constexpr int kMaxRecordsPerPoll = 50;

// Takes up to kMaxRecordsPerPoll records from the process's trace pipe and hands the line of
// every record that passes the filters to `onLine`; records that fail are dropped.
void PollTracePipe(const TraceFilters& filters, const std::function<void(std::string)>& onLine);
