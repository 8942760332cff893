// The API messages exchanged with WGServer: the header every message starts with, and the
// message types. A reply carries the type of the request it answers; events (type 36) come
// unasked while a transaction runs.
#pragma once

#include <cstdint>

// API message header (little-endian, packed).
inline constexpr uint32_t kApiMsgSize = 0;       // u32: total size, header included
inline constexpr uint32_t kApiMsgProcessId = 4;  // u32: the client the message belongs to
inline constexpr uint32_t kApiMsgType = 8;       // u16: WG_API_...
inline constexpr uint32_t kApiMsgHeaderSize = 10;

// A request travels with a 16-bit length.
inline constexpr uint32_t kApiMaxRequestSize = 65535;

enum WGApiMessageType : uint16_t {
  WG_API_INIT = 1,
  WG_API_CONNECT = 2,
  WG_API_DISCONNECT = 3,
  WG_API_SERVICE_REQUEST = 4,
  WG_API_GETTEMPLATESIZE = 5,
  WG_API_ENROLL = 6,
  WG_API_VALIDATE_ID = 7,
  WG_API_VALIDATE_FINGERS = 8,
  WG_API_IDENTIFY = 9,
  WG_API_CLOSE = 10,
  WG_API_OPEN_STREAM = 11,
  WG_API_CLOSE_STREAM = 12,
  WG_API_GET_CURRENT_IMAGE = 13,
  WG_API_GET_RESULT_DETAILS = 15,
  WG_API_GET_IMAGE_STATE = 17,
  WG_API_DELETE_USER = 18,
  WG_API_GET_NEXT_USER = 19,
  WG_API_GET_LEDS = 20,
  WG_API_SET_LEDS = 21,
  WG_API_GET_VERSION = 24,
  WG_API_GET_COMM_PORT = 26,
  WG_API_READ_COMM_PORT = 27,
  WG_API_WRITE_COMM_PORT = 28,
  WG_API_RELEASE_COMM_PORT = 29,
  WG_API_BEGIN_ACQUIRE_IMAGE = 33,
  WG_API_END_ACQUIRE_IMAGE = 34,
  WG_API_ABORT_TRANSACTION = 35,
  WG_API_EVENT = 36,
  WG_API_BEGIN_ENROLL = 37,
  WG_API_END_ENROLL = 38,
  WG_API_BEGIN_VALIDATE_ID = 39,
  WG_API_END_VALIDATE_ID = 40,
  WG_API_BEGIN_IDENTIFY = 41,
  WG_API_END_IDENTIFY = 42,
  WG_API_BEGIN_VERIFY = 43,
  WG_API_END_VERIFY = 44,
  WG_API_GET_NUMBER_USERS = 45,
  WG_API_GET_USER_INFO = 46,
  WG_API_DELETE_FINGER = 47,
  WG_API_SET_DISPLAY_NAME = 48,
  WG_API_GET_LIST_OF_ALL_USERS = 49,
  WG_API_DELETE_ALL_ENROLLED_USERS = 50,
};

// Connect request (client to server): the header, 2 bytes without content, the client pipe's
// number (the client's process ID). Any message of type 2 in the client pipe is the reply.
inline constexpr uint32_t kConnectMsgPipeNumber = 12;  // i32
inline constexpr uint32_t kConnectMsgSize = 16;
// Disconnect request: the bare header, no reply.
inline constexpr uint32_t kDisconnectMsgSize = 10;

// WG_API_EVENT (server to client).
inline constexpr uint32_t kEventMsgEventType = 10;   // u16: the uiMessageType for the application
inline constexpr uint32_t kEventMsgSubCode = 12;     // i16
inline constexpr uint32_t kEventMsgDataLength = 14;  // u16
inline constexpr uint32_t kEventMsgData = 16;

// WG_API_GETTEMPLATESIZE: 14-byte request; the reply carries the size and a result code.
inline constexpr uint32_t kTemplateSizeMsgSize = 14;
inline constexpr uint32_t kTemplateSizeReplySize = 10;   // u16
inline constexpr uint32_t kTemplateSizeReplyResult = 12; // i16
inline constexpr uint32_t kTemplateSizeReplyLength = 14;

// WG_API_ABORT_TRANSACTION: 12 bytes; the reply's result code at offset 10.
inline constexpr uint32_t kAbortMsgSize = 12;
inline constexpr uint32_t kAbortReplyResult = 10;  // i16

// Server objects the client meets.
inline constexpr const char* kServerWindowClass = "WhorlgateWndClass";
inline constexpr const char* kServerWaitingSignal = "WhorlgateServerWaitingSignal";
inline constexpr const char* kServerRunningSignal = "WhorlgateServerRunningSignal";
