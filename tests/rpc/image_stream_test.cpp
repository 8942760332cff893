#include <unistd.h>

#include <cstring>
#include <functional>

#include "api/image_stream_messages.h"
#include "connect/api_messages.h"
#include "local/image_ops.h"
#include "tests/rpc/reply_builder.h"
#include "tests/rpc/request_fields.h"
#include "tests/rpc/rpc_fixture.h"
#include "whorlgate.h"

namespace {


// A raw image whose enlargements differ visibly whether it is inverted before or after: the
// brightening of the upsamplers saturates the light end only.
Bytes SensorImage() {
  Bytes image(WG_RAW_IMAGE_SIZE);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>((i * 7 + i / 128 * 13) & 0xFF);
  return image;
}

Bytes Inverted(Bytes image) {
  for (auto& v : image) v = static_cast<uint8_t>(255 - v);
  return image;
}

Bytes Enlarged(const Bytes& image, WGResult (*upsample)(const uint8_t*, uint16_t, uint8_t*), size_t side) {
  Bytes out(side * side);
  EXPECT_EQ(upsample(image.data(), WG_IMAGE_SIDE, out.data()), WG_OK);
  return out;
}

std::string ImageReply(const Bytes& image) {
  return ReplyBuilder(kCurrentImageReplySize).bytes(kCurrentImageMsgImage, image.data(), image.size())
      .reply(WG_API_GET_CURRENT_IMAGE);
}

std::string NoImageReply() {
  return ReplyBuilder(kCurrentImageMsgImage).u32(kCurrentImageMsgNoImage, 1).reply(WG_API_GET_CURRENT_IMAGE);
}

std::string StateReply(int16_t result, int16_t state) {
  return ReplyBuilder(kImageStateMsgSize).i16(kImageStateMsgResult, result).i16(kImageStateMsgState, state)
      .reply(WG_API_GET_IMAGE_STATE);
}

class ImageStreamTest : public RpcTest {};

TEST_F(ImageStreamTest, RequestLayouts) {
  startAndAttach({"--reply", ReplyBuilder(kOpenStreamMsgSize).reply(WG_API_OPEN_STREAM),
                  "--reply", ReplyBuilder(kCloseStreamMsgSize).reply(WG_API_CLOSE_STREAM),
                  "--reply", NoImageReply(),
                  "--reply", StateReply(WG_OK, 0)});
  struct Case {
    const char* call;
    std::function<void()> invoke;
    uint16_t type;
    uint32_t size;
    std::vector<RequestField> fields;
  } cases[] = {
      {"WhorlgateOpenStream", [] { WhorlgateOpenStream(0x01020304, 0xA0B0C0D0); }, WG_API_OPEN_STREAM, 20,
       {{10, Le32(0x01020304)}, {14, Le32(0xA0B0C0D0)}}},
      {"WhorlgateCloseStream", [] { WhorlgateCloseStream(0x0A0B0C0D); }, WG_API_CLOSE_STREAM, 16,
       {{10, Le32(0x0A0B0C0D)}}},
      {"WhorlgateGetCurrentImage", [] { WhorlgateGetCurrentImage(0x11223344, WG_STREAM_FORMAT_200, 1); },
       WG_API_GET_CURRENT_IMAGE, 19, {{10, Le32(0x11223344)}}},
      {"WhorlgateGetImageState", [] { WGImageState s{4, 0}; WhorlgateGetImageState(0x55667788, &s); },
       WG_API_GET_IMAGE_STATE, 20, {{10, Le32(0x55667788)}, {14, Le16(4)}}},
      {"WhorlgateGetImageState without a context", [] { WGImageState s{-2, 0}; WhorlgateGetImageState(0, &s); },
       WG_API_GET_IMAGE_STATE, 20, {{10, Le32(0)}, {14, Le16(0xFFFE)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    c.invoke();
    EXPECT_EQ(takeError(), 0);
    auto found = server_->requestsOfType(c.type);
    ASSERT_FALSE(found.empty());
    ExpectRequest(found.back().bytes, c.type, c.size, c.fields);
  }
}

TEST_F(ImageStreamTest, OpenAndCloseReturnTheServersResult) {
  startAndAttach({"--reply", ReplyBuilder(kOpenStreamMsgSize).i16(kOpenStreamMsgResult, WG_UNKNOWN).reply(WG_API_OPEN_STREAM),
                  "--reply", ReplyBuilder(kCloseStreamMsgSize).i16(kCloseStreamMsgResult, WG_NO_IMAGE).reply(WG_API_CLOSE_STREAM)});
  EXPECT_EQ(WhorlgateOpenStream(9, 0), WG_UNKNOWN);
  EXPECT_EQ(WhorlgateCloseStream(9), WG_NO_IMAGE);
  auto texts = traceTexts();
  EXPECT_TRUE(contains(texts, "WhorlgateOpenStream: return = "));
  EXPECT_TRUE(contains(texts, "WhorlgateCloseStream: return ="));
}

TEST_F(ImageStreamTest, OneImageIsOutstandingUntilItComesBack) {
  startAndAttach({"--reply", ImageReply(SensorImage())});
  uint8_t* image = WhorlgateGetCurrentImage(7, WG_STREAM_FORMAT_RAW, 0);
  ASSERT_NE(image, nullptr);

  EXPECT_EQ(WhorlgateGetCurrentImage(7, WG_STREAM_FORMAT_RAW, 0), nullptr);
  char text[256];
  uint32_t flags = 0;
  EXPECT_EQ(TakeClientError(text, &flags), WGERR_IMAGE_REQUEST_REFUSED);
  EXPECT_STREQ(text, "The previous image has not been released.");
  EXPECT_TRUE(contains(traceTexts(), "EXITING WhorlgateGetCurrentImage: previous image not released"));
  EXPECT_EQ(server_->requestsOfType(WG_API_GET_CURRENT_IMAGE).size(), 1u) << "the refusal asks nobody";

  // Only the image handed out comes back; anything else leaves it outstanding.
  uint8_t stranger[16];
  for (uint8_t* wrong : {stranger, static_cast<uint8_t*>(nullptr)}) {
    EXPECT_EQ(WhorlgateReleaseImage(7, wrong), WG_FUNCTION_FAILED);
    EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID);
  }
  EXPECT_TRUE(contains(traceTexts(), "EXITING WhorlgateReleaseImage: ERROR image pointer passed in is not current image"));
  EXPECT_EQ(WhorlgateGetCurrentImage(7, WG_STREAM_FORMAT_RAW, 0), nullptr);
  EXPECT_EQ(takeError(), WGERR_IMAGE_REQUEST_REFUSED);

  EXPECT_EQ(WhorlgateReleaseImage(0, image), WG_OK) << "the context is not read";
  EXPECT_EQ(WhorlgateReleaseImage(7, nullptr), WG_OK) << "nothing outstanding, nothing handed back";
  image = WhorlgateGetCurrentImage(7, WG_STREAM_FORMAT_RAW, 0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(WhorlgateReleaseImage(7, image), WG_OK);
  EXPECT_EQ(takeError(), 0);
  EXPECT_EQ(server_->requestsOfType(WG_API_GET_CURRENT_IMAGE).size(), 2u);
}

TEST_F(ImageStreamTest, FormatsAndInversion) {
  const Bytes raw = SensorImage();
  startAndAttach({"--reply", ImageReply(raw)});
  const Bytes inverted = Inverted(raw);
  struct Case {
    int16_t format;
    uint32_t invert;
    Bytes expected;
  } cases[] = {
      {0, 0, raw},
      {1, 0, Enlarged(raw, Upsample150, 192)},
      {2, 0, Enlarged(raw, Upsample200, 256)},
      {7, 0, raw},
      {0, 1, inverted},
      {1, 0x100, Enlarged(inverted, Upsample150, 192)},
      {2, 1, Enlarged(inverted, Upsample200, 256)},
  };
  ASSERT_NE(cases[5].expected, Inverted(cases[1].expected)) << "the image tells the order apart";
  ASSERT_NE(cases[6].expected, Inverted(cases[2].expected));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << ", invert " << c.invert);
    uint8_t* image = WhorlgateGetCurrentImage(3, c.format, c.invert);
    ASSERT_NE(image, nullptr);
    // Compared over the format's whole size: a shorter buffer would be read past its end.
    EXPECT_EQ(Bytes(image, image + c.expected.size()), c.expected);
    EXPECT_EQ(WhorlgateReleaseImage(3, image), WG_OK);
  }
  EXPECT_TRUE(contains(traceTexts(), "EXITING WhorlgateGetCurrentImage: normal exit, returning image"));
}

TEST_F(ImageStreamTest, NoImageIsNoError) {
  ReplyBuilder shortImage(kCurrentImageMsgImage + 100);
  startAndAttach({"--reply", NoImageReply(), "--reply", shortImage.reply(WG_API_GET_CURRENT_IMAGE),
                  "--reply", ImageReply(SensorImage())});
  EXPECT_EQ(WhorlgateGetCurrentImage(3, WG_STREAM_FORMAT_150, 0), nullptr);
  EXPECT_EQ(takeError(), 0);
  EXPECT_TRUE(contains(traceTexts(), "EXITING: WhorlgateGetCurrentImage: normal exit, no image"));

  // An image reply that stops short of its image counts as no answer.
  EXPECT_EQ(WhorlgateGetCurrentImage(3, WG_STREAM_FORMAT_150, 0), nullptr);
  EXPECT_EQ(takeError(), WGERR_SERVER_NOT_RESPONDING);
  EXPECT_TRUE(contains(traceTexts(), "EXITING WhorlgateGetCurrentImage: ERROR failed to read response from server"));

  EXPECT_EQ(WhorlgateGetCurrentImage(0, WG_STREAM_FORMAT_150, 0), nullptr);
  EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID);
  EXPECT_TRUE(contains(traceTexts(), "EXITING WhorlgateGetCurrentImage: context handle invalid"));
  EXPECT_EQ(server_->requestsOfType(WG_API_GET_CURRENT_IMAGE).size(), 2u);

  uint8_t* image = WhorlgateGetCurrentImage(3, WG_STREAM_FORMAT_150, 0);
  ASSERT_NE(image, nullptr) << "none of the failures left an image outstanding";
  EXPECT_EQ(WhorlgateReleaseImage(3, image), WG_OK);
}

TEST_F(ImageStreamTest, StateWordOnlyFromASuccessfulReply) {
  startAndAttach({"--reply", StateReply(WG_NO_MATCH, 0x4005), "--reply", StateReply(WG_OK, 0x4005),
                  "--reply", "17:18:0:0000"});
  WGImageState state{4, 0x7777};
  EXPECT_EQ(WhorlgateGetImageState(1, &state), WG_NO_MATCH);
  EXPECT_EQ(state.iState, 0);
  EXPECT_EQ(state.iRequest, 4);
  EXPECT_TRUE(contains(traceTexts(), "WhorlgateGetImageState: retval ="));

  EXPECT_EQ(WhorlgateGetImageState(1, &state), WG_OK);
  EXPECT_EQ(state.iState, 0x4005);

  // A reply of another type is no reply: the old state word is not left standing.
  EXPECT_EQ(WhorlgateGetImageState(1, &state), WG_FUNCTION_FAILED);
  EXPECT_EQ(state.iState, 0);
  EXPECT_EQ(takeError(), WGERR_SERVER_NOT_RESPONDING);

  EXPECT_EQ(WhorlgateGetImageState(1, nullptr), WG_FUNCTION_FAILED);
  EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID);
  EXPECT_TRUE(contains(traceTexts(), "ERROR WhorlgateGetImageState: bad input pointer (NULL)"));
  EXPECT_EQ(server_->requestsOfType(WG_API_GET_IMAGE_STATE).size(), 3u);
}

TEST_F(ImageStreamTest, WrappersTraceAroundTheImageOperations) {
  startAndAttach();
  const Bytes raw = SensorImage();
  uint8_t* bitmap = WhorlgateAllocOSBitmap(144);
  ASSERT_NE(bitmap, nullptr);
  WGBitmapInfoHeader info;
  memcpy(&info, bitmap, sizeof info);
  EXPECT_EQ(info.iWidth, 144);
  EXPECT_EQ(info.iHeight, 144);
  WhorlgateConvertRawImageToOSBmp(bitmap, raw.data(), WG_IMAGE_SIDE);
  const uint8_t* row8 = bitmap + WG_OS_BITMAP_PIXEL_OFFSET + 8 * 144;
  EXPECT_EQ(Bytes(row8 + 8, row8 + 8 + 128), Bytes(raw.end() - 128, raw.end())) << "upright, in an 8-pixel frame";
  WhorlgateDeleteOSBitmap(bitmap);
  WhorlgateDeleteOSBitmap(nullptr);

  Bytes out150(192 * 192), out200(256 * 256);
  EXPECT_EQ(WhorlgateResample150(raw.data(), WG_IMAGE_SIDE, out150.data()), WG_OK);
  EXPECT_EQ(out150, Enlarged(raw, Upsample150, 192));
  EXPECT_EQ(WhorlgateResample200(raw.data(), WG_IMAGE_SIDE, out200.data()), WG_OK);
  EXPECT_EQ(out200, Enlarged(raw, Upsample200, 256));
  EXPECT_EQ(WhorlgateResample150(raw.data(), 3, out150.data()), WG_BAD_ARGUMENT) << "the upsampler's own result";

  auto texts = traceTexts();
  for (const char* name : {"WhorlgateAllocOSBitmap", "WhorlgateDeleteOSBitmap", "WhorlgateConvertRawImageToOSBmp",
                           "WhorlgateResample150", "WhorlgateResample200"}) {
    EXPECT_TRUE(contains(texts, std::string("ENTERING ") + name)) << name;
    EXPECT_TRUE(contains(texts, std::string("EXITING ") + name)) << name;
  }
}

}  // namespace
