/* The basic calls: contexts, enrollment, verification and identification, the user store, LEDs
   and versions. Each call blocks until the server answers or its time-out passes (five
   minutes for the calls that wait for a finger, ten seconds for the others) and returns a
   result code; WG_FUNCTION_FAILED means WhorlgateGetResultDetails can say why. */
#ifndef WHORLGATE_WG_BASIC_H
#define WHORLGATE_WG_BASIC_H

#include <stddef.h>
#include <stdint.h>

#include "whorlgate/wg_export.h"
#include "whorlgate/wg_results.h"

#define WG_USER_RECORD_SIZE 100
#define WG_USER_ID_LENGTH 24
#define WG_DISPLAY_NAME_LENGTH 74
#define WG_USER_INFO_SIZE 119
#define WG_SERVICE_BLOCK_SIZE 160
#define WG_RESULT_DETAILS_TEXT_SIZE 256

typedef uint32_t WGContextHandle; /* made by the server; 0 means none */

#pragma pack(push, 1)

/* One user of the store, passed unchanged in both directions. */
typedef struct WGUserRecord {
  uint16_t uiRecordSize; /* applications set 100 */
  char szUserID[WG_USER_ID_LENGTH];
  char szDisplayName[WG_DISPLAY_NAME_LENGTH];
} WGUserRecord;

/* Handed to the server by every call that captures a finger; the server gives the fields
   their meaning. */
typedef struct WGCaptureOptions {
  uint16_t uiOption1;
  uint16_t uiOption2;
  uint32_t ulOption3;
} WGCaptureOptions;

/* The server's description of a user; its layout is the server's. */
typedef struct WGUserInfo {
  uint8_t aucInfo[WG_USER_INFO_SIZE];
} WGUserInfo;

/* All enrolled users: allocated by WhorlgateGetListOfAllUsers, freed by WhorlgateDeleteUserList. */
typedef struct WGUserList {
  uint32_t ulServerValue;
  uint32_t ulNumberOfUsers;
  WGUserRecord users[1]; /* ulNumberOfUsers records */
} WGUserList;

/* The service channel's block, carried to the server and back unchanged by the library. */
typedef struct WGServiceBlock {
  uint8_t aucBlock[WG_SERVICE_BLOCK_SIZE];
} WGServiceBlock;

#pragma pack(pop)

WG_STATIC_ASSERT(sizeof(WGUserRecord) == WG_USER_RECORD_SIZE, "user record is 100 bytes");
WG_STATIC_ASSERT(sizeof(WGCaptureOptions) == 8, "capture options are 8 bytes");
WG_STATIC_ASSERT(sizeof(WGUserInfo) == WG_USER_INFO_SIZE, "user info is 119 bytes");
WG_STATIC_ASSERT(offsetof(WGUserList, users) == 8, "user records follow two 32-bit fields");
WG_STATIC_ASSERT(sizeof(WGServiceBlock) == WG_SERVICE_BLOCK_SIZE, "service block is 160 bytes");

/* Enrolls a finger of pUser. Without a template buffer (or with size 0) only reports the
   template size needed in *piTemplateResultSize; otherwise fills the caller's buffer with a
   sealed reference template record and its size. */
WG_API WGResult WhorlgateEnroll(const WGUserRecord* pUser, int16_t iFinger, uint8_t* pTemplate,
                                int16_t iTemplateBufferSize, int16_t* piTemplateResultSize,
                                const WGCaptureOptions* pOptions);
/* Captures a finger and checks it against the claimed user: WG_MATCH or WG_NO_MATCH. */
WG_API WGResult WhorlgateValidateID(const WGUserRecord* pUser, const WGCaptureOptions* pOptions);
/* Captures a finger and searches all users; on WG_MATCH pUser holds the user found. */
WG_API WGResult WhorlgateIdentify(WGUserRecord* pUser, const WGCaptureOptions* pOptions);
/* Captures a finger and checks it against a sealed reference template record of the caller. */
WG_API WGResult WhorlgateValidateFingers(const uint8_t* pTemplateRecord,
                                         const WGCaptureOptions* pOptions);
WG_API WGResult WhorlgateDeleteUser(const WGUserRecord* pUser);
/* Opens a context; pAppData (optional) is a 16-bit length and that many bytes for the server.
   Returns the handle, 0 on failure. */
WG_API WGContextHandle WhorlgateInit(const uint8_t* pAppData);
WG_API WGResult WhorlgateClose(WGContextHandle hContext);
/* Explains the last failure: a pending client error first, else the server's details. The
   text buffer (optional) holds 256 bytes; flags (optional) receive the detail bits. */
WG_API WGResult WhorlgateGetResultDetails(char* pszText, uint32_t* pulFlags);
/* Carries a service block to the server and its answer back in the same block. */
WG_API WGResult WGServiceRequest(WGServiceBlock* pBlock);
/* pUser in: the previous user (empty user ID for the first); out: the next (empty at the end). */
WG_API WGResult WhorlgateGetNextUser(WGContextHandle hContext, WGUserRecord* pUser);
WG_API WGResult WhorlgateGetLeds(uint32_t* pulLedState);
WG_API WGResult WhorlgateSetLeds(uint32_t ulLedState);
/* Server texts (at least 10 and 78 bytes) and the library's version text (260 bytes), each
   optional; the library's needs no server. */
WG_API WGResult WhorlgateGetVersion(char* pszServerText1, char* pszServerText2,
                                    char* pszLibraryVersion);
WG_API WGResult WhorlgateGetNumberUsers(uint32_t* pulNumberOfUsers);
WG_API WGResult WhorlgateGetUserInfo(const WGUserRecord* pUser, WGUserInfo* pInfo);
WG_API WGResult WhorlgateDeleteFinger(const WGUserRecord* pUser, int16_t iFinger);
/* Gives pUser's user ID the display name in pUser. */
WG_API WGResult WhorlgateSetDisplayName(const WGUserRecord* pUser);
/* Allocates the list of all users into *ppList; free it with WhorlgateDeleteUserList. */
WG_API WGResult WhorlgateGetListOfAllUsers(WGUserList** ppList);
WG_API void WhorlgateDeleteUserList(WGUserList* pList);
WG_API WGResult WhorlgateDeleteAllEnrolledUsers(void);

#endif
