// The sensor-level calls: statuses, the template objects, and the asynchronous acquisition
// against the scripted server.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "api/image_stream_messages.h"
#include "connect/event_dispatch.h"
#include "local/matcher_adapter.h"
#include "local/sensor_status.h"
#include "local/template_record.h"
#include "platform/sync.h"
#include "tests/local/extended_support.h"
#include "tests/rpc/rpc_fixture.h"

namespace {

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

TEST(SensorStatus, SuccessIsMarkedAndFailuresAreNegativeCodes) {
  EXPECT_EQ(OpenSensor(), 0x03FB0000u);
  EXPECT_EQ(AcquireDataFromSensor(), 0xFFFFFF8Cu);
  EXPECT_EQ(GetImageFormatSize(), 1064u);
  struct Case {
    WGResult code;
    WGSensorStatus status;
  } cases[] = {
      {WG_OK, 0x03FB0000u},
      {WG_BAD_POINTER, 0xFFFFFF8Eu},
      {WG_FUNCTION_FAILED, 0xFFFFFF81u},
      {WG_SENSOR_BUSY, 0xFFFFFF82u},
      {WG_NO_IMAGE, 0x83FB0005u},
  };
  for (const Case& c : cases) EXPECT_EQ(SensorStatus(c.code), c.status) << c.code;
  SetRecognitionLevel(3);
  EXPECT_EQ(CloseSensor(), WG_SENSOR_STATUS_OK) << "nothing to close";
}

// Compress and Decompress move a whole object; the size value says how much room the caller's
// side has and comes back as the object's size.
TEST(TemplateObjects, CompressAndDecompressMoveWholeObjects) {
  struct Kind {
    const char* what;
    WGSensorStatus (*compress)(const uint8_t*, uint8_t*, uint32_t*);
    WGSensorStatus (*decompress)(uint8_t*, const uint8_t*, uint32_t*);
    uint32_t size;
  } kinds[] = {
      {"identifying", CompressIdentifyingTemplate, DecompressIdentifyingTemplate, 8209},
      {"authorized", CompressAuthorizedTemplate, DecompressAuthorizedTemplate, 2384},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.what);
    const Bytes object = Pattern(k.size, 3);
    Bytes out(k.size + 8, 0xEE);
    uint32_t size = k.size - 1;
    EXPECT_EQ(k.compress(object.data(), out.data(), &size), 0xFFFFFF81u);
    EXPECT_EQ(size, k.size);
    EXPECT_EQ(out, Bytes(k.size + 8, 0xEE));
    size = 0;
    EXPECT_EQ(k.compress(object.data(), nullptr, &size), 0xFFFFFF81u) << "asks for the size";
    EXPECT_EQ(size, k.size);
    size = k.size + 8;
    EXPECT_EQ(k.compress(object.data(), out.data(), &size), WG_SENSOR_STATUS_OK);
    EXPECT_EQ(size, k.size);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + k.size), object);
    EXPECT_EQ(Bytes(out.begin() + k.size, out.end()), Bytes(8, 0xEE));
    EXPECT_EQ(k.compress(nullptr, out.data(), &size), 0xFFFFFF8Eu);
    EXPECT_EQ(k.compress(object.data(), out.data(), nullptr), 0xFFFFFF8Eu);

    Bytes restored(k.size, 0);
    size = k.size - 1;
    EXPECT_EQ(k.decompress(restored.data(), object.data(), &size), 0xFFFFFF81u)
        << "not read past the input";
    EXPECT_EQ(size, k.size);
    EXPECT_EQ(restored, Bytes(k.size, 0));
    EXPECT_EQ(k.decompress(restored.data(), object.data(), &size), WG_SENSOR_STATUS_OK);
    EXPECT_EQ(restored, object);
    EXPECT_EQ(k.decompress(nullptr, object.data(), &size), 0xFFFFFF8Eu);
    EXPECT_EQ(k.decompress(restored.data(), nullptr, &size), 0xFFFFFF8Eu);
    EXPECT_EQ(k.decompress(restored.data(), object.data(), nullptr), 0xFFFFFF8Eu);
  }
}

TEST(TemplateObjects, CreateResetAssignDestroy) {
  struct Kind {
    const char* what;
    WGSensorStatus (*create)(uint8_t**);
    void (*reset)(uint8_t*);
    uint8_t* (*assign)(uint8_t*, const uint8_t*);
    void (*destroy)(uint8_t*);
    size_t size;
  } kinds[] = {
      {"identifying", CreateIdentifyingTemplate, ResetIdentifyingTemplate,
       AssignIdentifyingTemplate, DestroyIdentifyingTemplate, 8209},
      {"authorized", CreateAuthorizedTemplate, ResetAuthorizedTemplate, AssignAuthorizedTemplate,
       DestroyAuthorizedTemplate, 2384},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.what);
    uint8_t* object = nullptr;
    ASSERT_EQ(k.create(&object), WG_SENSOR_STATUS_OK);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(Bytes(object, object + k.size), Bytes(k.size, 0));
    const Bytes source = Pattern(k.size, 9);
    EXPECT_EQ(k.assign(object, source.data()), object);
    EXPECT_EQ(Bytes(object, object + k.size), source);
    k.reset(object);
    EXPECT_EQ(Bytes(object, object + k.size), Bytes(k.size, 0));
    k.destroy(object);
    EXPECT_EQ(k.create(nullptr), 0xFFFFFF8Eu);
    k.reset(nullptr);
    k.destroy(nullptr);
  }

  uint8_t* raw = CreateRawBuffer();
  ASSERT_NE(raw, nullptr);
  const Bytes source = Pattern(WG_RAW_BUFFER_SIZE, 1);
  EXPECT_EQ(AssignRawBuffer(raw, source.data()), raw);
  EXPECT_EQ(Bytes(raw, raw + WG_RAW_BUFFER_SIZE), source);
  DestroyRawBuffer(raw);
  DestroyRawBuffer(nullptr);
}

TEST(TemplateObjects, TransientImageAndItsTurnedPicture) {
  uint8_t* image = CreateTransientImage();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(Bytes(image, image + WG_TRANSIENT_IMAGE_SIZE), Bytes(WG_TRANSIENT_IMAGE_SIZE, 0));
  const Bytes raw = Pattern(WG_RAW_BUFFER_SIZE, 5);
  Bytes picture(WG_RAW_IMAGE_SIZE, 0);
  uint32_t values[3] = {};
  EXPECT_EQ(
      BuildTransientImage(image, raw.data(), &values[0], &values[1], &values[2], picture.data()),
      WG_SENSOR_STATUS_OK);
  EXPECT_EQ(Bytes(image, image + WG_TRANSIENT_IMAGE_SIZE), raw);
  EXPECT_EQ(picture, Bytes(raw.rend() - WG_RAW_IMAGE_SIZE, raw.rend())) << "the raw image reversed";
  EXPECT_EQ(values[0], 1u);
  EXPECT_EQ(values[1], 1u);
  EXPECT_EQ(values[2], 4u);
  EXPECT_EQ(BuildTransientImage(image, raw.data(), nullptr, nullptr, nullptr, picture.data()),
            WG_SENSOR_STATUS_OK);
  for (auto [i, r, p] : {std::tuple{static_cast<uint8_t*>(nullptr), raw.data(), picture.data()},
                         std::tuple{image, static_cast<const uint8_t*>(nullptr), picture.data()},
                         std::tuple{image, raw.data(), static_cast<uint8_t*>(nullptr)}}) {
    EXPECT_EQ(BuildTransientImage(i, r, nullptr, nullptr, nullptr, p), 0xFFFFFF8Eu);
  }
  ResetTransientImage(image);
  EXPECT_EQ(Bytes(image, image + WG_TRANSIENT_IMAGE_SIZE), Bytes(WG_TRANSIENT_IMAGE_SIZE, 0));
  ResetTransientImage(nullptr);
  DestroyTransientImage(image);
}

class SensorTest : public RpcTest {
 protected:
  void TearDown() override {
    CloseSensor();
    RpcTest::TearDown();
  }
};

TEST_F(SensorTest, ImageFormatIsTheDisplayHeaderWithRowsBottomUp) {
  Bytes display(WG_BITMAP_HEADER_SIZE, 0);
  ASSERT_EQ(WGBuildOSBmpHeader(0, display.data()), WG_OK);
  Bytes format(WG_BITMAP_HEADER_SIZE, 0xEE);
  EXPECT_EQ(GetImageFormat(0xDEADBEEF, format.data()), WG_SENSOR_STATUS_OK);
  EXPECT_EQ(LoadI32(&display[8]), -128);
  EXPECT_EQ(LoadI32(&format[8]), 128);
  StoreI32(&display[8], 128);
  EXPECT_EQ(format, display);
  EXPECT_EQ(GetImageFormat(0, nullptr), 0xFFFFFF8Eu);
  EXPECT_EQ(takeError(), 0) << "no client error of its own";
}

TEST_F(SensorTest, AuthorizedTemplateSaysWhetherThePrintWasClear) {
  uint8_t* authorized = nullptr;
  ASSERT_EQ(CreateAuthorizedTemplate(&authorized), WG_SENSOR_STATUS_OK);
  Bytes noise(WG_RAW_IMAGE_SIZE);
  uint32_t state = 12345;
  for (auto& v : noise) v = static_cast<uint8_t>((state = state * 1103515245 + 12345) >> 16);
  struct Case {
    const char* what;
    Bytes raw;
    uint32_t good;
  } cases[] = {
      {"a clear print", FingerImageBuffer(7, 0), 1},
      {"a blank sensor", UniformImageBuffer(230), 0},
      {"noise only", ImageBufferOf(noise.data()), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    uint32_t done = 7, good = 7;
    EXPECT_EQ(BuildAuthorizedTemplate(authorized, c.raw.data(), &done, &good), WG_SENSOR_STATUS_OK);
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(good, c.good);
    int16_t type = 0;
    EXPECT_TRUE(WGCheckIOTemplateRec(authorized, &type, nullptr)) << "sealed";
    EXPECT_EQ(type, WG_REFERENCE_TEMPLATE_TYPE);
  }
  const Bytes raw = FingerImageBuffer(7, 0);
  EXPECT_EQ(BuildAuthorizedTemplate(authorized, raw.data(), nullptr, nullptr), WG_SENSOR_STATUS_OK);
  EXPECT_EQ(BuildAuthorizedTemplate(nullptr, raw.data(), nullptr, nullptr), 0xFFFFFF8Eu);
  EXPECT_EQ(BuildAuthorizedTemplate(authorized, nullptr, nullptr, nullptr), 0xFFFFFF8Eu);
  DestroyAuthorizedTemplate(authorized);
}

TEST_F(SensorTest, ComparePrintsAgainstTheSearchPrint) {
  startAndAttach({"--reply", MinimumScoreReply(kDefaultMinimumScore)});
  const Bytes raw = FingerImageBuffer(8, 1);
  Bytes identifying(WG_IDENTIFYING_TEMPLATE_SIZE), authorized(WG_AUTHORIZED_TEMPLATE_SIZE),
      other(WG_AUTHORIZED_TEMPLATE_SIZE);
  ASSERT_EQ(BuildIdentifyingTemplate(identifying.data(), raw.data()), WG_SENSOR_STATUS_OK);
  Bytes built(WG_MATCH_TEMPLATE_SIZE);
  ASSERT_EQ(WGBuildMatchTemplate(raw.data(), built.data()), WG_OK);
  EXPECT_EQ(identifying, built) << "an identifying template is a match template";
  ASSERT_EQ(BuildAuthorizedTemplate(authorized.data(), raw.data(), nullptr, nullptr),
            WG_SENSOR_STATUS_OK);
  const Bytes otherRaw = FingerImageBuffer(9, 1);
  ASSERT_EQ(BuildAuthorizedTemplate(other.data(), otherRaw.data(), nullptr, nullptr),
            WG_SENSOR_STATUS_OK);
  ASSERT_EQ(LoadSearchPrint(identifying.data()), WG_SENSOR_STATUS_OK);

  uint32_t matched = 7;
  EXPECT_EQ(ComparePrints(authorized.data(), &matched), WG_SENSOR_STATUS_OK);
  EXPECT_EQ(matched, 1u);
  EXPECT_EQ(ComparePrints(other.data(), &matched), WG_SENSOR_STATUS_OK);
  EXPECT_EQ(matched, 0u);
  authorized[500] ^= 0x40;
  matched = 7;
  EXPECT_EQ(ComparePrints(authorized.data(), &matched), WG_SENSOR_STATUS_OK)
      << "a bad template is no match";
  EXPECT_EQ(matched, 0u);
  EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID) << "reported by the match call";

  EXPECT_EQ(ComparePrints(nullptr, &matched), 0xFFFFFF8Eu);
  EXPECT_EQ(ComparePrints(other.data(), nullptr), 0xFFFFFF8Eu);
  EXPECT_EQ(LoadSearchPrint(nullptr), 0xFFFFFF8Eu);
  EXPECT_EQ(BuildIdentifyingTemplate(nullptr, raw.data()), 0xFFFFFF8Eu);
  EXPECT_EQ(BuildIdentifyingTemplate(identifying.data(), nullptr), 0xFFFFFF8Eu);
}

// What the sensor callback was told, and on which thread.
struct SensorReport {
  WGSensorStatus status;
  uint32_t tag;
  uint8_t* buffer;
  uint32_t delivered;
  uint32_t user;
  std::thread::id thread;
};
std::mutex g_reportLock;
std::condition_variable g_reportArrived;
std::vector<SensorReport> g_reports;

void OnSensor(WGSensorStatus status, uint32_t tag, uint8_t* buffer, uint32_t delivered,
              uint32_t user) {
  {
    std::lock_guard<std::mutex> guard(g_reportLock);
    g_reports.push_back({status, tag, buffer, delivered, user, std::this_thread::get_id()});
  }
  g_reportArrived.notify_all();
}

std::vector<SensorReport> AwaitReports(size_t count,
                                       std::chrono::milliseconds wait = std::chrono::seconds(5)) {
  std::unique_lock<std::mutex> guard(g_reportLock);
  g_reportArrived.wait_for(guard, wait, [&] { return g_reports.size() >= count; });
  return g_reports;
}

std::string ImageStateReply(int16_t result, int16_t state) {
  return ReplyBuilder(kImageStateMsgSize)
      .i16(kImageStateMsgResult, result)
      .i16(kImageStateMsgState, state)
      .reply(WG_API_GET_IMAGE_STATE);
}

constexpr int16_t kFingerOn = WG_IMAGE_STATE_FINGER_PRESENT;

TEST_F(SensorTest, WithoutAFingerTheCallbackComesAtOnce) {
  startAndAttach({"--reply", ImageStateReply(WG_OK, 0x0011)});
  Bytes raw(WG_RAW_BUFFER_SIZE, 0xEE);
  EXPECT_EQ(AsyncAcquireDataFromSensor(5, raw.data(), OnSensor, 9), WG_SENSOR_STATUS_OK);
  const auto reports = AwaitReports(1, std::chrono::milliseconds(0));
  ASSERT_EQ(reports.size(), 1u) << "before the call returned";
  EXPECT_EQ(reports[0].status, WG_SENSOR_STATUS_OK);
  EXPECT_EQ(reports[0].tag, 5u);
  EXPECT_EQ(reports[0].buffer, raw.data());
  EXPECT_EQ(reports[0].delivered, 0u);
  EXPECT_EQ(reports[0].user, 9u);
  EXPECT_EQ(reports[0].thread, std::this_thread::get_id());
  EXPECT_EQ(raw, Bytes(WG_RAW_BUFFER_SIZE, 0xEE));
  const auto state = server_->requestsOfType(WG_API_GET_IMAGE_STATE);
  ASSERT_EQ(state.size(), 1u);
  EXPECT_EQ(LoadU32(&state[0].bytes[kImageStateMsgContext]), 0u);
  EXPECT_TRUE(server_->requestsOfType(WG_API_BEGIN_ACQUIRE_IMAGE).empty());
  EXPECT_EQ(AsyncAcquireDataFromSensor(6, raw.data(), OnSensor, 9), WG_SENSOR_STATUS_OK)
      << "nothing left pending";
}

TEST_F(SensorTest, TheImageArrivesThroughTheCallbackWithTheEndsResult) {
  const Bytes first = FingerImageBuffer(10, 0), second = FingerImageBuffer(10, 1);
  startAndAttach({"--reply", ImageStateReply(WG_OK, kFingerOn), "--reply", BeginAcquireReply(),
                  "--event-after", AcquireCompleteAfter(30), "--reply",
                  EndAcquireReply(WG_OK, first), "--reply", EndAcquireReply(WG_NO_IMAGE, second)});
  Bytes raw(WG_RAW_BUFFER_SIZE, 0);
  EXPECT_EQ(AsyncAcquireDataFromSensor(41, raw.data(), OnSensor, 0xCAFE), WG_SENSOR_STATUS_OK);
  auto reports = AwaitReports(1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].status, WG_SENSOR_STATUS_OK);
  EXPECT_EQ(reports[0].tag, 41u);
  EXPECT_EQ(reports[0].delivered, 1u);
  EXPECT_EQ(reports[0].user, 0xCAFEu);
  EXPECT_NE(reports[0].thread, std::this_thread::get_id()) << "on the event thread";
  EXPECT_EQ(raw, first);
  const auto begin = server_->requestsOfType(WG_API_BEGIN_ACQUIRE_IMAGE);
  ASSERT_EQ(begin.size(), 1u);
  EXPECT_EQ(begin[0].bytes.size(), 19u) << "option 0, no template";
  EXPECT_EQ(LoadU16(&begin[0].bytes[10]), 0);

  EXPECT_EQ(AsyncAcquireDataFromSensor(42, raw.data(), OnSensor, 1), WG_SENSOR_STATUS_OK);
  reports = AwaitReports(2);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].status, 0x83FB0005u) << "the server's WG_NO_IMAGE";
  EXPECT_EQ(reports[1].delivered, 1u);
  EXPECT_EQ(raw, second);
  EXPECT_FALSE(IsTransactionActive());
}

TEST_F(SensorTest, OnePendingAtATimeUntilKilled) {
  const Bytes image = FingerImageBuffer(11, 0);
  startAndAttach({"--reply", ImageStateReply(WG_OK, kFingerOn), "--reply", BeginAcquireReply(),
                  "--event-after", AcquireCompleteAfter(200), "--reply",
                  EndAcquireReply(WG_OK, image)});
  Bytes first(WG_RAW_BUFFER_SIZE, 0), second(WG_RAW_BUFFER_SIZE, 0), third(WG_RAW_BUFFER_SIZE, 0);
  ASSERT_EQ(AsyncAcquireDataFromSensor(1, first.data(), OnSensor, 0), WG_SENSOR_STATUS_OK);
  const uint32_t pending = CurrentTransactionId();
  EXPECT_EQ(AsyncAcquireDataFromSensor(2, second.data(), OnSensor, 0), 0xFFFFFF82u);
  EXPECT_EQ(CurrentTransactionId(), pending) << "the first is untouched";
  EXPECT_EQ(server_->requestsOfType(WG_API_BEGIN_ACQUIRE_IMAGE).size(), 1u);

  EXPECT_EQ(KillAsyncSensorIO(), WG_SENSOR_STATUS_OK);
  EXPECT_FALSE(IsTransactionActive());
  EXPECT_EQ(server_->requestsOfType(WG_API_ABORT_TRANSACTION).size(), 1u);
  // The killed acquisition's completion still arrives and must not pass for the next one's.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  ASSERT_EQ(AsyncAcquireDataFromSensor(3, third.data(), OnSensor, 0), WG_SENSOR_STATUS_OK);
  const auto reports = AwaitReports(1);
  ASSERT_EQ(reports.size(), 1u) << "neither the killed nor the refused one is called back";
  EXPECT_EQ(reports[0].tag, 3u);
  EXPECT_EQ(reports[0].delivered, 1u);
  EXPECT_EQ(third, image);
  EXPECT_EQ(first, Bytes(WG_RAW_BUFFER_SIZE, 0));
  EXPECT_EQ(server_->requestsOfType(WG_API_END_ACQUIRE_IMAGE).size(), 1u);
  EXPECT_EQ(KillAsyncSensorIO(), WG_SENSOR_STATUS_OK) << "nothing pending";
}

// Without an image the acquisition gives up after a quiet spell, and ends its transaction so
// that the next one can start.
TEST_F(SensorTest, GivingUpEndsTheAcquisition) {
  startAndAttach({"--reply", ImageStateReply(WG_OK, kFingerOn), "--reply", BeginAcquireReply()});
  Bytes raw(WG_RAW_BUFFER_SIZE, 0x77);
  ASSERT_EQ(AsyncAcquireDataFromSensor(12, raw.data(), OnSensor, 3), WG_SENSOR_STATUS_OK);
  const auto reports = AwaitReports(1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].status, WG_SENSOR_STATUS_OK);
  EXPECT_EQ(reports[0].delivered, 0u);
  EXPECT_EQ(reports[0].tag, 12u);
  EXPECT_EQ(raw, Bytes(WG_RAW_BUFFER_SIZE, 0x77));
  EXPECT_EQ(server_->awaitRequests(WG_API_ABORT_TRANSACTION, 1).size(), 1u);
  EXPECT_FALSE(IsTransactionActive());
  EXPECT_EQ(AsyncAcquireDataFromSensor(13, raw.data(), OnSensor, 3), WG_SENSOR_STATUS_OK);
  EXPECT_EQ(server_->requestsOfType(WG_API_BEGIN_ACQUIRE_IMAGE).size(), 2u);
}

TEST_F(SensorTest, TheServersTimeOutIsReported) {
  startAndAttach({"--reply", ImageStateReply(WG_OK, kFingerOn), "--reply", BeginAcquireReply(),
                  "--event-after", "33:13:0:30"});
  Bytes raw(WG_RAW_BUFFER_SIZE, 0);
  ASSERT_EQ(AsyncAcquireDataFromSensor(14, raw.data(), OnSensor, 0), WG_SENSOR_STATUS_OK);
  const auto reports = AwaitReports(1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].status, WG_SENSOR_STATUS_OK);
  EXPECT_EQ(reports[0].delivered, 0u);
  EXPECT_EQ(AsyncAcquireDataFromSensor(15, raw.data(), OnSensor, 0), WG_SENSOR_STATUS_OK)
      << "nothing left pending";
  EXPECT_TRUE(server_->requestsOfType(WG_API_ABORT_TRANSACTION).empty())
      << "the transaction was over already";
}

TEST_F(SensorTest, RefusalsAreBusy) {
  startAndAttach({"--reply", ImageStateReply(WG_NO_IMAGE, kFingerOn), "--reply",
                  ImageStateReply(WG_OK, kFingerOn), "--reply", BeginAcquireReply(1), "--reply",
                  BeginAcquireReply()});
  Bytes raw(WG_RAW_BUFFER_SIZE, 0);
  EXPECT_EQ(AsyncAcquireDataFromSensor(1, raw.data(), OnSensor, 0), 0xFFFFFF82u)
      << "no image state";
  EXPECT_EQ(AsyncAcquireDataFromSensor(2, raw.data(), OnSensor, 0), 0xFFFFFF82u)
      << "the server did not start";
  takeError();

  // Another transaction of the application runs: the acquisition cannot start beside it.
  const uint32_t running = WGBeginAcquireImage(nullptr, 0, 0, nullptr);
  ASSERT_NE(running, 0u);
  EXPECT_EQ(AsyncAcquireDataFromSensor(3, raw.data(), OnSensor, 0), 0xFFFFFF82u);
  EXPECT_EQ(takeError(), WGERR_CLIENT_PREV_TRNSACTN_IN_PROG);
  EXPECT_EQ(CurrentTransactionId(), running);
  WGAbortTransaction(running);

  EXPECT_EQ(AsyncAcquireDataFromSensor(4, raw.data(), OnSensor, 0), WG_SENSOR_STATUS_OK)
      << "nothing was left pending";
  EXPECT_TRUE(AwaitReports(1, std::chrono::milliseconds(0)).empty());
}

// The lock is shared by name: one that another process made first counts as busy, once.
TEST_F(SensorTest, ALockMadeElsewhereIsBusyOnce) {
  startAndAttach({"--reply", ImageStateReply(WG_OK, 0)});
  platform::Mutex* elsewhere = platform::CreateNamedMutex("DoTambixAsyncCallBackMutex", nullptr);
  ASSERT_NE(elsewhere, nullptr);
  Bytes raw(WG_RAW_BUFFER_SIZE, 0);
  EXPECT_EQ(AsyncAcquireDataFromSensor(1, raw.data(), OnSensor, 0), 0xFFFFFF82u);
  EXPECT_TRUE(server_->requests().empty());
  EXPECT_EQ(AsyncAcquireDataFromSensor(2, raw.data(), OnSensor, 0), WG_SENSOR_STATUS_OK);
  EXPECT_EQ(AwaitReports(1).size(), 1u);
  platform::CloseNamedMutex(elsewhere);
}

TEST_F(SensorTest, CloseSensorEndsAPendingAcquisition) {
  startAndAttach({"--reply", ImageStateReply(WG_OK, kFingerOn), "--reply",
                  ImageStateReply(WG_OK, 0), "--reply", BeginAcquireReply()});
  Bytes raw(WG_RAW_BUFFER_SIZE, 0);
  ASSERT_EQ(AsyncAcquireDataFromSensor(1, raw.data(), OnSensor, 0), WG_SENSOR_STATUS_OK);
  EXPECT_EQ(CloseSensor(), WG_SENSOR_STATUS_OK);
  EXPECT_FALSE(IsTransactionActive());
  EXPECT_EQ(server_->requestsOfType(WG_API_ABORT_TRANSACTION).size(), 1u);
  EXPECT_EQ(AsyncAcquireDataFromSensor(2, raw.data(), OnSensor, 0), WG_SENSOR_STATUS_OK);
  const auto reports = AwaitReports(1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].tag, 2u);
}

}  // namespace
