// Payload offsets of the basic calls' messages (from the start of the message, header
// included). "Request" fields are the library's, "reply" fields the server's.
#pragma once

#include <cstdint>

// WG_API_INIT (1), 20 + L bytes (21 without an application block).
inline constexpr uint32_t kInitMsgAlwaysOne = 10;  // request u32: 1
inline constexpr uint32_t kInitMsgContext = 14;    // reply u32: context handle
inline constexpr uint32_t kInitMsgAppLength = 18;  // request u16: L
inline constexpr uint32_t kInitMsgAppData = 20;    // request: L bytes

// WG_API_ENROLL (6), 127 bytes; the reply 126 + T.
inline constexpr uint32_t kEnrollMsgSize = 127;
inline constexpr uint32_t kEnrollMsgUser = 10;
inline constexpr uint32_t kEnrollMsgFinger = 110;      // request i16
inline constexpr uint32_t kEnrollMsgOptions = 112;
inline constexpr uint32_t kEnrollMsgResult = 120;      // reply i16
inline constexpr uint32_t kEnrollMsgBufferSize = 122;  // request i16
inline constexpr uint32_t kEnrollMsgTemplateSize = 124;// reply i16: T
inline constexpr uint32_t kEnrollMsgTemplate = 126;    // reply: T bytes

// WG_API_VALIDATE_ID (7), 120 bytes.
inline constexpr uint32_t kValidateIdMsgSize = 120;
inline constexpr uint32_t kValidateIdMsgUser = 10;
inline constexpr uint32_t kValidateIdMsgOptions = 110;
inline constexpr uint32_t kValidateIdMsgResult = 118;

// WG_API_VALIDATE_FINGERS (8), 20 + R bytes.
inline constexpr uint32_t kValidateFingersMsgOptions = 10;
inline constexpr uint32_t kValidateFingersMsgResult = 18;
inline constexpr uint32_t kValidateFingersMsgRecord = 20;

// WG_API_IDENTIFY (9), 120 bytes.
inline constexpr uint32_t kIdentifyMsgSize = 120;
inline constexpr uint32_t kIdentifyMsgOptions = 10;
inline constexpr uint32_t kIdentifyMsgUser = 18;    // reply
inline constexpr uint32_t kIdentifyMsgResult = 118;

// WG_API_CLOSE (10), 16 bytes.
inline constexpr uint32_t kCloseMsgSize = 16;
inline constexpr uint32_t kCloseMsgContext = 10;
inline constexpr uint32_t kCloseMsgResult = 14;

// WG_API_SERVICE_REQUEST (4), 172 bytes.
inline constexpr uint32_t kServiceMsgSize = 172;
inline constexpr uint32_t kServiceMsgBlock = 10;
inline constexpr uint32_t kServiceMsgResult = 170;

// WG_API_GET_RESULT_DETAILS (15), 272 bytes.
inline constexpr uint32_t kDetailsMsgSize = 272;
inline constexpr uint32_t kDetailsMsgFlags = 10;
inline constexpr uint32_t kDetailsMsgText = 14;   // 256 bytes
inline constexpr uint32_t kDetailsMsgResult = 270;

// WG_API_DELETE_USER (18) and WG_API_SET_DISPLAY_NAME (48), 112 bytes.
inline constexpr uint32_t kUserMsgSize = 112;
inline constexpr uint32_t kUserMsgUser = 10;
inline constexpr uint32_t kUserMsgResult = 110;

// WG_API_GET_NEXT_USER (19), 116 bytes.
inline constexpr uint32_t kNextUserMsgSize = 116;
inline constexpr uint32_t kNextUserMsgContext = 10;
inline constexpr uint32_t kNextUserMsgUser = 14;
inline constexpr uint32_t kNextUserMsgResult = 114;

// WG_API_GET_LEDS (20), WG_API_SET_LEDS (21), WG_API_GET_NUMBER_USERS (45), 16 bytes.
inline constexpr uint32_t kWordMsgSize = 16;
inline constexpr uint32_t kWordMsgValue = 10;  // u32
inline constexpr uint32_t kWordMsgResult = 14;

// WG_API_GET_VERSION (24), 100 bytes.
inline constexpr uint32_t kVersionMsgSize = 100;
inline constexpr uint32_t kVersionMsgText1 = 10;  // 10 bytes
inline constexpr uint32_t kVersionMsgText1Length = 10;
inline constexpr uint32_t kVersionMsgText2 = 20;  // 78 bytes
inline constexpr uint32_t kVersionMsgText2Length = 78;
inline constexpr uint32_t kVersionMsgResult = 98;

// WG_API_GET_USER_INFO (46), 231 bytes.
inline constexpr uint32_t kUserInfoMsgSize = 231;
inline constexpr uint32_t kUserInfoMsgUser = 10;
inline constexpr uint32_t kUserInfoMsgResult = 110;
inline constexpr uint32_t kUserInfoMsgInfo = 112;

// WG_API_DELETE_FINGER (47), 114 bytes.
inline constexpr uint32_t kDeleteFingerMsgSize = 114;
inline constexpr uint32_t kDeleteFingerMsgUser = 10;
inline constexpr uint32_t kDeleteFingerMsgFinger = 110;
inline constexpr uint32_t kDeleteFingerMsgResult = 112;

// WG_API_DELETE_ALL_ENROLLED_USERS (50), 12 bytes.
inline constexpr uint32_t kDeleteAllMsgSize = 12;
inline constexpr uint32_t kDeleteAllMsgResult = 10;

// WG_API_GET_LIST_OF_ALL_USERS (49), 37 bytes both ways; a reply adds its piece behind 36.
inline constexpr uint32_t kListMsgSize = 37;
inline constexpr uint32_t kListMsgResult = 10;
inline constexpr uint32_t kListMsgTotal = 12;      // u32: the whole list's size
inline constexpr uint32_t kListMsgPieceSize = 16;  // u32: n
inline constexpr uint32_t kListMsgMore = 20;       // u32: not 0 while pieces remain
inline constexpr uint32_t kListMsgPosition = 24;   // 12 bytes the client returns unchanged
inline constexpr uint32_t kListMsgPiece = 36;
