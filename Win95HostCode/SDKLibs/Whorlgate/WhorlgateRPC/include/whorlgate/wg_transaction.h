/* Transactions: a finger operation started by a Begin call, followed by event messages (to a
   callback on the library's event thread, or fetched by polling) and collected by an End call. */
#ifndef WHORLGATE_WG_TRANSACTION_H
#define WHORLGATE_WG_TRANSACTION_H

#include <stdint.h>

#include "whorlgate/wg_basic.h"
#include "whorlgate/wg_export.h"
#include "whorlgate/wg_results.h"

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

#define WG_SERVER_MATCH_DETAILS_SIZE 8

#pragma pack(push, 1)

/* What the server says about a match besides its result; the layout is the server's. */
typedef struct WGServerMatchDetails {
  uint8_t aucDetails[WG_SERVER_MATCH_DETAILS_SIZE];
} WGServerMatchDetails;

#pragma pack(pop)

WG_STATIC_ASSERT(sizeof(WGServerMatchDetails) == WG_SERVER_MATCH_DETAILS_SIZE,
                 "server match details are 8 bytes");

/* Called on the library's event thread with the user value given at Begin and a message that
   the callback owns. It must return before the next event can be delivered. */
typedef void (*WGTransactionCallback)(uint32_t uiUserValue, WGEventMessage* pMessage);

/* Transaction ids are 1, 2, 3 ... within a process; a Begin call returns 0 when it fails, and
   WhorlgateGetResultDetails can say why. A null callback selects polled mode: the application
   then fetches the events with WGContinueTransaction. At most one transaction runs at a time.
   All pointers stay the caller's; the library reads or fills them only during the call. */

/* Starts an enrollment of pUser's finger (pUser and pOptions optional). *piTemplateSize
   (optional) receives the size of the template buffer that WGEndEnroll must be given. */
WG_API uint32_t WGBeginEnroll(WGTransactionCallback pCallback, uint32_t uiUserValue,
                              const WGCaptureOptions* pOptions, const WGUserRecord* pUser,
                              int16_t iFinger, int16_t* piTemplateSize);
/* Ends an enrollment: pTemplate (at least the size WGBeginEnroll reported) receives the sealed
   reference template record and *piTemplateSize its size; pUser (optional) the enrolled user.
   Without pTemplate or piTemplateSize it returns WG_BAD_POINTER and the transaction goes on. */
WG_API WGResult WGEndEnroll(uint32_t uiTransactionId, uint8_t* pTemplate, int16_t* piTemplateSize,
                            WGUserRecord* pUser);
/* Starts a check of a finger against the claimed user pUser (pOptions optional). */
WG_API uint32_t WGBeginValidateID(WGTransactionCallback pCallback, uint32_t uiUserValue,
                                  const WGUserRecord* pUser, const WGCaptureOptions* pOptions);
/* Ends a validation: WG_MATCH or WG_NO_MATCH. */
WG_API WGResult WGEndValidateID(uint32_t uiTransactionId);
/* As WGEndValidateID; pDetails (optional) receives the server's match details. pReserved is
   not read. */
WG_API WGResult WGEndValidateIDEx(uint32_t uiTransactionId, WGServerMatchDetails* pDetails,
                                  void* pReserved);
/* Starts a search of all enrolled users for a finger (pOptions optional). */
WG_API uint32_t WGBeginIdentify(WGTransactionCallback pCallback, uint32_t uiUserValue,
                                const WGCaptureOptions* pOptions);
/* Ends a search; on WG_MATCH pUser (optional) receives the user found, else it is left alone. */
WG_API WGResult WGEndIdentify(uint32_t uiTransactionId, WGUserRecord* pUser);
/* As WGEndIdentify; pDetails (optional) receives the server's match details. pReserved is not
   read. */
WG_API WGResult WGEndIdentifyEx(uint32_t uiTransactionId, WGUserRecord* pUser,
                                WGServerMatchDetails* pDetails, void* pReserved);
/* Starts a check of a finger against iNumRecords sealed reference template records (normal or
   small) of the caller, sent in array order; a record that fails its check, or a set too large
   for one message, refuses the call. pOptions optional. */
WG_API uint32_t WGBeginVerify(WGTransactionCallback pCallback, uint32_t uiUserValue,
                              const uint8_t* const* ppTemplateRecords, int16_t iNumRecords,
                              const WGCaptureOptions* pOptions);
/* Ends a verification; *piMatchValue (optional) receives the server's match value on WG_MATCH,
   else 0. */
WG_API WGResult WGEndVerify(uint32_t uiTransactionId, int16_t* piMatchValue);
/* As WGEndVerify; pDetails (optional) receives the server's match details. pReserved is not
   read. */
WG_API WGResult WGEndVerifyEx(uint32_t uiTransactionId, int16_t* piMatchValue,
                              WGServerMatchDetails* pDetails, void* pReserved);
/* Polled mode: the next event of the transaction, owned by the caller (WGReleaseMessage), or
   null when none waits (poll again later) or on a fault. WG_MSG_TIMEOUT ends the transaction. */
WG_API WGEventMessage* WGContinueTransaction(uint32_t uiTransactionId);
/* Frees a message and its data. */
WG_API void WGReleaseMessage(WGEventMessage* pMessage);
/* Ends the transaction uiTransactionId at the server and in the library; allowed at any time. */
WG_API void WGAbortTransaction(uint32_t uiTransactionId);

#endif
