// Payload offsets of the image acquisition messages (from the start of the message, header
// included). "Request" fields are the library's, "reply" fields the server's.
#pragma once

#include <cstdint>

#include "whorlgate/wg_image.h"

// WG_API_BEGIN_ACQUIRE_IMAGE (33): the fixed part, then the template record or one unset byte.
inline constexpr uint32_t kBeginAcquireMsgOption = 10;     // request u16: passed on unchanged
inline constexpr uint32_t kBeginAcquireMsgResult = 12;     // reply i16: 0 when started
inline constexpr uint32_t kBeginAcquireMsgHasRecord = 14;  // request u32: 1 when a record follows
inline constexpr uint32_t kBeginAcquireMsgRecord = 18;     // request: the record as given
inline constexpr uint32_t kBeginAcquireMsgNoRecordSize = kBeginAcquireMsgRecord + 1;
inline constexpr uint32_t kBeginAcquireReplySize = kBeginAcquireMsgResult + 2;

// WG_API_END_ACQUIRE_IMAGE (34): a 13-byte request; the reply carries the image buffer.
inline constexpr uint32_t kEndAcquireMsgSize = 13;
inline constexpr uint32_t kEndAcquireMsgResult = 10;  // reply i16
inline constexpr uint32_t kEndAcquireMsgImage = 12;   // reply: the image buffer
inline constexpr uint32_t kEndAcquireReplySize = kEndAcquireMsgImage + WG_IMAGE_BUFFER_SIZE;
