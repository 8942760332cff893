// The image stream calls, and the traced wrappers that let applications show the images.
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/api_call.h"
#include "api/image_stream_messages.h"
#include "connect/client_error.h"
#include "local/image_ops.h"
#include "shared/trace.h"
#include "whorlgate/wg_stream.h"

namespace {

constexpr ApiCallSpec kOpenStream{"WhorlgateOpenStream", WG_API_OPEN_STREAM, kApiTimeoutMs, false};
constexpr ApiCallSpec kCloseStream{"WhorlgateCloseStream", WG_API_CLOSE_STREAM, kApiTimeoutMs,
                                   false};
constexpr ApiCallSpec kCurrentImage{"WhorlgateGetCurrentImage", WG_API_GET_CURRENT_IMAGE,
                                    kApiTimeoutMs, false};
constexpr ApiCallSpec kImageState{"WhorlgateGetImageState", WG_API_GET_IMAGE_STATE, kApiTimeoutMs,
                                  false};

constexpr uint16_t kRawSide = WG_IMAGE_SIDE;

// What each format hands out: the server always delivers the raw image.
struct StreamFormat {
  int16_t iFormat;
  uint32_t uiSide;
  WGResult (*pfnUpsample)(const uint8_t*, uint16_t, uint8_t*);  // none: a plain copy
};
constexpr StreamFormat kFormats[] = {
    {WG_STREAM_FORMAT_150, kRawSide * 3 / 2, Upsample150},
    {WG_STREAM_FORMAT_200, kRawSide * 2, Upsample200},
};
constexpr StreamFormat kRawFormat{WG_STREAM_FORMAT_RAW, kRawSide, nullptr};

const StreamFormat& FindFormat(int16_t iFormat) {
  for (const StreamFormat& format : kFormats) {
    if (format.iFormat == iFormat) return format;
  }
  return kRawFormat;
}

// The image last handed out, until it comes back. One per process: an application shows one
// stream at a time, and holding a second image would only hide a missing release.
uint8_t* g_pOutstandingImage = nullptr;

// The wrappers over the image operations trace their own name around the one operation.
class TracedOperation {
 public:
  explicit TracedOperation(const char* pszName) : name_(pszName) {
    TraceEnter(TRACE_WHERE_RPC_DLL, ("ENTERING " + name_).c_str());
  }
  ~TracedOperation() { TraceExit(TRACE_WHERE_RPC_DLL, ("EXITING " + name_).c_str()); }
  TracedOperation(const TracedOperation&) = delete;
  TracedOperation& operator=(const TracedOperation&) = delete;

 private:
  std::string name_;
};

}  // namespace

WG_API WGResult WhorlgateOpenStream(WGContextHandle hContext, uint32_t ulStreamOption) {
  const ApiCallSpec& spec = kOpenStream;
  ApiEnter(spec);
  ApiRequest request(spec, kOpenStreamMsgSize);
  request.setU32(kOpenStreamMsgContext, hContext);
  request.setU32(kOpenStreamMsgOption, ulStreamOption);
  ApiReply reply;
  if (!ApiExchange(spec, request, kOpenStreamMsgSize, &reply)) return WG_FUNCTION_FAILED;
  return ApiFinish(spec, reply.i16(kOpenStreamMsgResult), "return = ");
}

WG_API WGResult WhorlgateCloseStream(WGContextHandle hContext) {
  const ApiCallSpec& spec = kCloseStream;
  ApiEnter(spec);
  ApiRequest request(spec, kCloseStreamMsgSize);
  request.setU32(kCloseStreamMsgContext, hContext);
  ApiReply reply;
  if (!ApiExchange(spec, request, kCloseStreamMsgSize, &reply)) return WG_FUNCTION_FAILED;
  return ApiFinish(spec, reply.i16(kCloseStreamMsgResult), "return =");
}

WG_API uint8_t* WhorlgateGetCurrentImage(WGContextHandle hContext, int16_t iFormat,
                                         uint32_t uiInvert) {
  const ApiCallSpec& spec = kCurrentImage;
  ApiEnter(spec);
  if (g_pOutstandingImage) {
    ReportClientError(WGERR_IMAGE_REQUEST_REFUSED, "The previous image has not been released.");
    ApiExit(spec, ": previous image not released");
    return nullptr;
  }
  if (hContext == 0) {
    ReportClientError(WGERR_PARAMETER_INVALID, nullptr);
    ApiExit(spec, ": context handle invalid");
    return nullptr;
  }
  ApiRequest request(spec, kCurrentImageMsgSize);
  request.setU32(kCurrentImageMsgContext, hContext);
  ApiReply reply;
  ApiOutcome outcome = ApiTransact(spec, request, kCurrentImageMsgImage, &reply);
  if (outcome == ApiOutcome::kNotSent) {
    ApiStep(spec, "returning NULL", TRACE_TYPE_API_RESULT);
    ApiExit(spec);
    return nullptr;
  }
  bool bImage = outcome == ApiOutcome::kReply && reply.u32(kCurrentImageMsgNoImage) == 0;
  // An image reply too short for its image is as good as none; nothing is read past its end.
  if (outcome == ApiOutcome::kNoReply || (bImage && reply.size() < kCurrentImageReplySize)) {
    ReportClientError(WGERR_SERVER_NOT_RESPONDING, nullptr);
    ApiExit(spec, ": ERROR failed to read response from server");
    return nullptr;
  }
  if (!bImage) {
    TraceExit(TRACE_WHERE_RPC_DLL, "EXITING: WhorlgateGetCurrentImage: normal exit, no image");
    return nullptr;
  }
  const StreamFormat& format = FindFormat(iFormat);
  g_pOutstandingImage = static_cast<uint8_t*>(malloc(format.uiSide * format.uiSide));
  if (!g_pOutstandingImage) {
    ApiExit(spec, ": memory alloc failed");
    ReportClientError(WGERR_NOT_ENOUGH_MEMORY, nullptr);
    return nullptr;
  }
  uint8_t* pRaw = reply.data() + kCurrentImageMsgImage;
  // Inverted as the sensor saw it, so that enlarging brightens the inverted picture.
  if (uiInvert != 0) InvertImage(pRaw, kRawSide);
  if (format.pfnUpsample) {
    format.pfnUpsample(pRaw, kRawSide, g_pOutstandingImage);
  } else {
    memcpy(g_pOutstandingImage, pRaw, WG_RAW_IMAGE_SIZE);
  }
  ApiExit(spec, ": normal exit, returning image");
  return g_pOutstandingImage;
}

WG_API WGResult WhorlgateReleaseImage([[maybe_unused]] WGContextHandle hContext, uint8_t* pImage) {
  // Nothing goes to the server: the image is the library's own copy.
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING WhorlgateReleaseImage");
  if (pImage != g_pOutstandingImage) {
    ReportClientError(WGERR_PARAMETER_INVALID, nullptr);
    TraceExit(TRACE_WHERE_RPC_DLL,
              "EXITING WhorlgateReleaseImage: ERROR image pointer passed in is not current image");
    return WG_FUNCTION_FAILED;
  }
  free(g_pOutstandingImage);
  g_pOutstandingImage = nullptr;
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING WhorlgateReleaseImage");
  return WG_OK;
}

WG_API WGResult WhorlgateGetImageState(WGContextHandle hContext, WGImageState* pState) {
  const ApiCallSpec& spec = kImageState;
  ApiEnter(spec);
  if (!pState) return ApiBadArgument(spec, "bad input pointer (NULL)");
  ApiRequest request(spec, kImageStateMsgSize);
  request.setU32(kImageStateMsgContext, hContext);
  request.setI16(kImageStateMsgRequest, pState->iRequest);
  ApiReply reply;
  ApiOutcome outcome = ApiTransact(spec, request, kImageStateMsgSize, &reply);
  // Once the server has been asked, a state word left over from an earlier call is never shown.
  if (outcome != ApiOutcome::kNotSent) pState->iState = 0;
  if (outcome != ApiOutcome::kReply) {
    ApiStep(spec, "returning WG_FUNCTION_FAILED", TRACE_TYPE_API_RESULT);
    ApiExit(spec);
    return WG_FUNCTION_FAILED;
  }
  int16_t result = reply.i16(kImageStateMsgResult);
  if (result == WG_OK) pState->iState = reply.i16(kImageStateMsgState);
  return ApiFinish(spec, result, "retval =");
}

WG_API uint8_t* WhorlgateAllocOSBitmap(uint16_t uiSide) {
  TracedOperation traced("WhorlgateAllocOSBitmap");
  return AllocOSBitmap(uiSide);
}

WG_API void WhorlgateDeleteOSBitmap(uint8_t* pBitmap) {
  TracedOperation traced("WhorlgateDeleteOSBitmap");
  FreeOSBitmap(pBitmap);
}

WG_API void WhorlgateConvertRawImageToOSBmp(uint8_t* pBitmap, const uint8_t* pRawImage,
                                            uint16_t uiSide) {
  TracedOperation traced("WhorlgateConvertRawImageToOSBmp");
  PlaceRawImage(pBitmap, pRawImage, uiSide, uiSide);
}

WG_API WGResult WhorlgateResample150(const uint8_t* pSource, uint16_t uiSide, uint8_t* pDest) {
  TracedOperation traced("WhorlgateResample150");
  return Upsample150(pSource, uiSide, pDest);
}

WG_API WGResult WhorlgateResample200(const uint8_t* pSource, uint16_t uiSide, uint8_t* pDest) {
  TracedOperation traced("WhorlgateResample200");
  return Upsample200(pSource, uiSide, pDest);
}
