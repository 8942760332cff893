// The process's client error record: the first client-side fault since the last take, with
// its code, text and flags, for WhorlgateGetResultDetails to hand out.
#pragma once

#include <cstdint>

inline constexpr int kClientErrorTextLength = 256;  // 255 characters and a zero

// Records `iCode` with `pszText` (or the code's fixed text when null). False when an error is
// already pending or the code is unknown; code 0 clears the record. A text of 256 characters or
// more is stored cut to its first 255; the caller's text is never written to.
bool ReportClientError(int16_t iCode, const char* pszText);
// Hands out the pending error (text into a 256-character buffer, flags before masking) and
// clears the record; returns 0 when none was pending.
int16_t TakeClientError(char* pszText, uint32_t* puiFlags);
int16_t GetClientErrorCode();
// The fixed text of a client error code, or null for a code the record does not know.
const char* ClientErrorFixedText(int16_t iCode);
