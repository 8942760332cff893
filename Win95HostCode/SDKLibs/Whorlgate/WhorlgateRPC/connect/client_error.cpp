#include "connect/client_error.h"

#include <cstring>

#include "whorlgate/wg_results.h"

namespace {

struct ClientErrorKind {
  int16_t code;
  uint32_t flags;
  const char* text;
};

constexpr ClientErrorKind kClientErrors[] = {
    {WGERR_NOT_ENOUGH_MEMORY, 0x81,
     "WGERR_NOT_ENOUGH_MEMORY: Not enough memory. Close programs, free disk space and restart "
     "computer. Whorlgate Server terminating."},
    {WGERR_SERVER_NOT_RESPONDING, 0x81,
     "WGERR_SERVER_NOT_RESPONDING: Whorlgate server server is not available and can not be "
     "restarted."},
    {WGERR_PARAMETER_INVALID, 0x02,
     "WGERR_PARAMETER_INVALID: An invalid parameter has been passed into a Whorlgate function."},
    {WGERR_FATAL_CLIENT_FAULT, 0x81,
     "WGERR_FATAL_CLIENT_FAULT: A fatal fault has occured in the client."},
    {WGERR_CLIENT_SERVER_COMM_ERROR, 0x01,
     "WGERR_CLIENT_SERVER_COMM_ERROR: A fatal fault has occured in the client -to- server "
     "communicatons."},
    // The image calls refuse a request with this code and a text of their own (an image not
    // yet released, a server that cannot start the acquisition); kept so that the application
    // learns why.
    {WGERR_IMAGE_REQUEST_REFUSED, 0x02,
     "WGERR_IMAGE_REQUEST_REFUSED: The image request can not be carried out now."},
    {WGERR_CLIENT_PREV_TRNSACTN_IN_PROG, 0x02,
     "WGERR_CLIENT_PREV_TRNSACTN_IN_PROG: A previous transaction is already in progress."},
    {WGERR_CLIENT_NO_CURRENT_TRNSACTN, 0x02,
     "WGERR_CLIENT_NO_CURRENT_TRNSACTN: There is not current transaction in progress."},
};

const ClientErrorKind* FindKind(int16_t code) {
  for (const auto& kind : kClientErrors) {
    if (kind.code == code) return &kind;
  }
  return nullptr;
}

// One per process, cleared at library load. No lock: the API is called from one thread at a
// time, and the event thread reports nothing while a call runs.
struct ClientErrorRecord {
  int16_t code;
  char text[kClientErrorTextLength];
  uint32_t flags;
} g_ClientError;

}  // namespace

bool ReportClientError(int16_t iCode, const char* pszText) {
  if (g_ClientError.code != 0 && iCode != 0) return false;
  uint32_t flags = g_ClientError.flags & WGERR_FLAG_STICKY_MASK;
  const char* text = "";
  if (iCode != 0) {
    const ClientErrorKind* kind = FindKind(iCode);
    if (!kind) return false;
    flags |= kind->flags;
    text = pszText ? pszText : kind->text;
  }
  g_ClientError.code = iCode;
  g_ClientError.flags = flags;
  strncpy(g_ClientError.text, text, kClientErrorTextLength - 1);
  g_ClientError.text[kClientErrorTextLength - 1] = '\0';
  return true;
}

int16_t TakeClientError(char* pszText, uint32_t* puiFlags) {
  if (pszText) memcpy(pszText, g_ClientError.text, kClientErrorTextLength);
  if (puiFlags) *puiFlags = g_ClientError.flags;
  g_ClientError.flags &= WGERR_FLAG_STICKY_MASK;
  int16_t code = g_ClientError.code;
  ReportClientError(0, nullptr);
  return code;
}

int16_t GetClientErrorCode() { return g_ClientError.code; }

const char* ClientErrorFixedText(int16_t iCode) {
  const ClientErrorKind* kind = FindKind(iCode);
  return kind ? kind->text : nullptr;
}
