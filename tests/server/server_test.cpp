// WGServer as clients meet it: the real program in its own process, reached through the real
// pipes and named objects, from this process and from client processes of their own.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "api/basic_messages.h"
#include "api/transaction_messages.h"
#include "connect/api_messages.h"
#include "local/acquire_messages.h"
#include "platform/sync.h"
#include "platform/time.h"
#include "platform/window_object.h"
#include "shared/little_endian.h"
#include "shared/pipe.h"
#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"
#include "whorlgate/wg_basic.h"
#include "whorlgate/wg_template.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint32_t kOwnPid = static_cast<uint32_t>(getpid());

bool WaitUntil(const std::function<bool()>& condition, uint32_t budgetMs) {
  uint32_t start = platform::GetTickCount();
  while (!condition()) {
    if (platform::TickBudgetSpent(start, budgetMs)) return false;
    platform::SleepMs(10);
  }
  return true;
}

// A message of `length` bytes whose header says what a well-behaved client's would; the cases
// below then break what they test.
Bytes Message(uint16_t type, uint32_t length, uint32_t pid = kOwnPid) {
  Bytes m(std::max(length, kApiMsgHeaderSize));
  StoreU32(m.data() + kApiMsgSize, length);
  StoreU32(m.data() + kApiMsgProcessId, pid);
  StoreU16(m.data() + kApiMsgType, type);
  if (type == WG_API_CONNECT && length >= kConnectMsgSize) {
    StoreI32(m.data() + kConnectMsgPipeNumber, static_cast<int32_t>(pid));
  }
  m.resize(length);
  return m;
}

// A reply as the server must write it: size, this client's process ID, the request's type.
Bytes Reply(uint16_t type, const Bytes& payload) {
  Bytes m = Message(type, kApiMsgHeaderSize + static_cast<uint32_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), m.begin() + kApiMsgHeaderSize);
  return m;
}

const Bytes kConnectReply = Reply(WG_API_CONNECT, {0x00, 0x00});                     // WG_OK
const Bytes kTemplateSizeReply = Reply(WG_API_GETTEMPLATESIZE, {0x50, 0x09, 0, 0});  // 2384, WG_OK
const Bytes kAbortReply = Reply(WG_API_ABORT_TRANSACTION, {0x00, 0x00});             // WG_OK

// A pipe pair as a client holds it: its own input pipe (created) and the server pipe (opened).
class PipeClient {
 public:
  explicit PipeClient(uint32_t number = kOwnPid) {
    opened_ = WGOpenInputMessagePipe(&input_, static_cast<int32_t>(number)) == 0 &&
              WGOpenOutputMessagePipe(&server_, kServerPipeNumber) == 0;
  }
  ~PipeClient() { close(); }
  bool opened() const { return opened_; }
  void close() {
    WGCloseMessagePipe(&input_);
    WGCloseMessagePipe(&server_);
  }
  void send(const Bytes& message) {
    ASSERT_EQ(WGSendPipeMessage(&server_, message.data(), static_cast<uint32_t>(message.size())),
              0);
  }
  // One raw pipe record into the server pipe, header fields as given.
  void sendRecord(uint32_t bytesToFollow, const Bytes& chunk) {
    Bytes record(kPipeRecordHeaderSize + chunk.size());
    StoreU32(record.data() + kPipeRecSize, static_cast<uint32_t>(record.size()));
    StoreI32(record.data() + kPipeRecPipeNumber, kServerPipeNumber);
    StoreU16(record.data() + kPipeRecType, kPipeRecordType);
    StoreU32(record.data() + kPipeRecBytesToFollow, bytesToFollow);
    StoreU32(record.data() + kPipeRecChunkLength, static_cast<uint32_t>(chunk.size()));
    std::copy(chunk.begin(), chunk.end(), record.begin() + kPipeRecordHeaderSize);
    ASSERT_EQ(WGWriteOutputPipe(&server_, record.data(), static_cast<uint32_t>(record.size())), 0);
  }
  // The next message in the client's own pipe; empty when none came within the budget.
  Bytes read(uint32_t budgetMs = 5000) {
    uint32_t length = 0;
    uint8_t* message = WGReadPipe(&input_, budgetMs, &length);
    Bytes result(message, message + (message ? length : 0));
    free(message);
    return result;
  }

 private:
  PipeCntl input_{};
  PipeCntl server_{};
  bool opened_ = false;
};

class ServerTest : public IsolatedTest {
 protected:
  // server_ is never waited for by a test, so a started one is still ours to stop.
  void TearDown() override {
    if (server_.pid() > 0) {
      server_.kill(SIGTERM);
      server_.wait(5000);
    }
    IsolatedTest::TearDown();
  }

  // Starts WGServer and waits until a client can find it; by then every object a client goes
  // for next must exist.
  void startServer(PeerProcess& server) {
    ASSERT_TRUE(server.startProgram(WG_SERVER, {}));
    ASSERT_TRUE(WaitUntil([] { return platform::WindowObjectExists(kServerWindowClass); }, 10000));
    for (const char* name : {kServerWaitingSignal, kServerRunningSignal}) {
      platform::Event* signal = platform::OpenNamedEvent(name);
      EXPECT_NE(signal, nullptr) << name;
      platform::CloseNamedEvent(signal);
    }
    PipeCntl pipe{};
    EXPECT_EQ(WGOpenOutputMessagePipe(&pipe, kServerPipeNumber), 0);
    WGCloseMessagePipe(&pipe);
  }

  // Names of the object files present, the namespace lock aside.
  std::vector<std::string> objectFiles() const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(scratch() + "/objects", ignored)) {
      std::string name = entry.path().filename();
      if (name != ".lock") names.push_back(name);
    }
    return names;
  }

  // The three objects of the pipe numbered `pid`.
  std::vector<std::string> pipeFiles(uint32_t pid) const {
    char mapping[kPipeNameLength], event[kPipeNameLength], mutex[kPipeNameLength];
    WGMakePipeObjectNames(mapping, event, mutex, static_cast<int32_t>(pid));
    return {objectFile(mapping), objectFile(event), objectFile(mutex)};
  }
  bool anyExists(const std::vector<std::string>& files) const {
    for (const auto& f : files) {
      if (std::filesystem::exists(f)) return true;
    }
    return false;
  }

  PeerProcess server_;
};

std::string ExpectedReplyLine(uint16_t type, uint32_t pid, const Bytes& reply) {
  std::string line = "reply " + std::to_string(type) + " " + std::to_string(reply.size()) + " " +
                     std::to_string(pid) + " ";
  char hex[3];
  for (size_t i = kApiMsgHeaderSize; i < reply.size(); ++i) {
    snprintf(hex, sizeof hex, "%02x", reply[i]);
    line += hex;
  }
  return line;
}

TEST_F(ServerTest, HandshakeAndConnectAreAnsweredInTheClientsOwnPipe) {
  startServer(server_);
  platform::Event* waiting = platform::OpenNamedEvent(kServerWaitingSignal);
  platform::Event* running = platform::OpenNamedEvent(kServerRunningSignal);
  ASSERT_TRUE(waiting && running);
  platform::SetEvent(waiting);
  EXPECT_TRUE(platform::WaitForEvent(running, 5000));
  platform::CloseNamedEvent(waiting);
  platform::CloseNamedEvent(running);

  PipeClient client;
  ASSERT_TRUE(client.opened());
  client.send(Message(WG_API_CONNECT, kConnectMsgSize));
  EXPECT_EQ(client.read(), kConnectReply);
  client.send(Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize));
  EXPECT_EQ(client.read(), kTemplateSizeReply);
}

// The server was restarted under a running client: the client never connects again.
TEST_F(ServerTest, ServesAClientThatNeverConnected) {
  startServer(server_);
  PipeClient client;
  ASSERT_TRUE(client.opened());
  client.send(Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize));
  EXPECT_EQ(client.read(), kTemplateSizeReply);
  client.send(Message(WG_API_ABORT_TRANSACTION, kAbortMsgSize));
  EXPECT_EQ(client.read(), kAbortReply);
}

TEST_F(ServerTest, TwoClientsGetTheirOwnRepliesInTheirOwnPipes) {
  startServer(server_);
  PeerProcess first, second;
  ASSERT_TRUE(first.startProgram(WG_SERVER_CLIENT, {"connect", "size", "hold"}));
  ASSERT_TRUE(second.startProgram(WG_SERVER_CLIENT, {"connect", "size", "hold"}));
  for (PeerProcess* client : {&first, &second}) {
    // Each reply line carries the process ID the server wrote into the reply's header.
    uint32_t pid = static_cast<uint32_t>(client->pid());
    EXPECT_EQ(client->readLine(), ExpectedReplyLine(WG_API_CONNECT, pid, kConnectReply));
    EXPECT_EQ(client->readLine(),
              ExpectedReplyLine(WG_API_GETTEMPLATESIZE, pid, kTemplateSizeReply));
    EXPECT_EQ(client->readLine(), "holding");
  }
}

struct MalformedCase {
  const char* what;
  std::function<void(PipeClient&)> send;
};

// The texts of the user record in the messages that carry one at offset `at`.
constexpr uint32_t UserIdAt(uint32_t at) { return at + offsetof(WGUserRecord, szUserID); }
constexpr uint32_t DisplayNameAt(uint32_t at) { return at + offsetof(WGUserRecord, szDisplayName); }

// A pipe whose number is no process's ID: nobody may be served through it.
constexpr uint32_t kNoProcess = 0x7FFFFFF0;

TEST_F(ServerTest, MalformedRequestsAreDroppedAndTheNextOneIsServed) {
  startServer(server_);
  PipeClient client;
  PipeClient orphan(kNoProcess);
  ASSERT_TRUE(client.opened() && orphan.opened());
  auto withSizeField = [](uint32_t sizeField) {
    Bytes m = Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize);
    StoreU32(m.data() + kApiMsgSize, sizeField);
    return m;
  };
  const MalformedCase cases[] = {
      {"shorter than the header",
       [](PipeClient& c) { c.send(Message(WG_API_GETTEMPLATESIZE, 6)); }},
      {"size field larger than the message", [&](PipeClient& c) { c.send(withSizeField(20)); }},
      {"size field smaller than the message", [&](PipeClient& c) { c.send(withSizeField(12)); }},
      {"type 0", [](PipeClient& c) { c.send(Message(0, 14)); }},
      {"type 14, not used", [](PipeClient& c) { c.send(Message(14, 14)); }},
      {"type 51, past the last", [](PipeClient& c) { c.send(Message(51, 14)); }},
      {"an event, which only the server sends",
       [](PipeClient& c) { c.send(Message(WG_API_EVENT, 16)); }},
      {"template size query shorter than its type",
       [](PipeClient& c) { c.send(Message(WG_API_GETTEMPLATESIZE, 12)); }},
      {"connect shorter than its type", [](PipeClient& c) { c.send(Message(WG_API_CONNECT, 12)); }},
      {"connect naming a foreign pipe",
       [](PipeClient& c) {
         Bytes m = Message(WG_API_CONNECT, kConnectMsgSize);
         StoreI32(m.data() + kConnectMsgPipeNumber, static_cast<int32_t>(kOwnPid + 1));
         c.send(m);
       }},
      {"process ID 0, the server's own pipe",
       [](PipeClient& c) { c.send(Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize, 0)); }},
      {"process ID of the trace pipe",
       [](PipeClient& c) {
         c.send(Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize,
                        static_cast<uint32_t>(kTracePipeNumber)));
       }},
      {"process ID of no process, its pipe present",
       [](PipeClient& c) {
         c.send(Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize, kNoProcess));
       }},
      {"longer than any request",
       [](PipeClient& c) { c.send(Message(WG_API_GETTEMPLATESIZE, 70000)); }},
      {"first chunk whose announced rest never comes",
       [](PipeClient& c) {
         c.sendRecord(100, Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize));
       }},
      {"first chunk announcing nearly 4 GB",
       [](PipeClient& c) {
         c.sendRecord(0xFFFFFF00, Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize));
       }},
      {"chunks that make a message longer than its size field",
       [](PipeClient& c) {
         c.sendRecord(4, Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize));
         c.sendRecord(0, {1, 2, 3, 4});
       }},
      {"open stream shorter than its type",
       [](PipeClient& c) { c.send(Message(WG_API_OPEN_STREAM, 16)); }},
      {"blocking enroll shorter than its type",
       [](PipeClient& c) { c.send(Message(WG_API_ENROLL, kEnrollMsgSize - 1)); }},
      {"begin enroll whose user ID does not end in its field",
       [](PipeClient& c) {
         Bytes m = Message(WG_API_BEGIN_ENROLL, kBeginEnrollMsgSize);
         StoreU32(m.data() + kBeginEnrollMsgHasUser, 1);
         std::fill_n(m.begin() + UserIdAt(kBeginEnrollMsgUser), WG_USER_ID_LENGTH, 'x');
         c.send(m);
       }},
      {"begin validate ID whose display name does not end in its field",
       [](PipeClient& c) {
         Bytes m = Message(WG_API_BEGIN_VALIDATE_ID, kBeginValidateIdMsgSize);
         std::fill_n(m.begin() + DisplayNameAt(kBeginValidateIdMsgUser), WG_DISPLAY_NAME_LENGTH,
                     'x');
         c.send(m);
       }},
      {"begin verify shorter than the smallest record",
       [](PipeClient& c) { c.send(Message(WG_API_BEGIN_VERIFY, kBeginVerifyMsgRecords + 100)); }},
      {"acquisition whose record does not open",
       [](PipeClient& c) {
         Bytes m = Message(WG_API_BEGIN_ACQUIRE_IMAGE,
                           kBeginAcquireMsgRecord + WG_REFERENCE_TEMPLATE_SIZE);
         StoreU32(m.data() + kBeginAcquireMsgHasRecord, 1);
         c.send(m);
       }},
      {"init shorter than its type", [](PipeClient& c) { c.send(Message(WG_API_INIT, 14)); }},
      {"init whose application block runs past the message",
       [](PipeClient& c) {
         Bytes m = Message(WG_API_INIT, kInitMsgAppData + 4);
         StoreU16(m.data() + kInitMsgAppLength, 5);
         c.send(m);
       }},
      {"user record whose user ID does not end in its field",
       [](PipeClient& c) {
         Bytes m = Message(WG_API_DELETE_USER, kUserMsgSize);
         std::fill_n(m.begin() + UserIdAt(kUserMsgUser), WG_USER_ID_LENGTH, 'x');
         c.send(m);
       }},
      {"user record whose display name does not end in its field",
       [](PipeClient& c) {
         Bytes m = Message(WG_API_SET_DISPLAY_NAME, kUserMsgSize);
         std::fill_n(m.begin() + DisplayNameAt(kUserMsgUser), WG_DISPLAY_NAME_LENGTH, 'x');
         c.send(m);
       }},
      {"previous user of a walk not ending in its field",
       [](PipeClient& c) {
         Bytes m = Message(WG_API_GET_NEXT_USER, kNextUserMsgSize);
         std::fill_n(m.begin() + UserIdAt(kNextUserMsgUser), WG_USER_ID_LENGTH, 'x');
         c.send(m);
       }},
      {"user info request shorter than its type",
       [](PipeClient& c) { c.send(Message(WG_API_GET_USER_INFO, kUserInfoMsgSize - 1)); }},
      {"service request shorter than its type",
       [](PipeClient& c) { c.send(Message(WG_API_SERVICE_REQUEST, kServiceMsgSize - 1)); }},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.what);
    c.send(client);
    client.send(Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize));
    // Nothing answers the bad request, neither before the good one's reply nor after it.
    EXPECT_EQ(client.read(), kTemplateSizeReply);
    EXPECT_TRUE(client.read(300).empty());
    EXPECT_TRUE(orphan.read(0).empty());
  }
}

TEST_F(ServerTest, DisconnectLetsGoOfTheClientsPipe) {
  startServer(server_);
  PeerProcess client;
  ASSERT_TRUE(client.startProgram(WG_SERVER_CLIENT, {"connect", "disconnect", "close", "hold"}));
  ASSERT_EQ(client.readLine().substr(0, 7), "reply 2");
  ASSERT_EQ(client.readLine(), "disconnected");
  ASSERT_EQ(client.readLine(), "closed");
  ASSERT_EQ(client.readLine(), "holding");
  // The client lives on with its pipe closed: only the server could still hold the objects.
  std::vector<std::string> files = pipeFiles(static_cast<uint32_t>(client.pid()));
  EXPECT_TRUE(WaitUntil([&] { return !anyExists(files); }, 5000));
}

TEST_F(ServerTest, ADeadClientsSessionIsReleased) {
  startServer(server_);
  PeerProcess client;
  ASSERT_TRUE(client.startProgram(WG_SERVER_CLIENT, {"connect", "hold"}));
  ASSERT_EQ(client.readLine().substr(0, 7), "reply 2");
  ASSERT_EQ(client.readLine(), "holding");
  std::vector<std::string> files = pipeFiles(static_cast<uint32_t>(client.pid()));
  ASSERT_TRUE(anyExists(files));
  client.kill(SIGKILL);
  ASSERT_EQ(client.wait(), 128 + SIGKILL);
  // The server noticed within its look-out period and closed the pipe it held.
  EXPECT_TRUE(WaitUntil([&] { return !anyExists(files); }, 5000));

  PipeClient survivor;
  ASSERT_TRUE(survivor.opened());
  survivor.send(Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize));
  EXPECT_EQ(survivor.read(), kTemplateSizeReply);
}

TEST_F(ServerTest, ASecondServerRefusesToStart) {
  startServer(server_);
  PeerProcess second;
  ASSERT_TRUE(second.startProgram(WG_SERVER, {}));
  EXPECT_EQ(second.wait(), 1);
  EXPECT_NE(second.readLine().find("already running"), std::string::npos);

  // The first one still owns everything and serves.
  EXPECT_TRUE(platform::WindowObjectExists(kServerWindowClass));
  PipeClient client;
  ASSERT_TRUE(client.opened());
  client.send(Message(WG_API_GETTEMPLATESIZE, kTemplateSizeMsgSize));
  EXPECT_EQ(client.read(), kTemplateSizeReply);
}

TEST_F(ServerTest, AStopSignalLeavesNoObjectBehind) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    PeerProcess server;
    startServer(server);
    {
      // A session, so that a client pipe is among what the server must let go.
      PipeClient client;
      ASSERT_TRUE(client.opened());
      client.send(Message(WG_API_CONNECT, kConnectMsgSize));
      ASSERT_EQ(client.read(), kConnectReply);
    }
    server.kill(signal);
    EXPECT_EQ(server.wait(), 0);
    // A killed holder leaves its files; only closing every handle removes them.
    EXPECT_EQ(objectFiles(), std::vector<std::string>{});
  }
}

TEST_F(ServerTest, InformationOptionsAnswerWithoutStartingAServer) {
  struct Case {
    const char* option;
    int status;
    const char* firstLine;
  };
  const Case cases[] = {
      {"--help", 0, "usage: WGServer [--help | --version]"},
      {"--version", 0, "WGServer 4, 1, 0, 1"},
      {"--serve-forever", 2, "usage: WGServer [--help | --version]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    PeerProcess program;
    ASSERT_TRUE(program.startProgram(WG_SERVER, {c.option}));
    EXPECT_EQ(program.readLine(), c.firstLine);
    EXPECT_EQ(program.wait(), c.status);
    EXPECT_EQ(objectFiles(), std::vector<std::string>{});
  }
}

}  // namespace
