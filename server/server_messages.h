// The layouts of the messages WGServer writes, beside the request layouts the client library
// shares with it (connect/api_messages.h). Offsets are little-endian fields from the start of
// the message; a reply starts with the header of its request's type and the client's process ID.
#pragma once

#include <cstdint>

#include "connect/api_messages.h"

// WG_API_CONNECT reply: the header and a result code. The library looks only at the type; the
// result is there so that a reply of ours always says how the request went.
inline constexpr uint32_t kConnectReplyResult = 10;  // i16
inline constexpr uint32_t kConnectReplyLength = 12;

// WG_API_ABORT_TRANSACTION reply: the result at kAbortReplyResult.
inline constexpr uint32_t kAbortReplyLength = 12;

// The largest pipe number a client can have: client pipes are numbered with process IDs, which
// are positive 32-bit numbers. Zero is the server's own pipe and the negative numbers belong to
// the trace facility, so a request naming one of those is never answered.
inline constexpr uint32_t kMaxClientProcessId = 0x7FFFFFFF;
