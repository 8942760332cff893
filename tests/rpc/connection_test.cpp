#include <unistd.h>

#include "connect/api_exchange.h"
#include "connect/api_messages.h"
#include "platform/time.h"
#include "shared/little_endian.h"
#include "tests/rpc/rpc_fixture.h"
#include "whorlgate/wg_results.h"

namespace {

using ConnectionTest = RpcTest;

TEST_F(ConnectionTest, FirstCallConnectsAndLaterCallsDoNot) {
  startAndAttach();
  EXPECT_EQ(GetMaxTemplateSize(), 2384);
  EXPECT_EQ(GetMaxTemplateSize(), 2384);
  auto requests = server_->requests();
  ASSERT_EQ(requests.size(), 3u);
  const auto& connect = requests[0].bytes;
  ASSERT_EQ(requests[0].type, WG_API_CONNECT);
  ASSERT_EQ(connect.size(), 16u);
  EXPECT_EQ(LoadU32(&connect[0]), 16u);
  EXPECT_EQ(LoadU32(&connect[4]), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(LoadI32(&connect[12]), getpid()) << "the client pipe is numbered by the process";
  for (int i : {1, 2}) {
    EXPECT_EQ(requests[i].type, WG_API_GETTEMPLATESIZE);
    ASSERT_EQ(requests[i].bytes.size(), 14u);
    EXPECT_EQ(LoadU32(&requests[i].bytes[0]), 14u);
  }
  EXPECT_TRUE(contains(traceTexts(), "EXITING InitPipeCommunications - pipe control already initialized (not an error)"));
}

TEST_F(ConnectionTest, ConnectAnsweredWithAnotherTypeLeavesItUnconnected) {
  startAndAttach({"--reply", "2:5:0:0000", "--reply", "2:2:0:0000"});
  EXPECT_EQ(GetMaxTemplateSize(), 0);
  EXPECT_EQ(takeError(), WGERR_SERVER_NOT_RESPONDING) << "the handshake's error comes first";
  EXPECT_EQ(m_pInputPipeCntl, nullptr);
  EXPECT_TRUE(contains(traceTexts(), "ERROR InitPipeCommunications: Did not get connect message from server."));
  EXPECT_EQ(GetMaxTemplateSize(), 2384) << "the next call shakes hands again";
  EXPECT_EQ(server_->requestsOfType(WG_API_CONNECT).size(), 2u);
}

TEST_F(ConnectionTest, RepliesThatDoNotFitFailTheCall) {
  struct Case {
    const char* what;
    std::string reply;
    int16_t error;
  } cases[] = {
      {"reply of another type", "5:11:0:50090000", WGERR_SERVER_NOT_RESPONDING},
      {"reply shorter than its fields", "5:5:0:5009", WGERR_SERVER_NOT_RESPONDING},
      {"server refuses", "5:5:0:50090100", WGERR_CLIENT_SERVER_COMM_ERROR},
  };
  std::vector<std::string> script;
  for (const Case& c : cases) {
    script.push_back("--reply");
    script.push_back(c.reply);
  }
  startAndAttach(script);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(GetMaxTemplateSize(), 0);
    EXPECT_EQ(takeError(), c.error);
  }
}

TEST_F(ConnectionTest, TemplateSizeQueryGivesUpAfterOneSecond) {
  startAndAttach({"--reply", "5:none"});
  uint32_t start = platform::GetTickCount();
  EXPECT_EQ(GetMaxTemplateSize(), 0);
  uint32_t spent = platform::GetTickCount() - start;
  EXPECT_GE(spent, 1000u);
  EXPECT_LT(spent, 4000u);
  EXPECT_EQ(takeError(), WGERR_SERVER_NOT_RESPONDING);
  EXPECT_TRUE(contains(traceTexts(), "WGRpcUtilWaitAPIMsg (GetMaxTemplateSize) time out waiting for server."));
}

TEST_F(ConnectionTest, EventDuringAWaitIsDroppedAndTheCallGetsItsReply) {
  startAndAttach({"--event-before", "5:2:7:0"});
  EXPECT_EQ(GetMaxTemplateSize(), 2384);
  auto texts = traceTexts();
  EXPECT_TRUE(contains(texts, "WGRPC: WGRPC: Received async. event  0x2"));
  EXPECT_TRUE(contains(texts, "WGRPC: WGRPC: Dropped async. event while waiting on API result 0x5"));
}

TEST_F(ConnectionTest, AbortingRequestEndsTheRunningTransactionFirst) {
  startAndAttach({"--reply", "6:6:0:0000"});
  SetEventRegistration(nullptr, 0, true, true);
  ASSERT_NE(CurrentTransactionId(), 0u);
  uint8_t request[12] = {};
  WGRpcUtilFillHeader(request, sizeof request, WG_API_ENROLL);
  ASSERT_TRUE(WGRpcUtilSendAPIMsg(request, sizeof request, "WhorlgateEnroll", true));
  uint8_t* reply = WGRpcUtilWaitAPIMsg(WG_API_ENROLL, 10000, "WhorlgateEnroll", 12);
  ASSERT_NE(reply, nullptr);
  free(reply);
  EXPECT_EQ(CurrentTransactionId(), 0u);
  auto requests = server_->requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].type, WG_API_ABORT_TRANSACTION);
  EXPECT_EQ(requests[1].bytes.size(), 12u);
  EXPECT_EQ(requests[2].type, WG_API_ENROLL);

  // Without a transaction nothing is aborted.
  ASSERT_TRUE(WGRpcUtilSendAPIMsg(request, sizeof request, "WhorlgateEnroll", true));
  free(WGRpcUtilWaitAPIMsg(WG_API_ENROLL, 10000, "WhorlgateEnroll", 12));
  EXPECT_EQ(server_->requestsOfType(WG_API_ABORT_TRANSACTION).size(), 1u);
}

TEST_F(ConnectionTest, MissingServerSignalsAreAFatalClientFault) {
  // Present through its window, but without the signals of the handshake.
  ASSERT_TRUE(server_->start({"--no-waiting-signal"}));
  EXPECT_FALSE(InitPipeCommunications());
  char text[kClientErrorTextLength];
  EXPECT_EQ(TakeClientError(text, nullptr), WGERR_FATAL_CLIENT_FAULT);
  EXPECT_STREQ(text, "Could not open client -to- server signals.");
  EXPECT_EQ(m_pInputPipeCntl, nullptr);
}

TEST_F(ConnectionTest, ServerThatNeverRunsIsNotResponding) {
  startAndAttach({"--no-running"});
  uint32_t start = platform::GetTickCount();
  EXPECT_FALSE(InitPipeCommunications());
  EXPECT_GE(platform::GetTickCount() - start, 5000u);
  EXPECT_EQ(takeError(), WGERR_SERVER_NOT_RESPONDING);
  EXPECT_EQ(server_->requests().size(), 0u);
}

TEST_F(ConnectionTest, UnansweredConnectLeavesItUnconnected) {
  startAndAttach({"--reply", "2:none"});
  uint32_t start = platform::GetTickCount();
  EXPECT_FALSE(InitPipeCommunications());
  EXPECT_GE(platform::GetTickCount() - start, 10000u);
  EXPECT_EQ(takeError(), WGERR_SERVER_NOT_RESPONDING);
  EXPECT_EQ(m_pOutputPipeCntl, nullptr);
}

TEST_F(ConnectionTest, DetachSaysGoodbyeOnceWhenConnected) {
  startAndAttach();
  ASSERT_TRUE(InitPipeCommunications());
  WGRpcProcessDetach();
  attached_ = false;
  auto goodbyes = server_->awaitRequests(WG_API_DISCONNECT, 1);
  ASSERT_EQ(goodbyes.size(), 1u);
  ASSERT_EQ(goodbyes[0].bytes.size(), 10u);
  EXPECT_EQ(LoadU32(&goodbyes[0].bytes[0]), 10u);
  EXPECT_EQ(LoadU32(&goodbyes[0].bytes[4]), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(m_pInputPipeCntl, nullptr);
  DisconnectFromServer();
  EXPECT_EQ(server_->requestsOfType(WG_API_DISCONNECT).size(), 1u) << "not connected: no goodbye";
}

}  // namespace
