#include <unistd.h>

#include <cstring>
#include <functional>

#include "api/comm_port_messages.h"
#include "tests/rpc/request_fields.h"
#include "tests/rpc/rpc_fixture.h"
#include "tests/rpc/service_script.h"
#include "whorlgate.h"

namespace {


std::string CommReply(uint16_t type, int16_t result, const Bytes& data = {}, uint16_t count = 0) {
  ReplyBuilder reply(kCommMsgFixedSize + static_cast<uint32_t>(data.size()));
  reply.i16(kCommMsgResult, result).u16(kCommMsgCount, count);
  if (!data.empty()) reply.bytes(kCommMsgData, data.data(), data.size());
  return reply.reply(type);
}

class CommPortTest : public RpcTest {};

TEST_F(CommPortTest, RequestLayouts) {
  startAndAttach({"--reply", CommReply(WG_API_GET_COMM_PORT, WG_OK),
                  "--reply", CommReply(WG_API_READ_COMM_PORT, WG_OK),
                  "--reply", CommReply(WG_API_WRITE_COMM_PORT, WG_OK),
                  "--reply", CommReply(WG_API_RELEASE_COMM_PORT, WG_OK)});
  const uint8_t config[] = {'c', 'f', 'g'};
  uint8_t buffer[] = {'w', 'x', 'y', 'z'};
  uint16_t count = 0;
  const uint8_t hello[] = {'h', 'e', 'l', 'l', 'o'};
  struct Case {
    const char* call;
    std::function<WGResult()> invoke;
    uint16_t type;
    uint32_t size;
    std::vector<RequestField> fields;
  } cases[] = {
      {"WGGetCommPort", [&] { return WGGetCommPort(config, 3); }, WG_API_GET_COMM_PORT, 24,
       {{12, Le16(0)}, {14, Le32(0)}, {18, Le16(3)}, {20, {'c', 'f', 'g'}}}},
      {"WGReadCommPort", [&] { return WGReadCommPort(buffer, 4, &count, 0xCAFEF00D); }, WG_API_READ_COMM_PORT, 25,
       {{12, Le16(0)}, {14, Le32(0xCAFEF00D)}, {18, Le16(4)}, {20, {'w', 'x', 'y', 'z'}}}},
      {"WGWriteCommPort", [&] { return WGWriteCommPort(hello, 5); }, WG_API_WRITE_COMM_PORT, 26,
       {{12, Le16(0)}, {14, Le32(0)}, {18, Le16(5)}, {20, {'h', 'e', 'l', 'l', 'o'}}}},
      {"WGWriteCommPort, nothing to write", [&] { return WGWriteCommPort(nullptr, 0); }, WG_API_WRITE_COMM_PORT, 21,
       {{12, Le16(0)}, {14, Le32(0)}, {18, Le16(0)}}},
      {"WGReleaseCommPort", [&] { return WGReleaseCommPort(config, 1); }, WG_API_RELEASE_COMM_PORT, 22,
       {{12, Le16(0)}, {14, Le32(0)}, {18, Le16(1)}, {20, {'c'}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(c.invoke(), WG_OK);
    EXPECT_EQ(takeError(), 0);
    auto found = server_->requestsOfType(c.type);
    ASSERT_FALSE(found.empty());
    ExpectRequest(found.back().bytes, c.type, c.size, c.fields);
  }
  EXPECT_TRUE(contains(traceTexts(), "WGReleaseCommPort: retval ="));
}

TEST_F(CommPortTest, ReadResultHandling) {
  const Bytes abc = {'a', 'b', 'c'};
  struct Case {
    const char* what;
    std::string reply;
    WGResult result;
    uint16_t count;
    int16_t error;
  } cases[] = {
      {"three bytes read", CommReply(WG_API_READ_COMM_PORT, WG_OK, abc, 3), WG_OK, 3, 0},
      {"nothing read", CommReply(WG_API_READ_COMM_PORT, WG_OK, abc, 0), WG_OK, 0, 0},
      {"the server fails the read", CommReply(WG_API_READ_COMM_PORT, WG_USER_CANCELED, abc, 3), WG_USER_CANCELED, 0, 0},
      {"more than the buffer holds", CommReply(WG_API_READ_COMM_PORT, WG_OK, Bytes(9, 'm'), 9), WG_FUNCTION_FAILED, 0,
       WGERR_CLIENT_SERVER_COMM_ERROR},
      {"more than the reply holds", CommReply(WG_API_READ_COMM_PORT, WG_OK, abc, 6), WG_FUNCTION_FAILED, 0,
       WGERR_CLIENT_SERVER_COMM_ERROR},
      {"an answer of another type", "27:28:0:0000", WG_FUNCTION_FAILED, 0, WGERR_SERVER_NOT_RESPONDING},
  };
  std::vector<std::string> script;
  for (const Case& c : cases) script.insert(script.end(), {"--reply", c.reply});
  startAndAttach(script);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes buffer(8, 0xEE);
    uint16_t count = 0x5555;
    EXPECT_EQ(WGReadCommPort(buffer.data(), 8, &count, 0), c.result);
    EXPECT_EQ(count, c.count);
    Bytes expected(8, 0xEE);
    if (c.count) std::copy(abc.begin(), abc.end(), expected.begin());
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(takeError(), c.error);
  }
  EXPECT_TRUE(contains(traceTexts(), "ERROR WGReadCommPort: timed out waiting for server reply, returning WG_FUNCTION_FAILED"));
}

TEST_F(CommPortTest, SizesThatWouldWrapAreRefused) {
  startAndAttach({"--reply", CommReply(WG_API_WRITE_COMM_PORT, WG_OK)});
  Bytes data(WG_COMM_PORT_MAX_DATA + 1, 0x5A);
  EXPECT_EQ(WGWriteCommPort(data.data(), WG_COMM_PORT_MAX_DATA), WG_OK);
  auto written = server_->requestsOfType(WG_API_WRITE_COMM_PORT);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].bytes.size(), 65535u) << "the longest message there is";

  uint16_t count = 7;
  struct Case {
    const char* what;
    std::function<WGResult()> invoke;
  } refused[] = {
      {"write one byte more", [&] { return WGWriteCommPort(data.data(), WG_COMM_PORT_MAX_DATA + 1); }},
      {"get with the longest length", [&] { return WGGetCommPort(data.data(), 0xFFFF); }},
      {"read into a buffer too large", [&] { return WGReadCommPort(data.data(), WG_COMM_PORT_MAX_DATA + 1, &count, 0); }},
      {"data missing", [&] { return WGReleaseCommPort(nullptr, 2); }},
      {"count missing", [&] { return WGReadCommPort(data.data(), 4, nullptr, 0); }},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.invoke(), WG_FUNCTION_FAILED);
    EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID);
  }
  EXPECT_EQ(count, 0) << "a refused read reads nothing";
  EXPECT_EQ(server_->requests().size(), 2u) << "the connect and the one write";
}

TEST_F(CommPortTest, RestartMakesTwoExchangesOrOne) {
  const ServiceBytes answer = MarkedAnswer();
  startAndAttach({"--reply", ServiceReply(answer, WG_OK), "--reply", ServiceReply(answer, WG_OK),
                  "--reply", ServiceReply(answer, WG_NO_MATCH),
                  "--reply", ServiceReply(answer, WG_OK), "--reply", ServiceReply(answer, WG_UNKNOWN)});
  EXPECT_EQ(WGRestartCommPort(), WG_OK);
  auto requests = server_->requestsOfType(WG_API_SERVICE_REQUEST);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(PlainServiceBlock(requests[0]), PreparatoryBlock());
  ServiceBytes restart = answer;
  restart[0] = 12;
  restart[159] = 0;
  EXPECT_EQ(PlainServiceBlock(requests[1]), restart) << "the answer comes back as command 12";

  EXPECT_EQ(WGRestartCommPort(), WG_FUNCTION_FAILED) << "preparatory request refused";
  EXPECT_EQ(server_->requestsOfType(WG_API_SERVICE_REQUEST).size(), 3u);
  EXPECT_EQ(WGRestartCommPort(), WG_FUNCTION_FAILED) << "restart refused";
  EXPECT_EQ(server_->requestsOfType(WG_API_SERVICE_REQUEST).size(), 5u);
  EXPECT_EQ(takeError(), 0);
}

}  // namespace
