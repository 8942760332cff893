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

// WGUserInfo, the 119 bytes WG_API_GET_USER_INFO returns behind kUserInfoMsgInfo (offsets from
// the start of the block, little-endian).
inline constexpr uint32_t kInfoSize = 0;           // u16: 119
inline constexpr uint32_t kInfoUserId = 2;         // 24 bytes, NUL-terminated
inline constexpr uint32_t kInfoDisplayName = 26;   // 74 bytes, NUL-terminated
inline constexpr uint32_t kInfoFingerCount = 100;  // u8: F, 0 to 10
inline constexpr uint32_t kInfoFingers = 101;      // 10 x u8: the finger numbers, ascending;
                                                   // 0xFF in the slots behind the first F
inline constexpr uint32_t kInfoFingerSlots = 10;
inline constexpr uint8_t kInfoNoFinger = 0xFF;
inline constexpr uint32_t kInfoCreated = 111;        // u32: when the user was added, seconds
                                                     // since 1970 UTC
inline constexpr uint32_t kInfoLastEnrolled = 115;   // u32: when a finger was last added
inline constexpr uint32_t kInfoLength = 119;

// WG_API_GET_LIST_OF_ALL_USERS: the 12 position bytes the client hands back unchanged. All
// zero in a client's first request; then the snapshot the server took for that client and the
// offset of the next piece in it.
inline constexpr uint32_t kListPositionSnapshot = 24;  // u32: not 0
inline constexpr uint32_t kListPositionOffset = 28;    // u32
inline constexpr uint32_t kListPositionSpare = 32;     // u32: 0
// The list's bytes travel in pieces of at most this many: long lists take several exchanges.
inline constexpr uint32_t kListPieceBytes = 8000;
// WGUserList's first 32-bit value: the size of each user record that follows.
inline constexpr uint32_t kListHeaderLength = 8;
