// Payload offsets of the image stream messages (from the start of the message, header
// included). "Request" fields are the library's, "reply" fields the server's.
#pragma once

#include <cstdint>

#include "whorlgate/wg_image.h"

// WG_API_OPEN_STREAM (11), 20 bytes.
inline constexpr uint32_t kOpenStreamMsgSize = 20;
inline constexpr uint32_t kOpenStreamMsgContext = 10;  // request u32
inline constexpr uint32_t kOpenStreamMsgOption = 14;   // request u32
inline constexpr uint32_t kOpenStreamMsgResult = 18;   // reply i16

// WG_API_CLOSE_STREAM (12), 16 bytes.
inline constexpr uint32_t kCloseStreamMsgSize = 16;
inline constexpr uint32_t kCloseStreamMsgContext = 10;
inline constexpr uint32_t kCloseStreamMsgResult = 14;

// WG_API_GET_CURRENT_IMAGE (13): a 19-byte request; a reply with an image holds it whole.
inline constexpr uint32_t kCurrentImageMsgSize = 19;
inline constexpr uint32_t kCurrentImageMsgContext = 10;  // request u32
inline constexpr uint32_t kCurrentImageMsgNoImage = 14;  // reply u32: 0 when an image follows
inline constexpr uint32_t kCurrentImageMsgImage = 18;    // reply: the 128 x 128 raw image
inline constexpr uint32_t kCurrentImageReplySize = kCurrentImageMsgImage + WG_RAW_IMAGE_SIZE;

// WG_API_GET_IMAGE_STATE (17), 20 bytes.
inline constexpr uint32_t kImageStateMsgSize = 20;
inline constexpr uint32_t kImageStateMsgContext = 10;  // request u32
inline constexpr uint32_t kImageStateMsgRequest = 14;  // request i16: the record's first word
inline constexpr uint32_t kImageStateMsgState = 16;    // reply i16: the state word
inline constexpr uint32_t kImageStateMsgResult = 18;   // reply i16
