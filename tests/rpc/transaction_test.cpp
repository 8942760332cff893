#include <unistd.h>

#include <cstring>
#include <functional>
#include <mutex>

#include "api/basic_messages.h"
#include "api/transaction_messages.h"
#include "connect/api_messages.h"
#include "local/template_record.h"
#include "platform/time.h"
#include "tests/rpc/reply_builder.h"
#include "tests/rpc/request_fields.h"
#include "tests/rpc/rpc_fixture.h"
#include "whorlgate.h"

namespace {

WGServerMatchDetails Details(uint8_t first) {
  WGServerMatchDetails details;
  for (int i = 0; i < WG_SERVER_MATCH_DETAILS_SIZE; ++i)
    details.aucDetails[i] = static_cast<uint8_t>(first + i);
  return details;
}

// Replies of a server that starts every transaction.
std::string BeginEnrollReply(int16_t templateSize, int16_t result = WG_OK) {
  return ReplyBuilder(kBeginEnrollMsgSize)
      .i16(kBeginEnrollMsgTemplateSize, templateSize)
      .i16(kBeginEnrollMsgResult, result)
      .reply(WG_API_BEGIN_ENROLL);
}
std::string BeginValidateIdReply(int16_t result = WG_OK) {
  return ReplyBuilder(kBeginValidateIdMsgSize)
      .i16(kBeginValidateIdMsgResult, result)
      .reply(WG_API_BEGIN_VALIDATE_ID);
}
std::string BeginIdentifyReply(int16_t result = WG_OK) {
  return ReplyBuilder(kBeginIdentifyMsgSize)
      .i16(kBeginIdentifyMsgResult, result)
      .reply(WG_API_BEGIN_IDENTIFY);
}
std::string BeginVerifyReply() {
  return ReplyBuilder(kBeginVerifyReplyLength).reply(WG_API_BEGIN_VERIFY);
}
std::string EndEnrollReply(const WGUserRecord& user, const std::vector<uint8_t>& tmpl,
                           int16_t claimedSize) {
  ReplyBuilder reply(kEndEnrollMsgTemplate + static_cast<uint16_t>(tmpl.size()));
  reply.bytes(kEndEnrollMsgUser, &user, sizeof user)
      .i16(kEndEnrollMsgResult, WG_OK)
      .i16(kEndEnrollMsgTemplateSize, claimedSize);
  if (!tmpl.empty()) reply.bytes(kEndEnrollMsgTemplate, tmpl.data(), tmpl.size());
  return reply.reply(WG_API_END_ENROLL);
}
std::string EndValidateIdReply(int16_t result, const WGServerMatchDetails& details) {
  return ReplyBuilder(kEndValidateIdMsgSize)
      .i16(kEndValidateIdMsgResult, result)
      .bytes(kEndValidateIdMsgDetails, &details, sizeof details)
      .reply(WG_API_END_VALIDATE_ID);
}
std::string EndIdentifyReply(int16_t result, const WGUserRecord& user,
                             const WGServerMatchDetails& details) {
  return ReplyBuilder(kEndIdentifyMsgSize)
      .i16(kEndIdentifyMsgResult, result)
      .bytes(kEndIdentifyMsgUser, &user, sizeof user)
      .bytes(kEndIdentifyMsgDetails, &details, sizeof details)
      .reply(WG_API_END_IDENTIFY);
}
std::string EndVerifyReply(int16_t result, int16_t matchValue,
                           const WGServerMatchDetails& details) {
  return ReplyBuilder(kEndVerifyMsgSize)
      .i16(kEndVerifyMsgMatchValue, matchValue)
      .i16(kEndVerifyMsgResult, result)
      .bytes(kEndVerifyMsgDetails, &details, sizeof details)
      .reply(WG_API_END_VERIFY);
}

// The scripted server's options: "--reply" before each reply, then any further options.
std::vector<std::string> Script(const std::vector<std::string>& replies,
                                const std::vector<std::string>& more = {}) {
  std::vector<std::string> script;
  for (const auto& reply : replies) script.insert(script.end(), {"--reply", reply});
  script.insert(script.end(), more.begin(), more.end());
  return script;
}

// What the callback saw, in order.
struct Seen {
  uint32_t userValue;
  uint16_t type;
  int16_t subCode;
};
std::mutex g_seenLock;
std::vector<Seen> g_seen;

void Record(uint32_t userValue, WGEventMessage* message) {
  {
    std::lock_guard<std::mutex> guard(g_seenLock);
    g_seen.push_back({userValue, message->uiMessageType, message->iSubCode});
  }
  WGReleaseMessage(message);
}

std::vector<Seen> SeenSoFar() {
  std::lock_guard<std::mutex> guard(g_seenLock);
  return g_seen;
}

class TransactionTest : public RpcTest {
 protected:
  std::vector<uint8_t> lastRequest(uint16_t type) {
    auto found = server_->requestsOfType(type);
    return found.empty() ? std::vector<uint8_t>{} : found.back().bytes;
  }
  // Polls the transaction as an application does, until an event comes or 5 s pass.
  static WGEventMessage* awaitEvent(uint32_t id) {
    uint32_t start = platform::GetTickCount();
    while (!platform::TickBudgetSpent(start, 5000)) {
      if (WGEventMessage* message = WGContinueTransaction(id)) return message;
      platform::SleepMs(20);
    }
    return nullptr;
  }
};

TEST_F(TransactionTest, RequestLayouts) {
  WGUserRecord nobody = TestUser("");
  startAndAttach(Script(
      {BeginEnrollReply(0), BeginValidateIdReply(), BeginIdentifyReply(), BeginVerifyReply(),
       EndEnrollReply(nobody, {}, 0), EndValidateIdReply(WG_MATCH, Details(0)),
       EndIdentifyReply(WG_MATCH, nobody, Details(0)), EndVerifyReply(WG_MATCH, 0, Details(0))}));
  const WGUserRecord alice = TestUser("alice", "Alice A.");
  const WGCaptureOptions options{0x0102, 0x0304, 0x05060708};
  auto first = SealedTestRecord(WG_REFERENCE_TEMPLATE_TYPE, 0x11);
  auto second = SealedTestRecord(WG_SMALL_REFERENCE_TEMPLATE_TYPE, 0x22);
  auto third = SealedTestRecord(WG_REFERENCE_TEMPLATE_TYPE, 0x33);
  const uint8_t* records[] = {first.data(), second.data(), third.data()};
  uint8_t templateBuffer[16];
  int16_t size = 0;
  WGUserRecord out = TestUser("");
  // Each Begin is undone by an abort, so that the next one may start.
  auto begun = [](uint32_t id) {
    EXPECT_NE(id, 0u);
    WGAbortTransaction(id);
  };

  struct Case {
    const char* call;
    std::function<void()> invoke;
    uint16_t type;
    uint32_t size;
    std::vector<RequestField> fields;
  } cases[] = {
      {"WGBeginEnroll",
       [&] { begun(WGBeginEnroll(nullptr, 0, &options, &alice, 7, &size)); },
       WG_API_BEGIN_ENROLL,
       132,
       {{10, Le32(1)},
        {14, BytesOf(&options, 8)},
        {22, Le32(1)},
        {26, BytesOf(&alice, 100)},
        {126, Le16(7)}}},
      {"WGBeginEnroll without options and user",
       [&] { begun(WGBeginEnroll(nullptr, 0, nullptr, nullptr, 7, nullptr)); },
       WG_API_BEGIN_ENROLL,
       132,
       {{10, Le32(0)}, {22, Le32(0)}, {126, Le16(0)}}},
      {"WGBeginValidateID",
       [&] { begun(WGBeginValidateID(nullptr, 0, &alice, &options)); },
       WG_API_BEGIN_VALIDATE_ID,
       124,
       {{10, BytesOf(&alice, 100)}, {110, Le32(1)}, {114, BytesOf(&options, 8)}}},
      {"WGBeginValidateID without options",
       [&] { begun(WGBeginValidateID(nullptr, 0, &alice, nullptr)); },
       WG_API_BEGIN_VALIDATE_ID,
       124,
       {{110, Le32(0)}}},
      {"WGBeginIdentify",
       [&] { begun(WGBeginIdentify(nullptr, 0, &options)); },
       WG_API_BEGIN_IDENTIFY,
       24,
       {{10, Le32(1)}, {14, BytesOf(&options, 8)}}},
      {"WGBeginIdentify without options",
       [&] { begun(WGBeginIdentify(nullptr, 0, nullptr)); },
       WG_API_BEGIN_IDENTIFY,
       24,
       {{10, Le32(0)}}},
      {"WGBeginVerify, three records in array order",
       [&] { begun(WGBeginVerify(nullptr, 0, records, 3, &options)); },
       WG_API_BEGIN_VERIFY,
       26 + 2384 + 384 + 2384,
       {{10, Le32(1)},
        {14, BytesOf(&options, 8)},
        {24, Le16(3)},
        {26, first},
        {26 + 2384, second},
        {26 + 2384 + 384, third}}},
      {"WGEndEnroll",
       [&] {
         WGEndEnroll(WGBeginEnroll(nullptr, 0, nullptr, nullptr, 0, nullptr), templateBuffer, &size,
                     &out);
       },
       WG_API_END_ENROLL,
       115,
       {}},
      {"WGEndValidateID",
       [&] { WGEndValidateID(WGBeginValidateID(nullptr, 0, &alice, nullptr)); },
       WG_API_END_VALIDATE_ID,
       20,
       {}},
      {"WGEndIdentify",
       [&] { WGEndIdentify(WGBeginIdentify(nullptr, 0, nullptr), &out); },
       WG_API_END_IDENTIFY,
       120,
       {}},
      {"WGEndVerify",
       [&] { WGEndVerify(WGBeginVerify(nullptr, 0, records, 1, nullptr), &size); },
       WG_API_END_VERIFY,
       22,
       {}},
      {"WGAbortTransaction", [] { WGAbortTransaction(0); }, WG_API_ABORT_TRANSACTION, 12, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    c.invoke();
    EXPECT_EQ(takeError(), 0);
    EXPECT_EQ(CurrentTransactionId(), 0u);
    ExpectRequest(lastRequest(c.type), c.type, c.size, c.fields);
  }
}

TEST_F(TransactionTest, IdsCountOnlyTheTransactionsThatStarted) {
  startAndAttach(
      Script({BeginEnrollReply(2384, WG_SENSOR_BUSY), BeginEnrollReply(8), "39:40:0:0000",
              BeginValidateIdReply(), BeginIdentifyReply(), BeginVerifyReply()}));
  int16_t size = 0;
  EXPECT_EQ(WGBeginEnroll(nullptr, 0, nullptr, nullptr, 0, &size), 0u);
  EXPECT_EQ(size, 2384) << "the template size is reported whatever the result";
  EXPECT_EQ(takeError(), 0) << "the server's refusal is no client error";
  EXPECT_TRUE(contains(traceTexts(), "ERROR WGBeginEnroll: server error starting transaction"));
  EXPECT_FALSE(IsTransactionActive());

  EXPECT_EQ(WGBeginEnroll(nullptr, 0, nullptr, nullptr, 0, &size), 1u);
  EXPECT_EQ(size, 8);
  EXPECT_TRUE(contains(traceTexts(), "WGBeginEnroll: transaction id =  0x1"));
  WGAbortTransaction(1);

  WGUserRecord user = TestUser("bob");
  EXPECT_EQ(WGBeginValidateID(nullptr, 0, &user, nullptr), 0u)
      << "a reply of another type is no reply";
  EXPECT_EQ(takeError(), WGERR_SERVER_NOT_RESPONDING);
  EXPECT_TRUE(contains(traceTexts(), "WGBeginValidateID: returning 0"));
  EXPECT_EQ(WGBeginValidateID(nullptr, 0, &user, nullptr), 2u);
  WGAbortTransaction(2);

  EXPECT_EQ(WGBeginIdentify(nullptr, 0, nullptr), 3u);
  WGAbortTransaction(3);
  auto record = SealedTestRecord(WG_SMALL_REFERENCE_TEMPLATE_TYPE, 0x44);
  const uint8_t* records[] = {record.data()};
  EXPECT_EQ(WGBeginVerify(nullptr, 0, records, 1, nullptr), 4u);
}

TEST_F(TransactionTest, SecondBeginLeavesTheFirstRunning) {
  WGUserRecord nobody = TestUser("");
  startAndAttach(Script({BeginIdentifyReply(), EndIdentifyReply(WG_NO_MATCH, nobody, Details(0))}));
  uint32_t id = WGBeginIdentify(nullptr, 0, nullptr);
  ASSERT_EQ(id, 1u);
  auto record = SealedTestRecord(WG_REFERENCE_TEMPLATE_TYPE, 0x55);
  const uint8_t* records[] = {record.data()};
  WGUserRecord user = TestUser("carol");
  struct Case {
    const char* name;
    std::function<uint32_t()> begin;
  } cases[] = {
      {"WGBeginEnroll", [&] { return WGBeginEnroll(nullptr, 0, nullptr, &user, 1, nullptr); }},
      {"WGBeginValidateID", [&] { return WGBeginValidateID(nullptr, 0, &user, nullptr); }},
      {"WGBeginIdentify", [&] { return WGBeginIdentify(nullptr, 0, nullptr); }},
      {"WGBeginVerify", [&] { return WGBeginVerify(nullptr, 0, records, 1, nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.begin(), 0u);
    EXPECT_EQ(takeError(), WGERR_CLIENT_PREV_TRNSACTN_IN_PROG);
    auto texts = traceTexts();
    EXPECT_TRUE(contains(texts, "ERROR " + std::string(c.name) + ": transaction already active"));
    EXPECT_TRUE(contains(texts, std::string(c.name) + ": returning WG_FUNCTION_FAILED"));
    EXPECT_TRUE(contains(texts, "EXITING " + std::string(c.name) + ": ERROR transaction active"));
    EXPECT_EQ(CurrentTransactionId(), id);
  }
  // An End with another id is refused and ends nothing either.
  EXPECT_EQ(WGEndIdentify(id + 1, nullptr), WG_FUNCTION_FAILED);
  EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID);
  EXPECT_TRUE(contains(traceTexts(), "EXITING WGEndIdentify: ERROR bad transaction"));
  EXPECT_EQ(CurrentTransactionId(), id);
  // Only the first Begin ever reached the server, and nothing was aborted.
  EXPECT_EQ(server_->requests().size(), 2u);  // connect and the first Begin
  EXPECT_EQ(WGEndIdentify(id, nullptr), WG_NO_MATCH);
  EXPECT_EQ(CurrentTransactionId(), 0u);
}

TEST_F(TransactionTest, ContinueTransaction) {
  startAndAttach(
      Script({BeginIdentifyReply(), ReplyBuilder(kEndIdentifyMsgSize).reply(WG_API_END_IDENTIFY)},
             {"--event-after", "41:5:3:400"}));
  uint32_t id = WGBeginIdentify(nullptr, 0, nullptr);
  ASSERT_EQ(id, 1u);
  EXPECT_EQ(WGContinueTransaction(id), nullptr) << "nothing waits yet";
  EXPECT_EQ(takeError(), 0) << "which is no error";

  WGEventMessage* event = awaitEvent(id);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->uiMessageType, WG_MSG_PROMPT);
  EXPECT_EQ(event->iSubCode, 3);
  EXPECT_EQ(event->pData, nullptr);
  WGReleaseMessage(event);
  EXPECT_TRUE(contains(traceTexts(), "WGContinueTransaction: returning uiMessageType =  0x5"));

  EXPECT_EQ(WGContinueTransaction(id + 1), nullptr);
  EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID) << "another transaction is running";
  auto texts = traceTexts();
  EXPECT_TRUE(contains(texts, "ERROR WGContinueTransaction: invalid transaction ID"));
  EXPECT_TRUE(contains(texts, "WGContinueTransaction: returning NULL"));
  EXPECT_TRUE(contains(texts, "EXITING WGContinueTransaction: ERROR bad transaction"));

  EXPECT_EQ(WGEndIdentify(id, nullptr), WG_OK);
  EXPECT_EQ(WGContinueTransaction(id), nullptr);
  EXPECT_EQ(takeError(), WGERR_CLIENT_NO_CURRENT_TRNSACTN) << "the old id is dead";

  uint32_t callbackId = WGBeginIdentify(Record, 0, nullptr);
  ASSERT_EQ(callbackId, 2u);
  EXPECT_EQ(WGContinueTransaction(callbackId), nullptr);
  EXPECT_EQ(takeError(), WGERR_CLIENT_PREV_TRNSACTN_IN_PROG);
  texts = traceTexts();
  EXPECT_TRUE(contains(
      texts,
      "ERROR WGContinueTransaction: Asynchronous callback active. Polled mode not available."));
  EXPECT_TRUE(contains(texts, "EXITING WGContinueTransaction: ERROR async mode active"));
  EXPECT_TRUE(IsCallbackMode()) << "the callback transaction goes on";
  WGAbortTransaction(callbackId);
}

TEST_F(TransactionTest, TimeoutEventEndsAPolledTransaction) {
  startAndAttach(
      Script({BeginIdentifyReply(), ReplyBuilder(kEndIdentifyMsgSize).reply(WG_API_END_IDENTIFY)},
             {"--event-after", "41:13:0:200"}));
  uint32_t id = WGBeginIdentify(nullptr, 0, nullptr);
  ASSERT_EQ(id, 1u);
  WGEventMessage* event = awaitEvent(id);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->uiMessageType, WG_MSG_TIMEOUT);
  WGReleaseMessage(event);
  EXPECT_EQ(CurrentTransactionId(), 0u);
  EXPECT_EQ(WGEndIdentify(id, nullptr), WG_FUNCTION_FAILED);
  EXPECT_EQ(takeError(), WGERR_CLIENT_NO_CURRENT_TRNSACTN);
  EXPECT_TRUE(server_->requestsOfType(WG_API_END_IDENTIFY).empty());
}

TEST_F(TransactionTest, EndEnrollWithoutBufferKeepsTheTransaction) {
  WGUserRecord enrolled = TestUser("dave", "Dave D.");
  std::vector<uint8_t> tmpl = {1, 2, 3, 4, 5, 6, 7, 8};
  startAndAttach(Script({BeginEnrollReply(8), EndEnrollReply(enrolled, tmpl, 8)}));
  uint32_t id = WGBeginEnroll(nullptr, 0, nullptr, &enrolled, 2, nullptr);
  ASSERT_EQ(id, 1u);
  uint8_t buffer[12];
  memset(buffer, 0xEE, sizeof buffer);
  int16_t size = -7;
  EXPECT_EQ(WGEndEnroll(id, nullptr, &size, nullptr), WG_BAD_POINTER);
  EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID);
  auto texts = traceTexts();
  EXPECT_TRUE(contains(texts, "ERROR WGEndEnroll: Bad parameter (NULL)."));
  EXPECT_TRUE(contains(texts, "WGEndEnroll: returning WG_BAD_POINTER"));
  EXPECT_EQ(WGEndEnroll(id, buffer, nullptr, nullptr), WG_BAD_POINTER);
  EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID);
  EXPECT_EQ(CurrentTransactionId(), id);
  EXPECT_TRUE(server_->requestsOfType(WG_API_END_ENROLL).empty());

  WGUserRecord out = TestUser("");
  EXPECT_EQ(WGEndEnroll(id, buffer, &size, &out), WG_OK);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 8), tmpl);
  EXPECT_EQ(buffer[8], 0xEE);
  EXPECT_STREQ(out.szDisplayName, "Dave D.");
  EXPECT_TRUE(contains(traceTexts(), "WGEndEnroll: retcode = "));
  EXPECT_FALSE(IsTransactionActive());
}

TEST_F(TransactionTest, MatchOutputsFollowTheResult) {
  WGUserRecord mallory = TestUser("mallory"), erin = TestUser("erin");
  startAndAttach(Script({BeginValidateIdReply(), BeginIdentifyReply(), BeginVerifyReply(),
                         EndValidateIdReply(WG_NO_MATCH, Details(0x50)),
                         EndIdentifyReply(WG_NO_MATCH, mallory, Details(0x10)),
                         EndIdentifyReply(WG_MATCH, erin, Details(0x20)),
                         EndVerifyReply(WG_NO_MATCH, 77, Details(0x30)),
                         EndVerifyReply(WG_MATCH, 55, Details(0x40))}));
  auto record = SealedTestRecord(WG_REFERENCE_TEMPLATE_TYPE, 0x66);
  const uint8_t* records[] = {record.data()};
  WGUserRecord claimed = TestUser("frank");
  struct Case {
    const char* what;
    std::function<WGResult(WGUserRecord*, int16_t*, WGServerMatchDetails*)> run;
    WGResult result;
    const char* userId;  // what the caller's record holds afterwards
    int16_t matchValue;  // what the caller's match value holds afterwards
    uint8_t details;     // first byte of the details afterwards
  } cases[] = {
      {"validate ID",
       [&](WGUserRecord*, int16_t*, WGServerMatchDetails* d) {
         return WGEndValidateIDEx(WGBeginValidateID(nullptr, 0, &claimed, nullptr), d, nullptr);
       },
       WG_NO_MATCH, "before", -1, 0x50},
      {"identify, no match",
       [&](WGUserRecord* u, int16_t*, WGServerMatchDetails* d) {
         return WGEndIdentifyEx(WGBeginIdentify(nullptr, 0, nullptr), u, d, nullptr);
       },
       WG_NO_MATCH, "before", -1, 0x10},
      {"identify, match",
       [&](WGUserRecord* u, int16_t*, WGServerMatchDetails* d) {
         return WGEndIdentifyEx(WGBeginIdentify(nullptr, 0, nullptr), u, d, nullptr);
       },
       WG_MATCH, "erin", -1, 0x20},
      {"verify, no match",
       [&](WGUserRecord*, int16_t* m, WGServerMatchDetails* d) {
         return WGEndVerifyEx(WGBeginVerify(nullptr, 0, records, 1, nullptr), m, d, nullptr);
       },
       WG_NO_MATCH, "before", 0, 0x30},
      {"verify, match",
       [&](WGUserRecord*, int16_t* m, WGServerMatchDetails* d) {
         return WGEndVerifyEx(WGBeginVerify(nullptr, 0, records, 1, nullptr), m, d, nullptr);
       },
       WG_MATCH, "before", 55, 0x40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WGUserRecord user = TestUser("before");
    int16_t matchValue = -1;
    WGServerMatchDetails details = Details(0xF0);
    EXPECT_EQ(c.run(&user, &matchValue, &details), c.result);
    EXPECT_STREQ(user.szUserID, c.userId);
    EXPECT_EQ(matchValue, c.matchValue);
    const WGServerMatchDetails expected = Details(c.details);
    EXPECT_EQ(BytesOf(&details, sizeof details), BytesOf(&expected, sizeof expected));
    EXPECT_EQ(takeError(), 0);
  }
}

TEST_F(TransactionTest, CapturingBasicCallAbortsTheTransaction) {
  startAndAttach(Script({BeginIdentifyReply(),
                         ReplyBuilder(kValidateIdMsgSize)
                             .i16(kValidateIdMsgResult, WG_MATCH)
                             .reply(WG_API_VALIDATE_ID),
                         ReplyBuilder(kEnrollMsgTemplate).reply(WG_API_ENROLL)}));
  WGUserRecord user = TestUser("gina");
  uint8_t buffer[16];
  int16_t size = 0;
  struct Case {
    const char* call;
    std::function<WGResult()> run;
    uint16_t type;
    WGResult result;
  } cases[] = {
      {"WhorlgateValidateID", [&] { return WhorlgateValidateID(&user, nullptr); },
       WG_API_VALIDATE_ID, WG_MATCH},
      {"WhorlgateEnroll", [&] { return WhorlgateEnroll(&user, 1, buffer, 16, &size, nullptr); },
       WG_API_ENROLL, WG_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    uint32_t id = WGBeginIdentify(nullptr, 0, nullptr);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(c.run(), c.result);
    auto requests = server_->requests();
    ASSERT_GE(requests.size(), 3u);
    size_t last = requests.size() - 1;
    EXPECT_EQ(requests[last - 2].type, WG_API_BEGIN_IDENTIFY);
    EXPECT_EQ(requests[last - 1].type, WG_API_ABORT_TRANSACTION) << "the abort goes out first";
    EXPECT_EQ(requests[last].type, c.type);
    EXPECT_EQ(CurrentTransactionId(), 0u);
    EXPECT_EQ(WGContinueTransaction(id), nullptr);
    EXPECT_EQ(takeError(), WGERR_CLIENT_NO_CURRENT_TRNSACTN) << "the transaction's id is dead";
  }
}

TEST_F(TransactionTest, CallbackModeDeliversTheEvents) {
  startAndAttach(Script({BeginValidateIdReply(), EndValidateIdReply(WG_MATCH, Details(0))},
                        {"--event-after", "39:5:3:200", "--event-after", "39:12:3:400",
                         "--event-after", "39:8:0:600"}));
  WGUserRecord user = TestUser("hank");
  uint32_t id = WGBeginValidateID(Record, 0xC0FFEE, &user, nullptr);
  ASSERT_EQ(id, 1u);
  auto completed = [] {
    for (const Seen& s : SeenSoFar()) {
      if (s.type == WG_MSG_TRANSACTION_COMPLETE) return true;
    }
    return false;
  };
  uint32_t start = platform::GetTickCount();
  while (!completed() && !platform::TickBudgetSpent(start, 10000)) platform::SleepMs(20);
  ASSERT_TRUE(completed());
  EXPECT_TRUE(IsCallbackMode()) << "the completion leaves the End call to the application";
  EXPECT_EQ(WGEndValidateID(id), WG_MATCH);
  size_t calls = SeenSoFar().size();
  platform::SleepMs(300);
  auto seen = SeenSoFar();
  EXPECT_LE(seen.size(), calls + 1) << "at most one idle message was under way at the End";

  std::vector<std::pair<uint16_t, int16_t>> events;
  int idle = 0;
  for (const Seen& s : seen) {
    EXPECT_EQ(s.userValue, 0xC0FFEEu);
    if (s.type == WG_MSG_IDLE) {
      ++idle;
    } else {
      events.emplace_back(s.type, s.subCode);
    }
  }
  EXPECT_EQ(events,
            (std::vector<std::pair<uint16_t, int16_t>>{
                {WG_MSG_PROMPT, 3}, {WG_API_END_OF_VIEW, 3}, {WG_MSG_TRANSACTION_COMPLETE, 0}}));
  EXPECT_GT(idle, 3) << "idle messages between the events";
}

TEST_F(TransactionTest, EndEnrollRefusesATemplateLargerThanAnnounced) {
  WGUserRecord enrolled = TestUser("ivan");
  std::vector<uint8_t> sixteen(16, 0xAB);
  struct Case {
    const char* what;
    std::string reply;
  } cases[] = {
      {"more than WGBeginEnroll reported", EndEnrollReply(enrolled, sixteen, 16)},
      {"more than the reply holds", EndEnrollReply(enrolled, {1, 2}, 8)},
      {"a negative size", EndEnrollReply(enrolled, sixteen, -1)},
  };
  std::vector<std::string> replies = {BeginEnrollReply(8)};
  for (const Case& c : cases) replies.push_back(c.reply);
  startAndAttach(Script(replies));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    uint32_t id = WGBeginEnroll(nullptr, 0, nullptr, &enrolled, 1, nullptr);
    ASSERT_NE(id, 0u);
    uint8_t buffer[8 + 8];
    memset(buffer, 0xEE, sizeof buffer);
    int16_t size = -7;
    WGUserRecord out = TestUser("before");
    EXPECT_EQ(WGEndEnroll(id, buffer, &size, &out), WG_FUNCTION_FAILED);
    EXPECT_EQ(takeError(), WGERR_CLIENT_SERVER_COMM_ERROR);
    EXPECT_TRUE(
        contains(traceTexts(), "ERROR WGEndEnroll: template larger than WGBeginEnroll reported"));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + sizeof buffer),
              std::vector<uint8_t>(sizeof buffer, 0xEE));
    EXPECT_EQ(size, -7);
    EXPECT_STREQ(out.szUserID, "before");
    EXPECT_EQ(CurrentTransactionId(), 0u) << "the transaction is over all the same";
  }
}

TEST_F(TransactionTest, RefusedBeginsSendNothing) {
  auto good = SealedTestRecord(WG_REFERENCE_TEMPLATE_TYPE, 0x77);
  auto corrupt = SealedTestRecord(WG_SMALL_REFERENCE_TEMPLATE_TYPE, 0x78);
  corrupt[200] ^= 0x01;
  const auto corruptBefore = corrupt;
  const uint8_t* withCorrupt[] = {good.data(), corrupt.data(), good.data()};
  const uint8_t* withNull[] = {good.data(), nullptr};
  // 27 large and 3 small records need 65546 bytes: 10 once wrapped to 16 bits.
  auto small = SealedTestRecord(WG_SMALL_REFERENCE_TEMPLATE_TYPE, 0x79);
  std::vector<const uint8_t*> tooMany(27, good.data());
  tooMany.insert(tooMany.end(), 3, small.data());
  struct Case {
    const char* what;
    std::function<uint32_t()> begin;
    int16_t error;
    std::vector<std::string> traces;
  } cases[] = {
      {"a record fails its check",
       [&] { return WGBeginVerify(nullptr, 0, withCorrupt, 3, nullptr); },
       0,
       {"WGBeginVerify: Input Template Corrupted.", "WGBeginVerify: returning 0"}},
      {"no record array",
       [&] { return WGBeginVerify(nullptr, 0, nullptr, 1, nullptr); },
       WGERR_PARAMETER_INVALID,
       {"ERROR WGBeginVerify: Bad parameter (NULL).", "WGBeginVerify: returning WG_BAD_POINTER"}},
      {"a null record",
       [&] { return WGBeginVerify(nullptr, 0, withNull, 2, nullptr); },
       WGERR_PARAMETER_INVALID,
       {"ERROR WGBeginVerify: Bad parameter (NULL)."}},
      {"a negative count",
       [&] { return WGBeginVerify(nullptr, 0, withNull, -1, nullptr); },
       WGERR_PARAMETER_INVALID,
       {"ERROR WGBeginVerify: bad number of records"}},
      {"a set beyond the 16-bit size",
       [&] { return WGBeginVerify(nullptr, 0, tooMany.data(), 30, nullptr); },
       WGERR_PARAMETER_INVALID,
       {"ERROR WGBeginVerify: template records too large for one message"}},
      {"no claimed user",
       [] { return WGBeginValidateID(nullptr, 0, nullptr, nullptr); },
       WGERR_PARAMETER_INVALID,
       {"ERROR WGBeginValidateID: Bad parameter (NULL).",
        "WGBeginValidateID: returning WG_BAD_POINTER"}},
  };
  startAndAttach(Script({BeginVerifyReply()}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.begin(), 0u);
    EXPECT_EQ(takeError(), c.error);
    auto texts = traceTexts();
    for (const auto& t : c.traces) EXPECT_TRUE(contains(texts, t)) << t;
  }
  EXPECT_EQ(corrupt, corruptBefore) << "the caller's records stay as they were";
  EXPECT_TRUE(server_->requests().empty()) << "not even a connect";

  // One small record fewer fits: 65162 bytes go out whole.
  tooMany.pop_back();
  EXPECT_EQ(WGBeginVerify(nullptr, 0, tooMany.data(), 29, nullptr), 1u);
  auto request = lastRequest(WG_API_BEGIN_VERIFY);
  ASSERT_EQ(request.size(), 26u + 27 * 2384 + 2 * 384);
  EXPECT_EQ(LoadU32(&request[0]), 65162u);
  EXPECT_EQ(std::vector<uint8_t>(request.end() - 384, request.end()), small);
}

}  // namespace
