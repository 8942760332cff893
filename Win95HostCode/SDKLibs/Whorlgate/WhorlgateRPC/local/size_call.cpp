#include "local/size_call.h"

#include <cstdio>

#include "shared/trace.h"

uint16_t TraceSizeCall(const char* pszName, uint16_t uiSize) {
  char szText[kTraceTextLength];
  std::snprintf(szText, sizeof szText, "ENTERING %s", pszName);
  TraceEnter(TRACE_WHERE_RPC_DLL, szText);
  std::snprintf(szText, sizeof szText, "%s: size =", pszName);
  TraceValue16(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT, szText, static_cast<int16_t>(uiSize));
  std::snprintf(szText, sizeof szText, "EXITING %s", pszName);
  TraceExit(TRACE_WHERE_RPC_DLL, szText);
  return uiSize;
}
