#include <atomic>
#include <mutex>
#include <vector>

#include "connect/api_exchange.h"
#include "connect/api_messages.h"
#include "platform/time.h"
#include "tests/rpc/rpc_fixture.h"
#include "whorlgate/wg_results.h"

namespace {

// What a callback saw, in order.
struct Seen {
  uint16_t type;
  int16_t subCode;
  std::string data;
};
std::mutex g_seenLock;
std::vector<Seen> g_seen;

void Record(uint32_t userValue, WGEventMessage* message) {
  EXPECT_EQ(userValue, 0xC0FFEEu);
  {
    std::lock_guard<std::mutex> guard(g_seenLock);
    g_seen.push_back({message->uiMessageType, message->iSubCode,
                      message->pData ? static_cast<const char*>(message->pData) : ""});
  }
  WGReleaseMessage(message);
}

std::vector<Seen> SeenSoFar() {
  std::lock_guard<std::mutex> guard(g_seenLock);
  return g_seen;
}

class EventDispatchTest : public RpcTest {
 protected:
  // Makes the server push its scripted events: they follow the reply to a request of type 37.
  void trigger() {
    uint8_t request[12] = {};
    WGRpcUtilFillHeader(request, sizeof request, WG_API_BEGIN_ENROLL);
    ASSERT_TRUE(WGRpcUtilSendAPIMsg(request, sizeof request, "WGBeginEnroll", false));
    uint8_t* reply = WGRpcUtilWaitAPIMsg(WG_API_BEGIN_ENROLL, 10000, "WGBeginEnroll", 10);
    ASSERT_NE(reply, nullptr);
    free(reply);
  }
  static int count(const std::vector<Seen>& seen, uint16_t type) {
    int n = 0;
    for (const auto& s : seen) n += s.type == type;
    return n;
  }
};

TEST_F(EventDispatchTest, RegistrationCountsTransactions) {
  EXPECT_EQ(CurrentTransactionId(), 0u);
  SetEventRegistration(nullptr, 0, true, true);
  EXPECT_EQ(CurrentTransactionId(), 1u);
  EXPECT_TRUE(IsTransactionActive());
  EXPECT_FALSE(IsCallbackMode());
  ClearEventRegistration();
  EXPECT_EQ(CurrentTransactionId(), 0u);
  SetEventRegistration(Record, 7, true, true);
  EXPECT_EQ(CurrentTransactionId(), 2u) << "an ended transaction's id is never used again";
  EXPECT_TRUE(IsCallbackMode());
  WGTransactionCallback callback;
  uint32_t value;
  GetEventRegistration(&callback, &value);
  EXPECT_EQ(callback, &Record);
  EXPECT_EQ(value, 7u);
  ClearEventRegistration();
}

TEST_F(EventDispatchTest, CallbackGetsEventsThenTheTimeoutOnceThenNothing) {
  startAndAttach({"--reply", "37:37:0:0000", "--event-after", "37:5:3:300",
                  "--event-after", "37:4:0:500:" + std::string("6265657000"),  // "beep"
                  "--event-after", "37:13:0:700"});
  trigger();
  SetEventRegistration(Record, 0xC0FFEE, true, true);
  uint32_t start = platform::GetTickCount();
  while (IsTransactionActive() && !platform::TickBudgetSpent(start, 10000)) platform::SleepMs(20);
  EXPECT_EQ(CurrentTransactionId(), 0u) << "the timeout event ended the transaction";
  platform::SleepMs(300);
  auto seen = SeenSoFar();
  std::vector<Seen> events;
  for (const auto& s : seen) {
    if (s.type != WG_MSG_IDLE) events.push_back(s);
  }
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].type, WG_MSG_PROMPT);
  EXPECT_EQ(events[0].subCode, 3);
  EXPECT_EQ(events[1].type, WG_MSG_PLAY_SOUND);
  EXPECT_EQ(events[1].data, "beep");
  EXPECT_EQ(events[2].type, WG_MSG_TIMEOUT);
  EXPECT_EQ(seen.back().type, WG_MSG_TIMEOUT) << "nothing reaches the callback after the timeout";
  EXPECT_GT(count(seen, WG_MSG_IDLE), 3) << "idle messages while waiting for events";
}

TEST_F(EventDispatchTest, IdleMessagesComeAboutEvery50Ms) {
  startAndAttach();
  ASSERT_TRUE(InitPipeCommunications());
  SetEventRegistration(Record, 0xC0FFEE, true, true);
  platform::SleepMs(1000);
  ClearEventRegistration();
  int idle = count(SeenSoFar(), WG_MSG_IDLE);
  EXPECT_GE(idle, 8);
  EXPECT_LE(idle, 25);
}

TEST_F(EventDispatchTest, PolledEventsCarryTheirData) {
  startAndAttach({"--reply", "37:37:0:0000", "--event-after", "37:2:-5:300:414243"});
  trigger();
  EXPECT_EQ(WGRpcUtilGetEventMsg(), nullptr) << "returns at once when nothing waits";
  WGEventMessage* event = nullptr;
  uint32_t start = platform::GetTickCount();
  while (!event && !platform::TickBudgetSpent(start, 5000)) {
    event = WGRpcUtilGetEventMsg();
    if (!event) platform::SleepMs(10);
  }
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->uiMessageType, WG_MSG_STATUS);
  EXPECT_EQ(event->iSubCode, -5);
  ASSERT_NE(event->pData, nullptr);
  EXPECT_EQ(memcmp(event->pData, "ABC", 3), 0);
  WGReleaseMessage(event);
  WGReleaseMessage(nullptr);
  EXPECT_TRUE(contains(traceTexts(), "ERROR WGReleaseMessage: Bad parameter (NULL)."));
}

TEST_F(EventDispatchTest, StoppingTheIdleThreadIsQuick) {
  StartEventThread();
  platform::SleepMs(50);
  uint32_t start = platform::GetTickCount();
  StopEventThread();
  EXPECT_LT(platform::GetTickCount() - start, 1000u) << "about 200 ms";
}

}  // namespace
