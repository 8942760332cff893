// Sending an API request to the server and waiting for its reply; taking events from the
// client pipe.
#pragma once

#include <cstdint>

#include "whorlgate/wg_transaction.h"

// Connects if needed, aborts a running transaction first when `bAbort` is set, empties the
// client pipe and hands the request (header filled in) to the server pipe. False only when no
// connection can be made.
bool WGRpcUtilSendAPIMsg(const uint8_t* pRequest, uint16_t uiLength, const char* pszName,
                         bool bAbort);
// Waits up to `uiTimeoutMs` for a reply of `uiType` that holds at least `uiMinLength` bytes;
// events meanwhile are dropped. Returns the malloc'ed reply (the caller frees it) and its
// length, or null: a time-out, a message of another type, or a reply too short for the fields
// its caller reads all count as no reply.
uint8_t* WGRpcUtilWaitAPIMsg(uint16_t uiType, uint32_t uiTimeoutMs, const char* pszName,
                             uint32_t uiMinLength, uint32_t* puiLength = nullptr);
// The next event waiting in the client pipe as a new message, or null at once when none waits.
WGEventMessage* WGRpcUtilGetEventMsg();
// Waits at most `uiMs` for a message to arrive in the client pipe (a plain sleep while not
// connected); true when one waits.
bool WGRpcUtilAwaitClientPipe(uint32_t uiMs);
// The server's maximum template size, or 0 on failure.
uint16_t GetMaxTemplateSize();

// Fills in the API message header of a request of `uiSize` bytes.
void WGRpcUtilFillHeader(uint8_t* pRequest, uint32_t uiSize, uint16_t uiType);
