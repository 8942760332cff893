// Trace messages: short texts with a category (where bits), a type (type bits), an optional
// value and a time stamp, sent as 272-byte records into the trace pipe for the trace viewer.
// Tracing never blocks for long and never fails visibly.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "shared/pipe.h"

// Where bits.
#define TRACE_WHERE_FRAMEWORK 0x80000000u
#define TRACE_WHERE_CONTROL 0x40000000u
#define TRACE_WHERE_SENSOR 0x20000000u
#define TRACE_WHERE_DISPLAY 0x10000000u
#define TRACE_WHERE_EXTRACT 0x08000000u
#define TRACE_WHERE_RPC_DLL 0x04000000u
#define TRACE_WHERE_OS_PIPE 0x02000000u
#define TRACE_WHERE_SRVR_INTERFACE 0x01000000u
#define TRACE_WHERE_AUTO_CAL 0x00800000u
#define TRACE_WHERE_GAIN_CONTROL 0x00400000u
#define TRACE_WHERE_CHIP_IO 0x00200000u

// Type bits.
#define TRACE_TYPE_INFO 0x00000001u
#define TRACE_TYPE_ENTER 0x00000002u
#define TRACE_TYPE_EXIT 0x00000004u
#define TRACE_TYPE_API_RESULT 0x00000008u
#define TRACE_TYPE_OLD_STYLE_MSG 0x00010000u
#define TRACE_TYPE_STATE_INFO 0x10000000u
#define TRACE_TYPE_WARNING 0x20000000u
#define TRACE_TYPE_CRITICAL 0x40000000u
#define TRACE_TYPE_FATAL 0x80000000u

inline constexpr int kTraceNameCount = 32;
inline constexpr int kTraceNameLength = 16;
inline constexpr uint32_t kTraceRecordSize = 272;
inline constexpr uint32_t kTraceTextLength = 256;
inline constexpr int kTraceExtraPipeCount = 6;  // pipes -15 to -10
inline constexpr int32_t kTraceFirstExtraPipe = -15;
inline constexpr int32_t kTraceReservedPipe = -32;

// Field offsets of the trace record (little-endian, packed).
inline constexpr uint32_t kTraceRecSize = 0;
inline constexpr uint32_t kTraceRecTick = 4;
inline constexpr uint32_t kTraceRecWhere = 8;
inline constexpr uint32_t kTraceRecType = 12;
inline constexpr uint32_t kTraceRecText = 16;

struct TraceRecord {
  uint32_t uiSize;
  uint32_t uiTickCount;
  uint32_t uiWhere;
  uint32_t uiType;
  char szText[kTraceTextLength];
};
static_assert(sizeof(TraceRecord) == kTraceRecordSize);

extern const char g_TraceWhereNames[kTraceNameCount][kTraceNameLength];
extern const char g_TraceTypeNames[kTraceNameCount][kTraceNameLength];

struct TraceControl {
  PipeCntl* pTracePipe;  // null when the trace pipe could not be opened: tracing stays silent
  PipeCntl* pExtraPipes[kTraceExtraPipeCount];
  PipeCntl* pReservedPipe;
  char* pszPrefix;
  // Shared by every thread of the process and not guarded: concurrent Enter/Exit lines only
  // interleave their indentation.
  std::atomic<int16_t> iNestLevel;
  char szWhereNames[kTraceNameCount][kTraceNameLength];
  char szTypeNames[kTraceNameCount][kTraceNameLength];
};

// The process's trace control; empty until the owner of the process stores TraceInit's result.
extern std::atomic<TraceControl*> g_pTraceControl;

// Builds the trace control and opens its pipes; null when the process-wide pointer is already
// set or a pipe other than the trace pipe cannot be opened.
TraceControl* TraceInit(const char* pszPrefix);
void TraceMsg(uint32_t uiWhere, uint32_t uiType, const char* pszText, const int32_t* piValue);
void TraceMsg16(uint32_t uiWhere, uint32_t uiType, const char* pszText, const int16_t* piValue);
void TraceEnter(uint32_t uiWhere, const char* pszText);
void TraceExit(uint32_t uiWhere, const char* pszText);
// Takes the oldest record of the trace pipe and copies up to `uiLength` bytes of it.
bool TraceTakeRecord(void* pBuffer, uint32_t uiLength);

// What a follower of the trace pipe shows: the records that share a where bit with the where
// mask and a type bit with the type mask.
struct TraceFilters {
  uint32_t uiWhere;
  uint32_t uiType;
};
bool PassesFilters(const TraceRecord& record, const TraceFilters& filters);
// The line the trace viewer shows for a record: the time stamp as a signed decimal, " -" and
// the text, "123456 -WGRPC: ...".
std::string FormatTraceLine(const TraceRecord& record);
// Closes and frees the pipes of the process's trace control and empties the pointer.
void TraceShutdown();

// Convenience for value traces.
inline void TraceValue(uint32_t uiWhere, uint32_t uiType, const char* pszText, int32_t iValue) {
  TraceMsg(uiWhere, uiType, pszText, &iValue);
}
inline void TraceValue16(uint32_t uiWhere, uint32_t uiType, const char* pszText, int16_t iValue) {
  TraceMsg16(uiWhere, uiType, pszText, &iValue);
}
