// The user store, the settings and the other calls that need no finger, end to end: the real
// WGServer on a real SQLite file, reached through the client library's basic calls from this
// process and from applications linked against libwgrpc.so.
#include <signal.h>
#include <sqlite3.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/basic_messages.h"
#include "connect/client_error.h"
#include "connect/process_attach.h"
#include "connect/service_block.h"
#include "connect/settings_table.h"
#include "local/cipher.h"
#include "platform/time.h"
#include "platform/window_object.h"
#include "server/server_messages.h"
#include "server/user_store.h"
#include "shared/little_endian.h"
#include "shared/trace.h"
#include "tests/server/sealed_record.h"
#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"
#include "whorlgate/wg_basic.h"

namespace {

bool WaitUntil(const std::function<bool()>& condition, uint32_t budgetMs) {
  uint32_t start = platform::GetTickCount();
  while (!condition()) {
    if (platform::TickBudgetSpent(start, budgetMs)) return false;
    platform::SleepMs(10);
  }
  return true;
}

WGUserRecord User(const std::string& id, const std::string& name = "") {
  WGUserRecord user = {WG_USER_RECORD_SIZE, "", ""};
  strncpy(user.szUserID, id.c_str(), sizeof user.szUserID - 1);
  strncpy(user.szDisplayName, name.c_str(), sizeof user.szDisplayName - 1);
  return user;
}

std::string Details() {
  char text[WG_RESULT_DETAILS_TEXT_SIZE] = {};
  WhorlgateGetResultDetails(text, nullptr);
  return text;
}

uint32_t NumberOfUsers() {
  uint32_t count = 0xFFFFFFFF;
  EXPECT_EQ(WhorlgateGetNumberUsers(&count), WG_OK);
  return count;
}

class StoreServerTest : public IsolatedTest {
 protected:
  void TearDown() override {
    if (attached_) WGRpcProcessDetach();
    TakeClientError(nullptr, nullptr);
    TraceShutdown();
    stopServer(SIGTERM);
    IsolatedTest::TearDown();
  }

  // Writes users into the store as enrollment would, before the server opens it.
  void seed(const std::string& id, const std::string& name, const std::vector<int16_t>& fingers) {
    UserStore store;
    std::string error;
    ASSERT_TRUE(store.open(UserStorePath(), &error)) << error;
    for (int16_t finger : fingers) {
      std::vector<uint8_t> record = SealedRecord(finger);
      ASSERT_EQ(store.addFinger(id, name, finger, record.data(),
                                static_cast<uint16_t>(record.size())),
                StoreOutcome::kDone);
    }
  }

  // Starts WGServer and, the first time, attaches this process's library to it.
  void startServer() {
    server_ = std::make_unique<PeerProcess>();
    ASSERT_TRUE(server_->startProgram(WG_SERVER, {}));
    ASSERT_TRUE(WaitUntil([] { return platform::WindowObjectExists(kServerWindowClass); }, 10000));
    if (!attached_) {
      const char* cause = nullptr;
      static int anchor;
      ASSERT_TRUE(WGRpcProcessAttach(&anchor, &cause)) << cause;
      attached_ = true;
    }
  }
  void stopServer(int signal) {
    if (!server_) return;
    server_->kill(signal);
    server_->wait(5000);
    server_.reset();
  }
  // A server killed without warning, and a new one: the library goes on as it was.
  void restartServer() {
    stopServer(SIGKILL);
    startServer();
  }

  std::vector<std::string> traceTexts() {
    std::vector<std::string> texts;
    TraceRecord record;
    while (TraceTakeRecord(&record, sizeof record)) texts.emplace_back(record.szText);
    return texts;
  }

  std::unique_ptr<PeerProcess> server_;
  bool attached_ = false;
};

TEST_F(StoreServerTest, ALongListComesInPiecesAndTheWalkVisitsEveryUser) {
  const int users = 200;  // 20,008 bytes of list: three pieces
  {
    UserStore store;
    std::string error;
    ASSERT_TRUE(store.open(UserStorePath(), &error)) << error;
    std::vector<uint8_t> record = SealedRecord(1);
    for (int i = users - 1; i >= 0; --i) {
      char id[16];
      snprintf(id, sizeof id, "user%03d", i);
      ASSERT_EQ(store.addFinger(id, std::string("Name ") + id, 1, record.data(),
                                static_cast<uint16_t>(record.size())),
                StoreOutcome::kDone);
    }
  }
  startServer();
  EXPECT_EQ(NumberOfUsers(), static_cast<uint32_t>(users));

  traceTexts();
  WGUserList* list = nullptr;
  ASSERT_EQ(WhorlgateGetListOfAllUsers(&list), WG_OK);
  ASSERT_NE(list, nullptr);
  int exchanges = 0;
  for (const std::string& text : traceTexts()) {
    if (text.find("WhorlgateGetListOfAllUsers: waiting for response") != std::string::npos) {
      ++exchanges;
    }
  }
  EXPECT_EQ(exchanges, 3);
  EXPECT_EQ(list->ulServerValue, static_cast<uint32_t>(WG_USER_RECORD_SIZE));
  ASSERT_EQ(list->ulNumberOfUsers, static_cast<uint32_t>(users));
  for (int i = 0; i < users; ++i) {
    char id[16];
    snprintf(id, sizeof id, "user%03d", i);
    EXPECT_EQ(list->users[i].uiRecordSize, WG_USER_RECORD_SIZE);
    EXPECT_STREQ(list->users[i].szUserID, id);
    EXPECT_EQ(std::string(list->users[i].szDisplayName), std::string("Name ") + id);
  }
  WhorlgateDeleteUserList(list);

  WGContextHandle context = WhorlgateInit(nullptr);
  ASSERT_NE(context, 0u);
  WGUserRecord user = User("");
  int walked = 0;
  while (WhorlgateGetNextUser(context, &user) == WG_OK && user.szUserID[0]) {
    char id[16];
    snprintf(id, sizeof id, "user%03d", walked++);
    EXPECT_STREQ(user.szUserID, id);
    // A user deleted behind the walk neither stops it nor makes it repeat.
    if (walked == 10) {
      EXPECT_EQ(WhorlgateDeleteUser(&user), WG_OK);
    }
  }
  EXPECT_EQ(walked, users);
  EXPECT_EQ(user.szUserID[0], '\0');
  EXPECT_EQ(WhorlgateClose(context), WG_OK);
  EXPECT_EQ(NumberOfUsers(), static_cast<uint32_t>(users - 1));
}

TEST_F(StoreServerTest, AnEmptyStoreListsNoUser) {
  startServer();
  WGUserList* list = nullptr;
  ASSERT_EQ(WhorlgateGetListOfAllUsers(&list), WG_OK);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->ulNumberOfUsers, 0u);
  WhorlgateDeleteUserList(list);
  EXPECT_EQ(NumberOfUsers(), 0u);
}

TEST_F(StoreServerTest, UserInfoDeleteFingerAndDeleteAll) {
  seed("alice", "Alice Arden", {7, 3});
  seed("bob", "Bob Brook", {1});
  time_t before = time(nullptr);
  startServer();

  WGUserRecord alice = User("alice");
  WGUserInfo info = {};
  ASSERT_EQ(WhorlgateGetUserInfo(&alice, &info), WG_OK);
  const uint8_t* b = info.aucInfo;
  EXPECT_EQ(LoadU16(b + kInfoSize), kInfoLength);
  EXPECT_STREQ(reinterpret_cast<const char*>(b + kInfoUserId), "alice");
  EXPECT_STREQ(reinterpret_cast<const char*>(b + kInfoDisplayName), "Alice Arden");
  EXPECT_EQ(b[kInfoFingerCount], 2);
  EXPECT_EQ(b[kInfoFingers], 3);
  EXPECT_EQ(b[kInfoFingers + 1], 7);
  for (uint32_t i = 2; i < kInfoFingerSlots; ++i) EXPECT_EQ(b[kInfoFingers + i], kInfoNoFinger);
  uint32_t created = LoadU32(b + kInfoCreated);
  EXPECT_LE(created, static_cast<uint32_t>(before));
  EXPECT_GE(created + 60, static_cast<uint32_t>(before));
  EXPECT_GE(LoadU32(b + kInfoLastEnrolled), created);

  EXPECT_EQ(WhorlgateDeleteFinger(&alice, 7), WG_OK);
  ASSERT_EQ(WhorlgateGetUserInfo(&alice, &info), WG_OK);
  EXPECT_EQ(info.aucInfo[kInfoFingerCount], 1);
  EXPECT_EQ(info.aucInfo[kInfoFingers], 3);

  struct Refusal {
    const char* what;
    std::function<WGResult()> call;
    const char* details;
  };
  WGUserRecord nobody = User("nobody");
  WGUserRecord empty = User("");
  const Refusal refusals[] = {
      {"finger not enrolled", [&] { return WhorlgateDeleteFinger(&alice, 7); },
       "The user has no finger with this number enrolled."},
      {"finger of no user", [&] { return WhorlgateDeleteFinger(&nobody, 1); },
       "No user with this user ID is enrolled."},
      {"info of no user", [&] { return WhorlgateGetUserInfo(&nobody, &info); },
       "No user with this user ID is enrolled."},
      {"delete of no user", [&] { return WhorlgateDeleteUser(&nobody); },
       "No user with this user ID is enrolled."},
      {"empty user ID", [&] { return WhorlgateDeleteUser(&empty); }, "The user ID is empty."},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(r.call(), WG_FUNCTION_FAILED);
    EXPECT_EQ(Details(), r.details);
  }

  // The last finger takes the user with it.
  EXPECT_EQ(WhorlgateDeleteFinger(&alice, 3), WG_OK);
  EXPECT_EQ(WhorlgateGetUserInfo(&alice, &info), WG_FUNCTION_FAILED);
  EXPECT_EQ(NumberOfUsers(), 1u);

  EXPECT_EQ(WhorlgateDeleteAllEnrolledUsers(), WG_OK);
  EXPECT_EQ(NumberOfUsers(), 0u);
  restartServer();
  EXPECT_EQ(NumberOfUsers(), 0u);
}

TEST_F(StoreServerTest, SetDisplayNameLastsAcrossARestart) {
  seed("bob", "Bob Brook", {1});
  startServer();
  WGUserRecord renamed = User("bob", "Robert Brook");
  EXPECT_EQ(WhorlgateSetDisplayName(&renamed), WG_OK);
  WGUserRecord stranger = User("carol", "Carol");
  EXPECT_EQ(WhorlgateSetDisplayName(&stranger), WG_FUNCTION_FAILED);
  EXPECT_EQ(NumberOfUsers(), 1u) << "renaming creates no user";

  restartServer();
  WGContextHandle context = WhorlgateInit(nullptr);
  WGUserRecord user = User("");
  ASSERT_EQ(WhorlgateGetNextUser(context, &user), WG_OK);
  EXPECT_STREQ(user.szUserID, "bob");
  EXPECT_STREQ(user.szDisplayName, "Robert Brook");
  WhorlgateClose(context);
}

TEST_F(StoreServerTest, ContextsBelongToTheirClientAndCloseOnce) {
  seed("bob", "Bob", {1});
  startServer();
  WGContextHandle first = WhorlgateInit(nullptr);
  uint8_t appData[] = {3, 0, 'a', 'b', 'c'};
  WGContextHandle second = WhorlgateInit(appData);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_NE(first, second);

  EXPECT_EQ(WhorlgateClose(first), WG_OK);
  EXPECT_EQ(WhorlgateClose(first), WG_FUNCTION_FAILED);
  EXPECT_EQ(Details(), "The context handle is not one of this client's open contexts.");
  WGUserRecord user = User("");
  EXPECT_EQ(WhorlgateGetNextUser(first, &user), WG_FUNCTION_FAILED);
  EXPECT_EQ(user.szUserID[0], '\0');
  EXPECT_EQ(WhorlgateGetNextUser(second, &user), WG_OK);
  EXPECT_STREQ(user.szUserID, "bob");

  // Another client's handle is not this client's, and a dead client's contexts go with it.
  PeerProcess other;
  ASSERT_TRUE(other.startProgram(WG_USER_CLIENT, {"init", "hold"}));
  std::string line = other.readLine();
  ASSERT_EQ(line.rfind("context ", 0), 0u) << line;
  WGContextHandle foreign = static_cast<WGContextHandle>(std::stoul(line.substr(8)));
  ASSERT_NE(foreign, 0u);
  ASSERT_EQ(other.readLine(), "holding");
  user = User("");
  EXPECT_EQ(WhorlgateGetNextUser(foreign, &user), WG_FUNCTION_FAILED);
  traceTexts();
  other.kill(SIGKILL);
  other.wait();
  bool released = false;
  EXPECT_TRUE(WaitUntil(
      [&] {
        for (const std::string& text : traceTexts()) {
          if (text.find("Contexts released with the session: 0x1") != std::string::npos) {
            released = true;
          }
        }
        return released;
      },
      5000));
  EXPECT_EQ(WhorlgateClose(second), WG_OK);
}

TEST_F(StoreServerTest, TwoClientsAtOnceEachWithItsOwnResultDetails) {
  for (int i = 0; i < 50; ++i) seed("u" + std::to_string(100 + i), "", {1});
  startServer();
  PeerProcess walker, failer;
  ASSERT_TRUE(walker.startProgram(WG_USER_CLIENT, {"walk", "walk", "count", "details"}));
  ASSERT_TRUE(failer.startProgram(WG_USER_CLIENT, {"delete", "nobody", "walk", "details"}));
  // This process fails last of all; each client still hears about its own last result.
  WGUserRecord nobody = User("nobody");
  EXPECT_EQ(WhorlgateDeleteUser(&nobody), WG_FUNCTION_FAILED);
  EXPECT_EQ(walker.readLine(), "walked 50 u100 u149");
  EXPECT_EQ(walker.readLine(), "walked 50 u100 u149");
  EXPECT_EQ(walker.readLine(), "count 50 result 0");
  EXPECT_EQ(walker.readLine(), "details 0 The request succeeded.");
  EXPECT_EQ(failer.readLine(), "result -127");
  EXPECT_EQ(failer.readLine(), "walked 50 u100 u149");
  EXPECT_EQ(failer.readLine(), "details 0 The request succeeded.");
  EXPECT_EQ(walker.wait(), 0);
  EXPECT_EQ(failer.wait(), 0);
  EXPECT_EQ(Details(), "No user with this user ID is enrolled.");
}

// The first entry of the settings table; the others follow it up to the entry of kind 0.
const SettingEntry* FirstSetting() { return FindSetting("sIBiasGCL iControlBits"); }

TEST_F(StoreServerTest, SettingsReadTheirDefaultsAndKeepWhatIsSetAcrossARestart) {
  startServer();
  int entries = 0;
  for (const SettingEntry* e = FirstSetting(); e && e->ucKind != 0; ++e, ++entries) {
    uint8_t value[8] = {};
    EXPECT_TRUE(GetSetting(e->szName, entries % 2 == 0, value)) << e->szName;
  }
  EXPECT_EQ(entries, kSettingCount);

  struct Number {
    const char* name;
    uint32_t defaultValue;
    uint32_t newValue;
  };
  const Number numbers[] = {
      {"CorMtchNA", 50, 65},
      {"SameCompareBits", 4096, 65535},
      {"Startup baud rate", 9600, 115200},
      {"PassBadImages", 0, 1},
      {"sAtoDRefLowGCL iDeadBand", 2, 9},
  };
  for (const Number& n : numbers) {
    SCOPED_TRACE(n.name);
    uint32_t value = 0;
    ASSERT_TRUE(GetSetting(n.name, true, &value));
    EXPECT_EQ(value, n.defaultValue);
    // A value of the setting's own width, as SetSetting reads it.
    uint8_t u8 = static_cast<uint8_t>(n.newValue);
    uint16_t u16 = static_cast<uint16_t>(n.newValue);
    const SettingEntry* entry = FindSetting(n.name);
    ASSERT_NE(entry, nullptr);
    const void* bytes = entry->ucSize == 1 ? static_cast<const void*>(&u8)
                        : entry->ucSize == 2 ? static_cast<const void*>(&u16)
                                             : static_cast<const void*>(&n.newValue);
    // The flagged and the plain commands reach the same value.
    EXPECT_TRUE(SetSetting(n.name, true, bytes));
    ASSERT_TRUE(GetSetting(n.name, false, &value));
    EXPECT_EQ(value, n.newValue);
  }
  char port[5] = {};
  ASSERT_TRUE(GetSetting("Comm port name", true, port));
  EXPECT_STREQ(port, "COM1");
  EXPECT_TRUE(SetSetting("Comm port name", true, "COM3"));

  // Values the parameter cannot hold are refused and change nothing.
  uint8_t two = 2;
  EXPECT_FALSE(SetSetting("PassBadImages", true, &two));
  EXPECT_EQ(TakeClientError(nullptr, nullptr), 0) << "the server refused; the client had no fault";
  const char unterminated[5] = {'C', 'O', 'M', '4', 'X'};
  EXPECT_FALSE(SetSetting("Comm port name", true, unterminated));

  restartServer();
  for (const Number& n : numbers) {
    uint32_t value = 0;
    ASSERT_TRUE(GetSetting(n.name, true, &value)) << n.name;
    EXPECT_EQ(value, n.newValue) << n.name;
  }
  ASSERT_TRUE(GetSetting("Comm port name", true, port));
  EXPECT_STREQ(port, "COM3");
}

TEST_F(StoreServerTest, ServiceRequestsOutOfTurnOrOfUnknownCommandsAreRefused) {
  startServer();
  auto send = [](uint8_t command, uint32_t token, uint8_t check) {
    WGServiceBlock block = {};
    block.aucBlock[kServiceBlockCommand] = command;
    StoreU32(block.aucBlock + kServiceBlockArgument, token);
    StoreU16(block.aucBlock + kServiceBlockIdentifier, 462);  // CorMtchNA
    StoreU16(block.aucBlock + kServiceBlockSize, 4);
    block.aucBlock[kServiceBlockCheck] = check;
    WGEncipherBuffer(block.aucBlock, WG_SERVICE_BLOCK_SIZE);
    return WGServiceRequest(&block);
  };
  EXPECT_EQ(send(kServiceGetFlagged, 0, 0), WG_FUNCTION_FAILED);
  EXPECT_EQ(Details(), "The service request was not preceded by a preparatory request.");
  EXPECT_EQ(send(kServiceRestartCommPort - 1, 0, 0), WG_FUNCTION_FAILED);
  EXPECT_EQ(Details(), "The service command is not one this server knows.");
  EXPECT_EQ(send(kServicePrepare, 0, 1), WG_FUNCTION_FAILED);
  EXPECT_EQ(Details(), "The service block's check byte is wrong.");

  // A token serves one request only.
  WGServiceBlock block;
  ASSERT_TRUE(ServicePrepare(&block));
  uint32_t token = LoadU32(block.aucBlock + kServiceBlockArgument);
  EXPECT_NE(token, 0u);
  EXPECT_EQ(send(kServiceGet, token, 0), WG_OK);
  EXPECT_EQ(send(kServiceGet, token, 0), WG_FUNCTION_FAILED);
}

TEST_F(StoreServerTest, LedsAndVersionTexts) {
  startServer();
  uint32_t leds = 0xFFFFFFFF;
  EXPECT_EQ(WhorlgateGetLeds(&leds), WG_OK);
  EXPECT_EQ(leds, 0u);
  EXPECT_EQ(WhorlgateSetLeds(0x5), WG_OK);
  EXPECT_EQ(WhorlgateGetLeds(&leds), WG_OK);
  EXPECT_EQ(leds, 0x5u);

  char first[kVersionMsgText1Length], second[kVersionMsgText2Length], library[260];
  EXPECT_EQ(WhorlgateGetVersion(first, second, library), WG_OK);
  EXPECT_STREQ(first, "4.1.0.1");
  EXPECT_EQ(std::string(second).rfind("Whorlgate server stand-in 4.1.0.1, user store SQLite 3.", 0),
            0u)
      << second;
}

// The writer stops inside its transaction, every row written but not committed, and is killed.
TEST_F(StoreServerTest, AKilledEnrollmentLeavesTheStoreAsItWas) {
  seed("bob", "Bob", {1});
  std::string marker = scratch() + "/paused";
  setenv("WHORLGATE_STORE_TEST_PAUSE_FILE", marker.c_str(), 1);
  PeerProcess writer;
  ASSERT_TRUE(writer.startProgram(WG_STORE_WRITER, {"alice", "4", "Alice"}));
  unsetenv("WHORLGATE_STORE_TEST_PAUSE_FILE");
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(marker); }, 10000));
  writer.kill(SIGKILL);
  EXPECT_EQ(writer.wait(), 128 + SIGKILL);

  startServer();
  EXPECT_EQ(NumberOfUsers(), 1u);
  WGUserRecord alice = User("alice");
  WGUserInfo info;
  EXPECT_EQ(WhorlgateGetUserInfo(&alice, &info), WG_FUNCTION_FAILED);
  WGUserRecord bob = User("bob");
  ASSERT_EQ(WhorlgateGetUserInfo(&bob, &info), WG_OK);
  EXPECT_EQ(info.aucInfo[kInfoFingerCount], 1);

  // The same enrollment once more, not interrupted, is whole: user, name and finger.
  PeerProcess again;
  ASSERT_TRUE(again.startProgram(WG_STORE_WRITER, {"alice", "4", "Alice"}));
  EXPECT_EQ(again.readLine(), "outcome 0");
  EXPECT_EQ(again.wait(), 0);
  EXPECT_EQ(NumberOfUsers(), 2u);
  ASSERT_EQ(WhorlgateGetUserInfo(&alice, &info), WG_OK);
  EXPECT_STREQ(reinterpret_cast<const char*>(info.aucInfo + kInfoDisplayName), "Alice");
  EXPECT_EQ(info.aucInfo[kInfoFingerCount], 1);
  EXPECT_EQ(info.aucInfo[kInfoFingers], 4);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(UserStorePath().c_str(), &db), SQLITE_OK);
  std::string integrity;
  sqlite3_exec(
      db, "PRAGMA integrity_check",
      [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) += values[0];
        return 0;
      },
      &integrity, nullptr);
  sqlite3_close(db);
  EXPECT_EQ(integrity, "ok");
}

// The store's own refusals, which enrollment will pass on to its clients.
TEST(UserStoreTest, AddFingerRefusesWhatTheStoreMustNotHold) {
  char pattern[] = "/dev/shm/wgstore-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string folder = pattern;
  {
    UserStore store;
    std::string error;
    ASSERT_TRUE(store.open(folder + "/users.db", &error)) << error;
    std::vector<uint8_t> record = SealedRecord(5);
    auto add = [&](int16_t finger, const std::vector<uint8_t>& r) {
      return store.addFinger("dave", "Dave", finger, r.data(), static_cast<uint16_t>(r.size()));
    };
    for (int16_t finger = 0; finger < kMaxFingersPerUser; ++finger) {
      ASSERT_EQ(add(finger, record), StoreOutcome::kDone);
    }
    EXPECT_EQ(add(3, record), StoreOutcome::kFingerTaken);
    EXPECT_EQ(add(kMaxFingersPerUser, record), StoreOutcome::kUserFull);
    std::vector<uint8_t> broken = record;
    broken[100] ^= 1;
    EXPECT_EQ(store.addFinger("erin", "Erin", 1, broken.data(),
                              static_cast<uint16_t>(broken.size())),
              StoreOutcome::kBadRecord);
    EXPECT_EQ(store.addFinger("erin", "Erin", kMaxFingerNumber + 1, record.data(),
                              static_cast<uint16_t>(record.size())),
              StoreOutcome::kNoSuchFinger);
    EXPECT_EQ(store.countUsers(), 1u);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
