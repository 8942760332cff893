// The one shape of every server-backed call: trace the entry, check the arguments, build the
// request, send it, wait for the reply of the same type, copy out, trace the result and the
// exit. A call supplies its name, message type, time-out, abort flag, sizes and fields; this
// file does the rest, with the trace texts and client errors every call shares.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "connect/api_messages.h"
#include "shared/little_endian.h"
#include "whorlgate/wg_basic.h"

inline constexpr uint32_t kApiTimeoutMs = 10000;
// The calls that wait for a finger on the sensor.
inline constexpr uint32_t kApiCaptureTimeoutMs = 300000;

struct ApiCallSpec {
  const char* pszName;   // the exported name, in every trace text of the call
  uint16_t uiType;       // request and reply type
  uint32_t uiTimeoutMs;  // how long the reply may take
  bool bAbort;           // a running transaction is aborted before the request goes out
};

// A request of a given size with its header filled in; fields are set at their offsets.
class ApiRequest {
 public:
  ApiRequest(const ApiCallSpec& spec, uint32_t size);
  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }
  uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }
  void setU16(uint32_t offset, uint16_t v) { StoreU16(data() + offset, v); }
  void setI16(uint32_t offset, int16_t v) { StoreI16(data() + offset, v); }
  void setU32(uint32_t offset, uint32_t v) { StoreU32(data() + offset, v); }
  void setBytes(uint32_t offset, const void* p, uint32_t n);

 private:
  std::vector<uint8_t> bytes_;
};

// A reply, owned; at least as long as its call asked for.
class ApiReply {
 public:
  ApiReply() = default;
  ApiReply(const ApiReply&) = delete;
  ApiReply& operator=(const ApiReply&) = delete;
  ~ApiReply() { free(data_); }
  const uint8_t* data() const { return data_; }
  // For calls that work on the reply in place before copying it out.
  uint8_t* data() { return data_; }
  uint32_t size() const { return size_; }
  uint16_t u16(uint32_t offset) const { return LoadU16(data_ + offset); }
  int16_t i16(uint32_t offset) const { return LoadI16(data_ + offset); }
  uint32_t u32(uint32_t offset) const { return LoadU32(data_ + offset); }
  void reset(uint8_t* data, uint32_t size) {
    free(data_);
    data_ = data;
    size_ = size;
  }

 private:
  uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
};

// Step 1: "ENTERING <name>".
void ApiEnter(const ApiCallSpec& spec);
// Step 2 for a missing or bad argument: "ERROR <name>: <complaint>", "<name>: <failure text>",
// "EXITING <name>", WGERR_PARAMETER_INVALID. Returns WG_FUNCTION_FAILED.
int16_t ApiBadArgument(const ApiCallSpec& spec, const char* pszComplaint,
                       const char* pszFailureText = "returning WG_FUNCTION_FAILED");
// Steps 4 to 6: send, wait, and on failure report and trace it ("<name>: <failure text>" and
// the exit); a reply shorter than `uiMinReply` counts as none. True with the reply in *pReply.
bool ApiExchange(const ApiCallSpec& spec, const ApiRequest& request, uint32_t uiMinReply,
                 ApiReply* pReply, const char* pszFailureText = "returning WG_FUNCTION_FAILED");
// Steps 4 to 6 for the calls whose two failures have texts of their own: as ApiExchange, with
// the client error of a failure reported (WGERR_CLIENT_SERVER_COMM_ERROR when the request
// could not be sent, WGERR_SERVER_NOT_RESPONDING when no reply came), but nothing of it traced.
enum class ApiOutcome { kReply, kNotSent, kNoReply };
ApiOutcome ApiTransact(const ApiCallSpec& spec, const ApiRequest& request, uint32_t uiMinReply,
                       ApiReply* pReply);
// Step 8: "<name>: <label><value>", "EXITING <name>". Returns the result.
int16_t ApiFinish(const ApiCallSpec& spec, int16_t iResult, const char* pszLabel = "result = ");
// Ends the user ID and the display name of a user record that came from the server inside
// their fields: applications read them as strings, whatever the server sent.
void EndUserTexts(WGUserRecord* pUser);
// "ERROR <name>: <fault>" (Critical): a failure the call itself notices.
void ApiError(const ApiCallSpec& spec, const char* pszFault);
// Plain traces in the call's name: "<name>: <text>" (Info) and "EXITING <name><suffix>".
void ApiStep(const ApiCallSpec& spec, const char* pszText, uint32_t uiTraceType = 0x1);
void ApiExit(const ApiCallSpec& spec, const char* pszSuffix = "");
