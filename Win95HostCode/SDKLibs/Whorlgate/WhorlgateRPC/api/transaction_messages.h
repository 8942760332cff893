// Offsets of the transaction calls' messages (from the start of the message, header included).
// "Request" fields are the library's, "reply" fields the server's. Each Begin request tells
// the server with a 32-bit presence flag whether the capture options that follow mean anything.
#pragma once

#include <cstdint>

// WG_API_BEGIN_ENROLL (37), 132 bytes.
inline constexpr uint32_t kBeginEnrollMsgSize = 132;
inline constexpr uint32_t kBeginEnrollMsgHasOptions = 10;  // request u32: 1 or 0
inline constexpr uint32_t kBeginEnrollMsgOptions = 14;
inline constexpr uint32_t kBeginEnrollMsgHasUser = 22;  // request u32: 1 or 0
inline constexpr uint32_t kBeginEnrollMsgUser = 26;
inline constexpr uint32_t kBeginEnrollMsgFinger = 126;        // request i16; 0 without a user
inline constexpr uint32_t kBeginEnrollMsgTemplateSize = 128;  // reply i16: for WGEndEnroll
inline constexpr uint32_t kBeginEnrollMsgResult = 130;        // reply i16: 0 when started

// WG_API_BEGIN_VALIDATE_ID (39), 124 bytes.
inline constexpr uint32_t kBeginValidateIdMsgSize = 124;
inline constexpr uint32_t kBeginValidateIdMsgUser = 10;
inline constexpr uint32_t kBeginValidateIdMsgHasOptions = 110;
inline constexpr uint32_t kBeginValidateIdMsgOptions = 114;
inline constexpr uint32_t kBeginValidateIdMsgResult = 122;

// WG_API_BEGIN_IDENTIFY (41), 24 bytes.
inline constexpr uint32_t kBeginIdentifyMsgSize = 24;
inline constexpr uint32_t kBeginIdentifyMsgHasOptions = 10;
inline constexpr uint32_t kBeginIdentifyMsgOptions = 14;
inline constexpr uint32_t kBeginIdentifyMsgResult = 22;

// WG_API_BEGIN_VERIFY (43), 26 bytes and the records.
inline constexpr uint32_t kBeginVerifyMsgHasOptions = 10;
inline constexpr uint32_t kBeginVerifyMsgOptions = 14;
inline constexpr uint32_t kBeginVerifyMsgResult = 22;
inline constexpr uint32_t kBeginVerifyMsgCount = 24;     // request i16
inline constexpr uint32_t kBeginVerifyMsgRecords = 26;   // the sealed records, one after another
inline constexpr uint32_t kBeginVerifyReplyLength = 24;  // the reply need not carry the records

// WG_API_END_ENROLL (38), 115-byte request; the reply 114 + T.
inline constexpr uint32_t kEndEnrollMsgSize = 115;
inline constexpr uint32_t kEndEnrollMsgUser = 10;           // reply
inline constexpr uint32_t kEndEnrollMsgResult = 110;        // reply i16
inline constexpr uint32_t kEndEnrollMsgTemplateSize = 112;  // reply i16: T
inline constexpr uint32_t kEndEnrollMsgTemplate = 114;      // reply: T bytes

// WG_API_END_VALIDATE_ID (40), 20 bytes.
inline constexpr uint32_t kEndValidateIdMsgSize = 20;
inline constexpr uint32_t kEndValidateIdMsgResult = 10;
inline constexpr uint32_t kEndValidateIdMsgDetails = 12;

// WG_API_END_IDENTIFY (42), 120 bytes.
inline constexpr uint32_t kEndIdentifyMsgSize = 120;
inline constexpr uint32_t kEndIdentifyMsgResult = 10;
inline constexpr uint32_t kEndIdentifyMsgUser = 12;
inline constexpr uint32_t kEndIdentifyMsgDetails = 112;

// WG_API_END_VERIFY (44), 22 bytes.
inline constexpr uint32_t kEndVerifyMsgSize = 22;
inline constexpr uint32_t kEndVerifyMsgMatchValue = 10;  // reply i16
inline constexpr uint32_t kEndVerifyMsgResult = 12;
inline constexpr uint32_t kEndVerifyMsgDetails = 14;
