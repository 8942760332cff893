// The one message of the four comm port calls (WG_API_GET_COMM_PORT 26, WG_API_READ_COMM_PORT
// 27, WG_API_WRITE_COMM_PORT 28, WG_API_RELEASE_COMM_PORT 29): 21 + L bytes, L being the
// caller's data length. Offsets from the start of the message, header included.
#pragma once

#include <cstdint>

#include "connect/api_messages.h"
#include "whorlgate/wg_comm.h"

inline constexpr uint32_t kCommMsgResult = 10;         // reply i16
inline constexpr uint32_t kCommMsgCount = 12;          // request: 0; read reply u16: N bytes read
inline constexpr uint32_t kCommMsgReadParameter = 14;  // request u32: the read's parameter, else 0
inline constexpr uint32_t kCommMsgLength = 18;         // request u16: L
inline constexpr uint32_t kCommMsgData = 20;           // request: L bytes; read reply: N bytes
// The fixed part and the one byte behind the data, which carries nothing.
inline constexpr uint32_t kCommMsgFixedSize = kCommMsgData + 1;
// The most data one request can carry within its 16-bit size.
inline constexpr uint32_t kCommMsgMaxData = kApiMaxRequestSize - kCommMsgFixedSize;
static_assert(kCommMsgMaxData == WG_COMM_PORT_MAX_DATA);
