// Exported calls for image buffers and bitmap headers.
#include "connect/client_error.h"
#include "local/image_ops.h"
#include "local/size_call.h"
#include "shared/trace.h"

WG_API uint16_t WGGetImageBufferSize(void) {
  return TraceSizeCall("WGGetImageBufferSize", WG_IMAGE_BUFFER_SIZE);
}

WG_API uint16_t WGGetOSBmpHeaderSize(void) {
  return TraceSizeCall("WGGetOSBmpHeaderSize", WG_BITMAP_HEADER_SIZE);
}

WG_API WGResult WGBuildOSBmpHeader([[maybe_unused]] uint32_t uiUnused, uint8_t* pHeader) {
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING WGBuildOSBmpHeader");
  if (pHeader == nullptr) {
    ReportClientError(WGERR_PARAMETER_INVALID, nullptr);
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_CRITICAL,
             "ERROR WGBuildOSBmpHeader: Bad parameter (NULL).", nullptr);
    TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT,
             "WGBuildOSBmpHeader: returning WG_BAD_POINTER", nullptr);
    TraceExit(TRACE_WHERE_RPC_DLL, "EXITING WGBuildOSBmpHeader");
    return WG_BAD_POINTER;
  }
  // Negative height: rows top-down, so a raw image can follow the header as it is.
  BuildBitmapHeader(pHeader, WG_IMAGE_SIDE, -WG_IMAGE_SIDE);
  TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_API_RESULT, "WGBuildOSBmpHeader: returning WG_OK",
           nullptr);
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING WGBuildOSBmpHeader");
  return WG_OK;
}
