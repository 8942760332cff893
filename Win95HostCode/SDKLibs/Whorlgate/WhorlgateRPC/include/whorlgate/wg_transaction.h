/* Transactions: a finger operation started by a Begin call, followed by event messages (to a
   callback on the library's event thread, or fetched by polling) and collected by an End call. */
#ifndef WHORLGATE_WG_TRANSACTION_H
#define WHORLGATE_WG_TRANSACTION_H

#include <stdint.h>

#include "whorlgate/wg_export.h"

/* Event types: the uiMessageType of a WGEventMessage. The server sends 0 to 13; 14 is made by the
   library's event thread while a callback transaction waits for events. */
#define WG_MSG_IMAGE 0                  /* data: an image buffer (16401 bytes) */
#define WG_MSG_CLEAR_IMAGE 1
#define WG_MSG_STATUS 2                 /* sub-code: status code */
#define WG_MSG_CLEAR_STATUS 3
#define WG_MSG_PLAY_SOUND 4             /* data: NUL-terminated sound file name */
#define WG_MSG_PROMPT 5                 /* sub-code: prompt code */
#define WG_MSG_CLEAR_PROMPT 6
#define WG_MSG_ACQUIRE_COMPLETE 7       /* call WGEndAcquireImage */
#define WG_MSG_TRANSACTION_COMPLETE 8   /* 8 to 11: call the transaction's End call */
#define WG_MSG_TRANSACTION_COMPLETE_LAST 11
#define WG_API_END_OF_VIEW 12           /* sub-code 0 to 3; 0 to 2 carry a status text */
#define WG_MSG_TIMEOUT 13               /* the server gave up; the transaction is over */
#define WG_MSG_IDLE 14                  /* nothing happened for about 50 ms (callback mode) */

/* An event handed to the application, which owns it and returns it with WGReleaseMessage. */
typedef struct WGEventMessage {
  uint16_t uiMessageType;
  int16_t iSubCode;
  void* pData; /* copy of the event's data, owned by the message; null when there is none */
} WGEventMessage;

/* Called on the library's event thread with the user value given at Begin and a message that
   the callback owns. It must return before the next event can be delivered. */
typedef void (*WGTransactionCallback)(uint32_t uiUserValue, WGEventMessage* pMessage);

/* Frees a message and its data. */
WG_API void WGReleaseMessage(WGEventMessage* pMessage);
/* Ends the transaction uiTransactionId at the server and in the library; allowed at any time. */
WG_API void WGAbortTransaction(uint32_t uiTransactionId);

#endif
