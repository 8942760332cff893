#include <gtest/gtest.h>

#include <string>

#include "connect/client_error.h"
#include "whorlgate/wg_results.h"

namespace {

struct Taken {
  int16_t code;
  std::string text;
  uint32_t flags;
};

Taken Take() {
  char text[kClientErrorTextLength];
  memset(text, 'Z', sizeof text);
  uint32_t flags = 0xDEAD;
  int16_t code = TakeClientError(text, &flags);
  return {code, text, flags};
}

TEST(ClientError, FirstErrorWinsUntilTaken) {
  EXPECT_TRUE(ReportClientError(WGERR_SERVER_NOT_RESPONDING, nullptr));
  EXPECT_FALSE(ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR, "second"));
  EXPECT_EQ(GetClientErrorCode(), WGERR_SERVER_NOT_RESPONDING);
  Taken t = Take();
  EXPECT_EQ(t.code, WGERR_SERVER_NOT_RESPONDING);
  EXPECT_EQ(t.text,
            "WGERR_SERVER_NOT_RESPONDING: Whorlgate server server is not available and can not "
            "be restarted.");
  EXPECT_EQ(t.flags, 0x81u);
  EXPECT_EQ(GetClientErrorCode(), 0);

  // Bit 7 outlives the take of a fatal error.
  EXPECT_TRUE(ReportClientError(WGERR_PARAMETER_INVALID, nullptr));
  t = Take();
  EXPECT_EQ(t.flags, 0x82u);
  EXPECT_EQ(t.text,
            "WGERR_PARAMETER_INVALID: An invalid parameter has been passed into a Whorlgate "
            "function.");
  t = Take();
  EXPECT_EQ(t.code, 0);
  EXPECT_EQ(t.text, "");
  EXPECT_EQ(t.flags, 0x80u) << "nothing pending, the sticky bit still reported";
}

TEST(ClientError, CodesTextsAndFlags) {
  struct Case {
    int16_t code;
    uint32_t flags;
    const char* textStart;
  } cases[] = {
      {WGERR_NOT_ENOUGH_MEMORY, 0x81, "WGERR_NOT_ENOUGH_MEMORY: Not enough memory."},
      {WGERR_SERVER_NOT_RESPONDING, 0x81, "WGERR_SERVER_NOT_RESPONDING: "},
      {WGERR_PARAMETER_INVALID, 0x02, "WGERR_PARAMETER_INVALID: "},
      {WGERR_FATAL_CLIENT_FAULT, 0x81, "WGERR_FATAL_CLIENT_FAULT: A fatal fault has occured in the client."},
      {WGERR_CLIENT_SERVER_COMM_ERROR, 0x01, "WGERR_CLIENT_SERVER_COMM_ERROR: A fatal fault has occured in the client -to- server communicatons."},
      {WGERR_IMAGE_REQUEST_REFUSED, 0x02, "WGERR_IMAGE_REQUEST_REFUSED: "},
      {WGERR_CLIENT_PREV_TRNSACTN_IN_PROG, 0x02, "WGERR_CLIENT_PREV_TRNSACTN_IN_PROG: A previous transaction is already in progress."},
      {WGERR_CLIENT_NO_CURRENT_TRNSACTN, 0x02, "WGERR_CLIENT_NO_CURRENT_TRNSACTN: There is not current transaction in progress."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ASSERT_TRUE(ReportClientError(c.code, nullptr));
    Taken t = Take();
    EXPECT_EQ(t.code, c.code);
    EXPECT_EQ(t.flags & 0x7F, c.flags & 0x7F);
    EXPECT_EQ(t.text.rfind(c.textStart, 0), 0u) << t.text;
  }
}

TEST(ClientError, CallerTextReplacesTheFixedOneAndIsCut) {
  ASSERT_TRUE(ReportClientError(WGERR_CLIENT_SERVER_COMM_ERROR, "Failure to open input message pipe."));
  EXPECT_EQ(Take().text, "Failure to open input message pipe.");

  std::string longText(300, 'q');
  longText[255] = 'E';
  ASSERT_TRUE(ReportClientError(WGERR_PARAMETER_INVALID, longText.c_str()));
  EXPECT_EQ(longText.size(), 300u) << "the caller's text is left alone";
  EXPECT_EQ(Take().text, std::string(255, 'q'));
}

TEST(ClientError, UnknownCodeIsRefusedAndZeroClears) {
  EXPECT_FALSE(ReportClientError(12, "nope"));
  EXPECT_FALSE(ReportClientError(534, nullptr));
  EXPECT_EQ(GetClientErrorCode(), 0);
  ASSERT_TRUE(ReportClientError(WGERR_CLIENT_NO_CURRENT_TRNSACTN, nullptr));
  EXPECT_FALSE(ReportClientError(12, nullptr));
  EXPECT_EQ(GetClientErrorCode(), WGERR_CLIENT_NO_CURRENT_TRNSACTN);
  EXPECT_TRUE(ReportClientError(0, nullptr));
  EXPECT_EQ(GetClientErrorCode(), 0);
  EXPECT_EQ(TakeClientError(nullptr, nullptr), 0);
  EXPECT_EQ(ClientErrorFixedText(12), nullptr);
}

}  // namespace
