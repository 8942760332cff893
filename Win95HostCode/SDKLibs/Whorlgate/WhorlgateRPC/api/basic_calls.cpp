// The basic calls: one request, one reply, each in the common call shape.
#include <cstdlib>
#include <cstring>

#include "api/api_call.h"
#include "api/basic_messages.h"
#include "connect/api_exchange.h"
#include "connect/client_error.h"
#include "connect/connection.h"
#include "local/template_record.h"
#include "shared/registry.h"
#include "shared/trace.h"
#include "whorlgate/wg_basic.h"

namespace {

constexpr ApiCallSpec kEnroll{"WhorlgateEnroll", WG_API_ENROLL, kApiCaptureTimeoutMs, true};
constexpr ApiCallSpec kValidateId{"WhorlgateValidateID", WG_API_VALIDATE_ID, kApiCaptureTimeoutMs, true};
constexpr ApiCallSpec kIdentify{"WhorlgateIdentify", WG_API_IDENTIFY, kApiCaptureTimeoutMs, true};
constexpr ApiCallSpec kValidateFingers{"WhorlgateValidateFingers", WG_API_VALIDATE_FINGERS, kApiCaptureTimeoutMs, true};
constexpr ApiCallSpec kDeleteUser{"WhorlgateDeleteUser", WG_API_DELETE_USER, kApiTimeoutMs, false};
constexpr ApiCallSpec kInit{"WhorlgateInit", WG_API_INIT, kApiTimeoutMs, false};
constexpr ApiCallSpec kClose{"WhorlgateClose", WG_API_CLOSE, kApiTimeoutMs, false};
constexpr ApiCallSpec kResultDetails{"WhorlgateGetResultDetails", WG_API_GET_RESULT_DETAILS, kApiTimeoutMs, false};
constexpr ApiCallSpec kServiceRequest{"WGServiceRequest", WG_API_SERVICE_REQUEST, kApiTimeoutMs, false};
constexpr ApiCallSpec kNextUser{"WhorlgateGetNextUser", WG_API_GET_NEXT_USER, kApiTimeoutMs, false};
constexpr ApiCallSpec kGetLeds{"WhorlgateGetLeds", WG_API_GET_LEDS, kApiTimeoutMs, false};
constexpr ApiCallSpec kSetLeds{"WhorlgateSetLeds", WG_API_SET_LEDS, kApiTimeoutMs, false};
constexpr ApiCallSpec kVersion{"WhorlgateGetVersion", WG_API_GET_VERSION, kApiTimeoutMs, false};
constexpr ApiCallSpec kNumberUsers{"WhorlgateGetNumberUsers", WG_API_GET_NUMBER_USERS, kApiTimeoutMs, false};
constexpr ApiCallSpec kUserInfo{"WhorlgateGetUserInfo", WG_API_GET_USER_INFO, kApiTimeoutMs, false};
constexpr ApiCallSpec kDeleteFinger{"WhorlgateDeleteFinger", WG_API_DELETE_FINGER, kApiTimeoutMs, false};
constexpr ApiCallSpec kSetDisplayName{"WhorlgateSetDisplayName", WG_API_SET_DISPLAY_NAME, kApiTimeoutMs, false};
constexpr ApiCallSpec kListAllUsers{"WhorlgateGetListOfAllUsers", WG_API_GET_LIST_OF_ALL_USERS, kApiTimeoutMs, false};
constexpr ApiCallSpec kDeleteAll{"WhorlgateDeleteAllEnrolledUsers", WG_API_DELETE_ALL_ENROLLED_USERS, kApiTimeoutMs, false};

constexpr const char* kBadInputPointer = "bad input pointer (NULL)";

// Without options the server gets two zero 16-bit fields; the last four bytes carry nothing.
void PutOptions(ApiRequest& request, uint32_t offset, const WGCaptureOptions* options) {
  if (options) request.setBytes(offset, options, sizeof *options);
}

void PutUser(ApiRequest& request, uint32_t offset, const WGUserRecord* user) {
  request.setBytes(offset, user, sizeof *user);
}

// The calls whose request is a user record and whose reply is only a result code.
WGResult UserRecordCall(const ApiCallSpec& spec, const WGUserRecord* user) {
  ApiEnter(spec);
  if (!user) return ApiBadArgument(spec, kBadInputPointer);
  ApiRequest request(spec, kUserMsgSize);
  PutUser(request, kUserMsgUser, user);
  ApiReply reply;
  if (!ApiExchange(spec, request, kUserMsgSize, &reply)) return WG_FUNCTION_FAILED;
  return ApiFinish(spec, reply.i16(kUserMsgResult));
}

// The calls whose message is one 32-bit word and a result code.
WGResult WordCall(const ApiCallSpec& spec, uint32_t in, uint32_t* out) {
  ApiRequest request(spec, kWordMsgSize);
  request.setU32(kWordMsgValue, in);
  ApiReply reply;
  if (!ApiExchange(spec, request, kWordMsgSize, &reply)) return WG_FUNCTION_FAILED;
  if (out) *out = reply.u32(kWordMsgValue);
  return ApiFinish(spec, reply.i16(kWordMsgResult));
}

void CopyText(char* out, const uint8_t* field, size_t fieldLength) {
  memcpy(out, field, fieldLength);
  out[fieldLength - 1] = '\0';
}

}  // namespace

WG_API WGResult WhorlgateEnroll(const WGUserRecord* pUser, int16_t iFinger, uint8_t* pTemplate,
                                int16_t iTemplateBufferSize, int16_t* piTemplateResultSize,
                                const WGCaptureOptions* pOptions) {
  const ApiCallSpec& spec = kEnroll;
  ApiEnter(spec);
  if (!pTemplate || iTemplateBufferSize == 0) {
    if (!piTemplateResultSize) return ApiBadArgument(spec, "bad piTemplateResultSize pointer (NULL)");
    *piTemplateResultSize = static_cast<int16_t>(GetMaxTemplateSize());
    ApiStep(spec, "returning WG_OK (template size call)", TRACE_TYPE_API_RESULT);
    ApiExit(spec);
    return WG_OK;
  }
  if (!pUser || !piTemplateResultSize || iTemplateBufferSize < 0) return ApiBadArgument(spec, "bad pointer (NULL)");
  ApiRequest request(spec, kEnrollMsgSize);
  PutUser(request, kEnrollMsgUser, pUser);
  request.setI16(kEnrollMsgFinger, iFinger);
  PutOptions(request, kEnrollMsgOptions, pOptions);
  request.setI16(kEnrollMsgBufferSize, iTemplateBufferSize);
  ApiReply reply;
  if (!ApiExchange(spec, request, kEnrollMsgTemplate, &reply)) return WG_FUNCTION_FAILED;
  int16_t size = reply.i16(kEnrollMsgTemplateSize);
  // The template must fit the caller's buffer and lie inside the reply, whatever the server says.
  if (size < 0 || size > iTemplateBufferSize || kEnrollMsgTemplate + static_cast<uint32_t>(size) > reply.size()) {
    ApiStep(spec, "ERROR template larger than the buffer", TRACE_TYPE_CRITICAL);
    ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR, "The server returned a template larger than the template buffer.");
    return ApiFinish(spec, WG_FUNCTION_FAILED);
  }
  *piTemplateResultSize = size;
  if (size > 0) {
    ApiStep(spec, "Moving template data block to message");
    memcpy(pTemplate, reply.data() + kEnrollMsgTemplate, static_cast<size_t>(size));
  }
  return ApiFinish(spec, reply.i16(kEnrollMsgResult));
}

WG_API WGResult WhorlgateValidateID(const WGUserRecord* pUser, const WGCaptureOptions* pOptions) {
  const ApiCallSpec& spec = kValidateId;
  ApiEnter(spec);
  if (!pUser) return ApiBadArgument(spec, "NULL user ID");
  ApiRequest request(spec, kValidateIdMsgSize);
  PutUser(request, kValidateIdMsgUser, pUser);
  PutOptions(request, kValidateIdMsgOptions, pOptions);
  ApiReply reply;
  if (!ApiExchange(spec, request, kValidateIdMsgSize, &reply)) return WG_FUNCTION_FAILED;
  return ApiFinish(spec, reply.i16(kValidateIdMsgResult));
}

WG_API WGResult WhorlgateIdentify(WGUserRecord* pUser, const WGCaptureOptions* pOptions) {
  const ApiCallSpec& spec = kIdentify;
  ApiEnter(spec);
  if (!pUser) return ApiBadArgument(spec, "user id is NULL");
  ApiRequest request(spec, kIdentifyMsgSize);
  PutOptions(request, kIdentifyMsgOptions, pOptions);
  ApiReply reply;
  if (!ApiExchange(spec, request, kIdentifyMsgSize, &reply)) return WG_FUNCTION_FAILED;
  // Copied whatever the result; the caller reads it on WG_MATCH.
  memcpy(pUser, reply.data() + kIdentifyMsgUser, sizeof *pUser);
  EndUserTexts(pUser);
  return ApiFinish(spec, reply.i16(kIdentifyMsgResult));
}

WG_API WGResult WhorlgateValidateFingers(const uint8_t* pTemplateRecord,
                                         const WGCaptureOptions* pOptions) {
  const ApiCallSpec& spec = kValidateFingers;
  ApiEnter(spec);
  if (!pTemplateRecord) return ApiBadArgument(spec, "bad template data pointer (NULL)");
  uint16_t length = 0;
  if (!WGCheckIOTemplateRec(pTemplateRecord, nullptr, &length)) {
    ApiStep(spec, "Input Template Corrupted.", TRACE_TYPE_API_RESULT);
    ApiStep(spec, "returning WG_FUNCTION_FAILED", TRACE_TYPE_API_RESULT);
    ApiExit(spec);
    return WG_FUNCTION_FAILED;
  }
  ApiRequest request(spec, kValidateFingersMsgRecord + length);
  PutOptions(request, kValidateFingersMsgOptions, pOptions);
  request.setBytes(kValidateFingersMsgRecord, pTemplateRecord, length);
  ApiReply reply;
  if (!ApiExchange(spec, request, kValidateFingersMsgRecord, &reply)) return WG_FUNCTION_FAILED;
  return ApiFinish(spec, reply.i16(kValidateFingersMsgResult));
}

WG_API WGResult WhorlgateDeleteUser(const WGUserRecord* pUser) {
  return UserRecordCall(kDeleteUser, pUser);
}

WG_API WGResult WhorlgateSetDisplayName(const WGUserRecord* pUser) {
  return UserRecordCall(kSetDisplayName, pUser);
}

WG_API WGContextHandle WhorlgateInit(const uint8_t* pAppData) {
  const ApiCallSpec& spec = kInit;
  ApiEnter(spec);
  uint16_t appLength = pAppData ? LoadU16(pAppData) : 0;
  uint32_t size = kInitMsgAppData + (pAppData ? appLength : 1u);
  ApiRequest request(spec, size);
  request.setU32(kInitMsgAlwaysOne, 1);
  request.setU16(kInitMsgAppLength, appLength);
  if (pAppData) request.setBytes(kInitMsgAppData, pAppData + 2, appLength);
  ApiReply reply;
  if (!ApiExchange(spec, request, kInitMsgAppLength, &reply, "returning NULL")) return 0;
  WGContextHandle context = reply.u32(kInitMsgContext);
  TraceValue(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT, "WhorlgateInit: result = ", static_cast<int32_t>(context));
  ApiExit(spec);
  return context;
}

WG_API WGResult WhorlgateClose(WGContextHandle hContext) {
  const ApiCallSpec& spec = kClose;
  ApiEnter(spec);
  if (hContext == 0) return ApiBadArgument(spec, "context handle is NULL");
  ApiRequest request(spec, kCloseMsgSize);
  request.setU32(kCloseMsgContext, hContext);
  ApiReply reply;
  if (!ApiExchange(spec, request, kCloseMsgSize, &reply)) return WG_FUNCTION_FAILED;
  return ApiFinish(spec, reply.i16(kCloseMsgResult));
}

WG_API WGResult WhorlgateGetResultDetails(char* pszText, uint32_t* pulFlags) {
  const ApiCallSpec& spec = kResultDetails;
  ApiEnter(spec);
  ApiRequest request(spec, kDetailsMsgSize);
  ApiReply reply;
  if (!ApiExchange(spec, request, kDetailsMsgSize, &reply)) {
    if (pszText) strcpy(pszText, ClientErrorFixedText(WGERR_SERVER_NOT_RESPONDING));
    return GetClientErrorCode();
  }
  int16_t result = reply.i16(kDetailsMsgResult);
  uint32_t flags = reply.u32(kDetailsMsgFlags);
  char text[WG_RESULT_DETAILS_TEXT_SIZE];
  CopyText(text, reply.data() + kDetailsMsgText, sizeof text);
  // A client-side fault explains the last failure better than the server can.
  if (GetClientErrorCode() != 0) result = TakeClientError(text, &flags);
  if (pszText) memcpy(pszText, text, sizeof text);
  if (pulFlags) *pulFlags = flags;
  return ApiFinish(spec, result);
}

WG_API WGResult WGServiceRequest(WGServiceBlock* pBlock) {
  const ApiCallSpec& spec = kServiceRequest;
  ApiEnter(spec);
  if (!pBlock) {
    ApiExit(spec, ": null service request msg");
    ReportClientError(WGERR_PARAMETER_INVALID, nullptr);
    return WG_FUNCTION_FAILED;
  }
  ApiRequest request(spec, kServiceMsgSize);
  request.setBytes(kServiceMsgBlock, pBlock, sizeof *pBlock);
  ApiReply reply;
  if (!ApiExchange(spec, request, kServiceMsgSize, &reply)) return WG_FUNCTION_FAILED;
  memcpy(pBlock, reply.data() + kServiceMsgBlock, sizeof *pBlock);
  return ApiFinish(spec, reply.i16(kServiceMsgResult));
}

WG_API WGResult WhorlgateGetNextUser(WGContextHandle hContext, WGUserRecord* pUser) {
  const ApiCallSpec& spec = kNextUser;
  ApiEnter(spec);
  if (hContext == 0 || !pUser) return ApiBadArgument(spec, kBadInputPointer);
  ApiRequest request(spec, kNextUserMsgSize);
  request.setU32(kNextUserMsgContext, hContext);
  PutUser(request, kNextUserMsgUser, pUser);
  ApiReply reply;
  if (!ApiExchange(spec, request, kNextUserMsgSize, &reply)) {
    // An enumeration loop ends on an empty user ID, also when the server is gone.
    pUser->szUserID[0] = '\0';
    pUser->szDisplayName[0] = '\0';
    return WG_FUNCTION_FAILED;
  }
  memcpy(pUser, reply.data() + kNextUserMsgUser, sizeof *pUser);
  EndUserTexts(pUser);
  return ApiFinish(spec, reply.i16(kNextUserMsgResult));
}

WG_API WGResult WhorlgateGetLeds(uint32_t* pulLedState) {
  ApiEnter(kGetLeds);
  if (!pulLedState) return ApiBadArgument(kGetLeds, kBadInputPointer);
  return WordCall(kGetLeds, 0, pulLedState);
}

WG_API WGResult WhorlgateSetLeds(uint32_t ulLedState) {
  ApiEnter(kSetLeds);
  return WordCall(kSetLeds, ulLedState, nullptr);
}

WG_API WGResult WhorlgateGetNumberUsers(uint32_t* pulNumberOfUsers) {
  ApiEnter(kNumberUsers);
  if (!pulNumberOfUsers) return ApiBadArgument(kNumberUsers, kBadInputPointer);
  *pulNumberOfUsers = 0;  // stays 0 when no reply comes
  return WordCall(kNumberUsers, 0, pulNumberOfUsers);
}

WG_API WGResult WhorlgateGetVersion(char* pszServerText1, char* pszServerText2,
                                    char* pszLibraryVersion) {
  const ApiCallSpec& spec = kVersion;
  ApiEnter(spec);
  // The library's own version needs no server.
  if (pszLibraryVersion) GetModuleVersionText(LibraryModule(), pszLibraryVersion);
  ApiRequest request(spec, kVersionMsgSize);
  ApiReply reply;
  if (!ApiExchange(spec, request, kVersionMsgSize, &reply)) return WG_FUNCTION_FAILED;
  if (pszServerText1) CopyText(pszServerText1, reply.data() + kVersionMsgText1, kVersionMsgText1Length);
  if (pszServerText2) CopyText(pszServerText2, reply.data() + kVersionMsgText2, kVersionMsgText2Length);
  return ApiFinish(spec, reply.i16(kVersionMsgResult));
}

WG_API WGResult WhorlgateGetUserInfo(const WGUserRecord* pUser, WGUserInfo* pInfo) {
  const ApiCallSpec& spec = kUserInfo;
  ApiEnter(spec);
  if (!pUser || !pInfo) return ApiBadArgument(spec, kBadInputPointer);
  ApiRequest request(spec, kUserInfoMsgSize);
  PutUser(request, kUserInfoMsgUser, pUser);
  ApiReply reply;
  if (!ApiExchange(spec, request, kUserInfoMsgSize, &reply)) return WG_FUNCTION_FAILED;
  memcpy(pInfo, reply.data() + kUserInfoMsgInfo, sizeof *pInfo);
  return ApiFinish(spec, reply.i16(kUserInfoMsgResult));
}

WG_API WGResult WhorlgateDeleteFinger(const WGUserRecord* pUser, int16_t iFinger) {
  const ApiCallSpec& spec = kDeleteFinger;
  ApiEnter(spec);
  if (!pUser) return ApiBadArgument(spec, kBadInputPointer);
  ApiRequest request(spec, kDeleteFingerMsgSize);
  PutUser(request, kDeleteFingerMsgUser, pUser);
  request.setI16(kDeleteFingerMsgFinger, iFinger);
  ApiReply reply;
  if (!ApiExchange(spec, request, kDeleteFingerMsgSize, &reply)) return WG_FUNCTION_FAILED;
  return ApiFinish(spec, reply.i16(kDeleteFingerMsgResult));
}

WG_API WGResult WhorlgateGetListOfAllUsers(WGUserList** ppList) {
  const ApiCallSpec& spec = kListAllUsers;
  ApiEnter(spec);
  if (!ppList) return ApiBadArgument(spec, kBadInputPointer);
  *ppList = nullptr;
  ApiRequest request(spec, kListMsgSize);
  uint8_t* list = nullptr;
  uint32_t total = 0;
  uint32_t gathered = 0;
  for (;;) {
    ApiReply reply;
    if (!ApiExchange(spec, request, kListMsgPiece, &reply)) {
      free(list);
      return WG_FUNCTION_FAILED;
    }
    int16_t result = reply.i16(kListMsgResult);
    uint32_t piece = reply.u32(kListMsgPieceSize);
    if (result != WG_OK) {
      free(list);
      return ApiFinish(spec, WG_FUNCTION_FAILED);
    }
    // The next request hands the server's own fields back to it.
    request.setBytes(kApiMsgHeaderSize, reply.data() + kApiMsgHeaderSize, kListMsgSize - kApiMsgHeaderSize);
    if (!list) total = reply.u32(kListMsgTotal);
    // Pieces must lie inside their reply and add up to no more than the announced total.
    if (kListMsgPiece + static_cast<uint64_t>(piece) > reply.size() ||
        static_cast<uint64_t>(gathered) + piece > total) {
      free(list);
      ApiStep(spec, "ERROR list pieces exceed the list size", TRACE_TYPE_CRITICAL);
      ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR, "The server's user list does not fit its announced size.");
      return ApiFinish(spec, WG_FUNCTION_FAILED);
    }
    // Memory is taken for the pieces that came, not for whatever total the first one announced.
    auto* grown = static_cast<uint8_t*>(realloc(list, gathered + piece ? gathered + piece : 1));
    if (!grown) {
      free(list);
      ReportClientError(WGERR_NOT_ENOUGH_MEMORY, nullptr);
      return ApiFinish(spec, WG_FUNCTION_FAILED);
    }
    list = grown;
    if (piece) memcpy(list + gathered, reply.data() + kListMsgPiece, piece);
    gathered += piece;
    if (reply.u32(kListMsgMore) == 0) {
      // Applications step through as many records as the list says it holds: they must all be
      // there.
      auto* users = reinterpret_cast<WGUserList*>(list);
      constexpr uint64_t kRecordsAt = offsetof(WGUserList, users);
      if (gathered < kRecordsAt ||
          kRecordsAt + uint64_t{users->ulNumberOfUsers} * sizeof(WGUserRecord) > gathered) {
        free(list);
        ApiStep(spec, "ERROR list shorter than its number of users", TRACE_TYPE_CRITICAL);
        ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR,
                          "The server's user list holds fewer users than it says.");
        return ApiFinish(spec, WG_FUNCTION_FAILED);
      }
      for (uint32_t i = 0; i < users->ulNumberOfUsers; ++i) EndUserTexts(&users->users[i]);
      *ppList = users;
      return ApiFinish(spec, result);
    }
  }
}

WG_API void WhorlgateDeleteUserList(WGUserList* pList) { free(pList); }

WG_API WGResult WhorlgateDeleteAllEnrolledUsers() {
  const ApiCallSpec& spec = kDeleteAll;
  ApiEnter(spec);
  ApiRequest request(spec, kDeleteAllMsgSize);
  ApiReply reply;
  if (!ApiExchange(spec, request, kDeleteAllMsgSize, &reply)) return WG_FUNCTION_FAILED;
  return ApiFinish(spec, reply.i16(kDeleteAllMsgResult));
}
