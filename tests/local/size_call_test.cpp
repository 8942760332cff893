#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "whorlgate.h"
#include "tests/local/trace_capture.h"

namespace {

class SizeCalls : public TracedTest {};

TEST_F(SizeCalls, ReturnAndTraceTheirSizes) {
  struct Case {
    uint16_t (*call)(void);
    const char* pszName;
    uint16_t uiSize;
    const char* pszHex;
  };
  const Case cases[] = {
      {WGGetImageBufferSize, "WGGetImageBufferSize", 16401, "0x4011"},
      {WGGetOSBmpHeaderSize, "WGGetOSBmpHeaderSize", 1064, "0x428"},
      {WGGetReferenceTemplateSize, "WGGetReferenceTemplateSize", 2384, "0x950"},
      {WGGetSmallReferenceTemplateSize, "WGGetSmallReferenceTemplateSize", 384, "0x180"},
  };
  for (const Case& c : cases) {
    const std::string name = c.pszName;
    EXPECT_EQ(c.call(), c.uiSize) << name;
    EXPECT_EQ(takeTraces(), (std::vector<TraceLine>{
                                {TRACE_TYPE_ENTER, "ENTERING " + name},
                                {TRACE_TYPE_API_RESULT, name + ": size = " + c.pszHex},
                                {TRACE_TYPE_EXIT, "EXITING " + name},
                            }));
  }
}

}  // namespace
