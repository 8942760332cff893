#include <unistd.h>

#include <cstring>
#include <functional>

#include "api/basic_messages.h"
#include "connect/api_messages.h"
#include "local/template_record.h"
#include "tests/rpc/reply_builder.h"
#include "tests/rpc/request_fields.h"
#include "tests/rpc/rpc_fixture.h"
#include "whorlgate.h"

namespace {

std::string Reply(uint16_t type, uint32_t size, int16_t result, uint32_t resultOffset) {
  return ReplyBuilder(size).i16(resultOffset, result).reply(type);
}

class BasicCallsTest : public RpcTest {
 protected:
  // A server that answers every basic call with WG_OK and nothing else.
  std::vector<std::string> okEverywhere() {
    return {"--reply", Reply(WG_API_ENROLL, kEnrollMsgTemplate, WG_OK, kEnrollMsgResult),
            "--reply", Reply(WG_API_VALIDATE_ID, kValidateIdMsgSize, WG_MATCH, kValidateIdMsgResult),
            "--reply", Reply(WG_API_VALIDATE_FINGERS, kValidateFingersMsgRecord, WG_MATCH, kValidateFingersMsgResult),
            "--reply", Reply(WG_API_IDENTIFY, kIdentifyMsgSize, WG_NO_MATCH, kIdentifyMsgResult),
            "--reply", Reply(WG_API_DELETE_USER, kUserMsgSize, WG_OK, kUserMsgResult),
            "--reply", ReplyBuilder(kInitMsgAppData + 1).u32(kInitMsgContext, 77).reply(WG_API_INIT),
            "--reply", Reply(WG_API_CLOSE, kCloseMsgSize, WG_OK, kCloseMsgResult),
            "--reply", Reply(WG_API_SERVICE_REQUEST, kServiceMsgSize, WG_OK, kServiceMsgResult),
            "--reply", Reply(WG_API_GET_LEDS, kWordMsgSize, WG_OK, kWordMsgResult),
            "--reply", Reply(WG_API_SET_LEDS, kWordMsgSize, WG_OK, kWordMsgResult),
            "--reply", Reply(WG_API_GET_VERSION, kVersionMsgSize, WG_OK, kVersionMsgResult),
            "--reply", Reply(WG_API_GET_NUMBER_USERS, kWordMsgSize, WG_OK, kWordMsgResult),
            "--reply", Reply(WG_API_GET_USER_INFO, kUserInfoMsgSize, WG_OK, kUserInfoMsgResult),
            "--reply", Reply(WG_API_DELETE_FINGER, kDeleteFingerMsgSize, WG_OK, kDeleteFingerMsgResult),
            "--reply", Reply(WG_API_SET_DISPLAY_NAME, kUserMsgSize, WG_OK, kUserMsgResult),
            "--reply", Reply(WG_API_DELETE_ALL_ENROLLED_USERS, kDeleteAllMsgSize, WG_OK, kDeleteAllMsgResult),
            "--reply", Reply(WG_API_GET_NEXT_USER, kNextUserMsgSize, WG_OK, kNextUserMsgResult)};
  }
  // The last request of `type` the server received.
  std::vector<uint8_t> lastRequest(uint16_t type) {
    auto found = server_->requestsOfType(type);
    return found.empty() ? std::vector<uint8_t>{} : found.back().bytes;
  }
};

TEST_F(BasicCallsTest, RequestLayouts) {
  startAndAttach(okEverywhere());
  const WGUserRecord alice = TestUser("alice", "Alice A.");
  const WGCaptureOptions options{0x0102, 0x0304, 0x05060708};
  uint8_t templateBuffer[3000];
  int16_t templateSize = 0;
  auto record = SealedTestRecord();
  WGServiceBlock block;
  for (int i = 0; i < WG_SERVICE_BLOCK_SIZE; ++i) block.aucBlock[i] = static_cast<uint8_t>(i);
  WGUserRecord next = TestUser("bob");
  uint32_t word = 0;
  WGUserInfo info;
  const uint8_t appData[] = {3, 0, 'x', 'y', 'z'};

  struct Case {
    const char* call;
    std::function<void()> invoke;
    uint16_t type;
    uint32_t size;
    std::vector<RequestField> fields;
  } cases[] = {
      {"WhorlgateEnroll", [&] { WhorlgateEnroll(&alice, 3, templateBuffer, 2500, &templateSize, &options); },
       WG_API_ENROLL, 127,
       {{10, BytesOf(&alice, 100)}, {110, Le16(3)}, {112, BytesOf(&options, 8)}, {122, Le16(2500)}}},
      {"WhorlgateEnroll without options", [&] { WhorlgateEnroll(&alice, 99, templateBuffer, 2500, &templateSize, nullptr); },
       WG_API_ENROLL, 127, {{110, Le16(99)}, {112, Le32(0)}}},
      {"WhorlgateValidateID", [&] { WhorlgateValidateID(&alice, &options); }, WG_API_VALIDATE_ID, 120,
       {{10, BytesOf(&alice, 100)}, {110, BytesOf(&options, 8)}}},
      {"WhorlgateValidateFingers", [&] { WhorlgateValidateFingers(record.data(), &options); },
       WG_API_VALIDATE_FINGERS, 20 + WG_REFERENCE_TEMPLATE_SIZE,
       {{10, BytesOf(&options, 8)}, {20, record}}},
      {"WhorlgateIdentify", [&] { WGUserRecord out = TestUser(""); WhorlgateIdentify(&out, &options); },
       WG_API_IDENTIFY, 120, {{10, BytesOf(&options, 8)}}},
      {"WhorlgateDeleteUser", [&] { WhorlgateDeleteUser(&alice); }, WG_API_DELETE_USER, 112, {{10, BytesOf(&alice, 100)}}},
      {"WhorlgateInit", [&] { WhorlgateInit(nullptr); }, WG_API_INIT, 21, {{10, Le32(1)}, {18, Le16(0)}}},
      {"WhorlgateInit with data", [&] { WhorlgateInit(appData); }, WG_API_INIT, 23,
       {{10, Le32(1)}, {18, Le16(3)}, {20, {'x', 'y', 'z'}}}},
      {"WhorlgateClose", [&] { WhorlgateClose(0xABCD); }, WG_API_CLOSE, 16, {{10, Le32(0xABCD)}}},
      {"WGServiceRequest", [&] { WGServiceRequest(&block); }, WG_API_SERVICE_REQUEST, 172, {{10, BytesOf(&block, 160)}}},
      {"WhorlgateGetNextUser", [&] { WhorlgateGetNextUser(77, &next); }, WG_API_GET_NEXT_USER, 116,
       {{10, Le32(77)}, {14, BytesOf(&next, 100)}}},
      {"WhorlgateGetLeds", [&] { WhorlgateGetLeds(&word); }, WG_API_GET_LEDS, 16, {}},
      {"WhorlgateSetLeds", [&] { WhorlgateSetLeds(0x11223344); }, WG_API_SET_LEDS, 16, {{10, Le32(0x11223344)}}},
      {"WhorlgateGetVersion", [&] { WhorlgateGetVersion(nullptr, nullptr, nullptr); }, WG_API_GET_VERSION, 100, {}},
      {"WhorlgateGetNumberUsers", [&] { WhorlgateGetNumberUsers(&word); }, WG_API_GET_NUMBER_USERS, 16, {}},
      {"WhorlgateGetUserInfo", [&] { WhorlgateGetUserInfo(&alice, &info); }, WG_API_GET_USER_INFO, 231,
       {{10, BytesOf(&alice, 100)}}},
      {"WhorlgateDeleteFinger", [&] { WhorlgateDeleteFinger(&alice, -4); }, WG_API_DELETE_FINGER, 114,
       {{10, BytesOf(&alice, 100)}, {110, Le16(0xFFFC)}}},
      {"WhorlgateSetDisplayName", [&] { WhorlgateSetDisplayName(&alice); }, WG_API_SET_DISPLAY_NAME, 112,
       {{10, BytesOf(&alice, 100)}}},
      {"WhorlgateDeleteAllEnrolledUsers", [] { WhorlgateDeleteAllEnrolledUsers(); },
       WG_API_DELETE_ALL_ENROLLED_USERS, 12, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    c.invoke();
    EXPECT_EQ(takeError(), 0);
    ExpectRequest(lastRequest(c.type), c.type, c.size, c.fields);
  }
}

TEST_F(BasicCallsTest, EnrollFirstAsksForTheTemplateSize) {
  startAndAttach();
  int16_t size = 0;
  uint8_t buffer[10];
  EXPECT_EQ(WhorlgateEnroll(nullptr, 99, nullptr, 0, &size, nullptr), WG_OK);
  EXPECT_EQ(size, 2384);
  size = 0;
  EXPECT_EQ(WhorlgateEnroll(nullptr, 99, buffer, 0, &size, nullptr), WG_OK) << "size 0 asks too";
  EXPECT_EQ(size, 2384);
  EXPECT_EQ(WhorlgateEnroll(nullptr, 99, nullptr, 0, nullptr, nullptr), WG_FUNCTION_FAILED);
  EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID);
  EXPECT_TRUE(contains(traceTexts(), "ERROR WhorlgateEnroll: bad piTemplateResultSize pointer (NULL)"));
  EXPECT_TRUE(server_->requestsOfType(WG_API_ENROLL).empty());
}

TEST_F(BasicCallsTest, EnrollCopiesTheTemplateOnlyWhenItFits) {
  const char tmpl[] = "TEMPLATE";
  startAndAttach({"--reply", ReplyBuilder(kEnrollMsgTemplate + 8).i16(kEnrollMsgResult, WG_OK)
                                 .i16(kEnrollMsgTemplateSize, 8).bytes(kEnrollMsgTemplate, tmpl, 8).reply(WG_API_ENROLL),
                  "--reply", ReplyBuilder(kEnrollMsgTemplate).i16(kEnrollMsgResult, WG_USER_ALREADY_ENROLLED).reply(WG_API_ENROLL),
                  "--reply", ReplyBuilder(kEnrollMsgTemplate + 8).i16(kEnrollMsgTemplateSize, 8).reply(WG_API_ENROLL),
                  "--reply", ReplyBuilder(kEnrollMsgTemplate + 2).i16(kEnrollMsgTemplateSize, 8).reply(WG_API_ENROLL)});
  WGUserRecord user = TestUser("carol");
  uint8_t buffer[16];
  memset(buffer, 0xEE, sizeof buffer);
  int16_t size = -1;
  EXPECT_EQ(WhorlgateEnroll(&user, 1, buffer, 16, &size, nullptr), WG_OK);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(memcmp(buffer, tmpl, 8), 0);
  EXPECT_EQ(buffer[8], 0xEE);

  memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(WhorlgateEnroll(&user, 1, buffer, 16, &size, nullptr), WG_USER_ALREADY_ENROLLED);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(buffer[0], 0xEE) << "template size 0 copies nothing";

  // More than the caller's buffer, and more than the reply holds: refused, nothing copied.
  for (int16_t bufferSize : {4, 16}) {
    SCOPED_TRACE(bufferSize);
    EXPECT_EQ(WhorlgateEnroll(&user, 1, buffer, bufferSize, &size, nullptr), WG_FUNCTION_FAILED);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(takeError(), WGERR_CLIENT_SERVER_COMM_ERROR);
  }
}

TEST_F(BasicCallsTest, CorruptTemplateRecordSendsNothing) {
  startAndAttach(okEverywhere());
  auto record = SealedTestRecord();
  record[100] ^= 0x01;
  auto before = record;
  EXPECT_EQ(WhorlgateValidateFingers(record.data(), nullptr), WG_FUNCTION_FAILED);
  EXPECT_EQ(record, before) << "the caller's record stays as it was";
  EXPECT_EQ(takeError(), 0) << "no client error for a bad record";
  EXPECT_TRUE(contains(traceTexts(), "WhorlgateValidateFingers: Input Template Corrupted."));
  EXPECT_EQ(WhorlgateValidateFingers(nullptr, nullptr), WG_FUNCTION_FAILED);
  EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID);
  EXPECT_TRUE(server_->requests().empty());
}

TEST_F(BasicCallsTest, CloseWithoutContextContactsNobody) {
  startAndAttach({"--reply", ReplyBuilder(kDetailsMsgSize).reply(WG_API_GET_RESULT_DETAILS)});
  EXPECT_EQ(WhorlgateClose(0), WG_FUNCTION_FAILED);
  EXPECT_TRUE(contains(traceTexts(), "ERROR WhorlgateClose: context handle is NULL"));
  EXPECT_TRUE(server_->requests().empty()) << "not even a connect";
  // The pending client error comes first, then the server's own explanation.
  char text[256];
  uint32_t flags = 0;
  EXPECT_EQ(WhorlgateGetResultDetails(text, &flags), WGERR_PARAMETER_INVALID);
  EXPECT_STREQ(text, "WGERR_PARAMETER_INVALID: An invalid parameter has been passed into a Whorlgate function.");
  EXPECT_EQ(flags, 0x02u);
}

TEST_F(BasicCallsTest, ResultDetailsPreferAPendingClientError) {
  startAndAttach({"--reply", ReplyBuilder(kDetailsMsgSize).u32(kDetailsMsgFlags, 0x40)
                                 .text(kDetailsMsgText, "Finger moved too fast.").i16(kDetailsMsgResult, WG_BAD_IMAGE)
                                 .reply(WG_API_GET_RESULT_DETAILS)});
  ASSERT_TRUE(ReportClientError(WGERR_CLIENT_NO_CURRENT_TRNSACTN, nullptr));
  char text[256];
  uint32_t flags = 0;
  EXPECT_EQ(WhorlgateGetResultDetails(text, &flags), WGERR_CLIENT_NO_CURRENT_TRNSACTN);
  EXPECT_STREQ(text, "WGERR_CLIENT_NO_CURRENT_TRNSACTN: There is not current transaction in progress.");
  EXPECT_EQ(flags, 0x02u);
  EXPECT_EQ(WhorlgateGetResultDetails(text, &flags), WG_BAD_IMAGE);
  EXPECT_STREQ(text, "Finger moved too fast.");
  EXPECT_EQ(flags, 0x40u);
  EXPECT_EQ(WhorlgateGetResultDetails(nullptr, nullptr), WG_BAD_IMAGE) << "outputs are optional";
}

TEST_F(BasicCallsTest, ResultDetailsWithoutAServer) {
  startAndAttach();
  char text[256] = "";
  uint32_t flags = 0x1234;
  server_->stop();  // the call looks for the server for about 5 seconds, then gives up
  EXPECT_EQ(WhorlgateGetResultDetails(text, &flags), WGERR_CLIENT_SERVER_COMM_ERROR);
  EXPECT_STREQ(text, "WGERR_SERVER_NOT_RESPONDING: Whorlgate server server is not available and can not be restarted.");
  EXPECT_EQ(flags, 0x1234u) << "flags are left alone";
}

TEST_F(BasicCallsTest, EnumerationEndsOnAnEmptyUserId) {
  WGUserRecord first = TestUser("alice", "Alice"), second = TestUser("bob", "Bob"), none = TestUser("");
  auto next = [](const WGUserRecord& user) {
    return ReplyBuilder(kNextUserMsgSize).bytes(kNextUserMsgUser, &user, sizeof user).reply(WG_API_GET_NEXT_USER);
  };
  startAndAttach({"--reply", next(first), "--reply", next(second), "--reply", next(none),
                  "--reply", "19:18:0:0000"});
  std::vector<std::string> seen;
  WGUserRecord cursor = TestUser("");
  while (WhorlgateGetNextUser(5, &cursor) == WG_OK && cursor.szUserID[0]) seen.emplace_back(cursor.szUserID);
  EXPECT_EQ(seen, (std::vector<std::string>{"alice", "bob"}));
  auto requests = server_->requestsOfType(WG_API_GET_NEXT_USER);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&requests[1].bytes[kNextUserMsgUser + 2])), "alice")
      << "each request names the previous user";

  // No answer also ends the loop.
  cursor = TestUser("bob", "Bob");
  EXPECT_EQ(WhorlgateGetNextUser(5, &cursor), WG_FUNCTION_FAILED);
  EXPECT_STREQ(cursor.szUserID, "");
  EXPECT_STREQ(cursor.szDisplayName, "");
  EXPECT_EQ(takeError(), WGERR_SERVER_NOT_RESPONDING);
  EXPECT_EQ(WhorlgateGetNextUser(0, &cursor), WG_FUNCTION_FAILED);
}

std::string ListPiece(uint32_t total, const std::vector<WGUserRecord>& users, size_t from, size_t count,
                      uint32_t more, int16_t result = WG_OK, uint32_t position = 0) {
  std::vector<uint8_t> piece;
  if (from == 0) {
    piece.resize(8);
    StoreU32(&piece[4], static_cast<uint32_t>(users.size()));
  }
  for (size_t i = from; i < from + count; ++i) {
    auto* p = reinterpret_cast<const uint8_t*>(&users[i]);
    piece.insert(piece.end(), p, p + sizeof(WGUserRecord));
  }
  ReplyBuilder reply(kListMsgPiece + static_cast<uint32_t>(piece.size()));
  reply.i16(kListMsgResult, result).u32(kListMsgTotal, total).u32(kListMsgPieceSize, static_cast<uint32_t>(piece.size()))
      .u32(kListMsgMore, more).u32(kListMsgPosition, position);
  if (!piece.empty()) reply.bytes(kListMsgPiece, piece.data(), piece.size());
  return reply.reply(WG_API_GET_LIST_OF_ALL_USERS);
}

TEST_F(BasicCallsTest, UserListArrivesInPieces) {
  std::vector<WGUserRecord> users = {TestUser("u1"), TestUser("u2"), TestUser("u3")};
  uint32_t total = 8 + 3 * 100;
  startAndAttach({"--reply", ListPiece(total, users, 0, 1, 2, WG_OK, 0xA1),
                  "--reply", ListPiece(total, users, 1, 1, 1, WG_OK, 0xA2),
                  "--reply", ListPiece(total, users, 2, 1, 0, WG_OK, 0xA3)});
  WGUserList* list = nullptr;
  ASSERT_EQ(WhorlgateGetListOfAllUsers(&list), WG_OK);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->ulNumberOfUsers, 3u);
  EXPECT_STREQ(list->users[0].szUserID, "u1");
  EXPECT_STREQ(list->users[1].szUserID, "u2");
  EXPECT_STREQ(list->users[2].szUserID, "u3");
  WhorlgateDeleteUserList(list);
  WhorlgateDeleteUserList(nullptr);
  auto requests = server_->requestsOfType(WG_API_GET_LIST_OF_ALL_USERS);
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& r : requests) EXPECT_EQ(r.bytes.size(), 37u);
  EXPECT_EQ(LoadU32(&requests[1].bytes[kListMsgPosition]), 0xA1u) << "the server's position comes back";
  EXPECT_EQ(LoadU32(&requests[2].bytes[kListMsgPosition]), 0xA2u);
}

TEST_F(BasicCallsTest, BrokenUserListLeavesNothingBehind) {
  std::vector<WGUserRecord> users = {TestUser("u1"), TestUser("u2"), TestUser("u3")};
  uint32_t total = 8 + 3 * 100;
  struct Case {
    const char* what;
    uint32_t announced;  // the total the first piece announces
    std::string second;
    int16_t error;
  } cases[] = {
      {"the server fails the second piece", total, ListPiece(total, users, 1, 1, 1, -3), 0},
      {"the second answer is of another type", total, "49:50:0:0000", WGERR_SERVER_NOT_RESPONDING},
      {"the pieces outgrow the total", 108, ListPiece(108, users, 1, 2, 0), WGERR_CLIENT_SERVER_COMM_ERROR},
  };
  std::vector<std::string> script;
  for (const Case& c : cases) {
    script.insert(script.end(), {"--reply", ListPiece(c.announced, users, 0, 1, 1), "--reply", c.second});
  }
  startAndAttach(script);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WGUserList* list = reinterpret_cast<WGUserList*>(0x1);
    EXPECT_EQ(WhorlgateGetListOfAllUsers(&list), WG_FUNCTION_FAILED);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(takeError(), c.error);
  }
}

TEST_F(BasicCallsTest, RepliesThatWouldRunAnApplicationPastTheirEndAreRefusedOrEnded) {
  std::vector<WGUserRecord> users = {TestUser("u1"), TestUser("u2"), TestUser("u3")};
  // A whole list of one record that says it holds three users.
  WGUserRecord unterminated;
  memset(&unterminated, 'x', sizeof unterminated);
  startAndAttach({"--reply", ListPiece(8 + 100, users, 0, 1, 0),
                  "--reply", ReplyBuilder(kIdentifyMsgSize)
                                 .bytes(kIdentifyMsgUser, &unterminated, sizeof unterminated)
                                 .i16(kIdentifyMsgResult, WG_MATCH)
                                 .reply(WG_API_IDENTIFY)});
  WGUserList* list = reinterpret_cast<WGUserList*>(0x1);
  EXPECT_EQ(WhorlgateGetListOfAllUsers(&list), WG_FUNCTION_FAILED);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(takeError(), WGERR_CLIENT_SERVER_COMM_ERROR);
  // User texts that do not end in their fields are ended there.
  WGUserRecord found = {};
  EXPECT_EQ(WhorlgateIdentify(&found, nullptr), WG_MATCH);
  EXPECT_EQ(strlen(found.szUserID), sizeof found.szUserID - 1);
  EXPECT_EQ(strlen(found.szDisplayName), sizeof found.szDisplayName - 1);
}

TEST_F(BasicCallsTest, OutputsOfTheSmallCalls) {
  WGUserInfo info;
  memset(&info, 0x6B, sizeof info);
  startAndAttach({"--reply", ReplyBuilder(kWordMsgSize).u32(kWordMsgValue, 0x5).reply(WG_API_GET_LEDS),
                  "--reply", ReplyBuilder(kWordMsgSize).u32(kWordMsgValue, 42).reply(WG_API_GET_NUMBER_USERS),
                  "--reply", "45:44:0:0000",
                  "--reply", ReplyBuilder(kVersionMsgSize).text(kVersionMsgText1, "FW 2.1").text(kVersionMsgText2, "Stand-in sensor").reply(WG_API_GET_VERSION),
                  "--reply", ReplyBuilder(kUserInfoMsgSize).bytes(kUserInfoMsgInfo, &info, sizeof info).i16(kUserInfoMsgResult, WG_OK).reply(WG_API_GET_USER_INFO),
                  "--reply", ReplyBuilder(kInitMsgAppData + 1).u32(kInitMsgContext, 0xC0DE).reply(WG_API_INIT)});
  uint32_t value = 0;
  EXPECT_EQ(WhorlgateGetLeds(&value), WG_OK);
  EXPECT_EQ(value, 5u);
  EXPECT_EQ(WhorlgateGetNumberUsers(&value), WG_OK);
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(WhorlgateGetNumberUsers(&value), WG_FUNCTION_FAILED);
  EXPECT_EQ(value, 0u) << "no reply: the count is 0";
  EXPECT_EQ(takeError(), WGERR_SERVER_NOT_RESPONDING);
  char first[10], second[78], library[260];
  EXPECT_EQ(WhorlgateGetVersion(first, second, library), WG_OK);
  EXPECT_STREQ(first, "FW 2.1");
  EXPECT_STREQ(second, "Stand-in sensor");
  WGUserInfo got;
  WGUserRecord user = TestUser("dave");
  EXPECT_EQ(WhorlgateGetUserInfo(&user, &got), WG_OK);
  EXPECT_EQ(memcmp(&got, &info, sizeof info), 0);
  EXPECT_EQ(WhorlgateInit(nullptr), 0xC0DEu);
  EXPECT_EQ(WhorlgateGetLeds(nullptr), WG_FUNCTION_FAILED);
  EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID);
  EXPECT_TRUE(contains(traceTexts(), "ERROR WhorlgateGetLeds: bad input pointer (NULL)"));
}

TEST_F(BasicCallsTest, IdentifyCopiesTheUserWhateverTheResult) {
  WGUserRecord found = TestUser("erin", "Erin");
  startAndAttach({"--reply", ReplyBuilder(kIdentifyMsgSize).bytes(kIdentifyMsgUser, &found, sizeof found)
                                 .i16(kIdentifyMsgResult, WG_NO_MATCH).reply(WG_API_IDENTIFY)});
  WGUserRecord out = TestUser("");
  EXPECT_EQ(WhorlgateIdentify(&out, nullptr), WG_NO_MATCH);
  EXPECT_STREQ(out.szUserID, "erin");
  EXPECT_EQ(WhorlgateIdentify(nullptr, nullptr), WG_FUNCTION_FAILED);
  EXPECT_TRUE(contains(traceTexts(), "ERROR WhorlgateIdentify: user id is NULL"));
}

}  // namespace
