// The durable store of enrolled users: users with their display names, their enrolled fingers
// with the sealed reference template records, and the server's settings. One SQLite file in
// WAL mode with full sync, so that a change the server has answered survives a crash or a power
// cut, and a change cut off half-way (the server killed inside it) leaves nothing behind.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "whorlgate/wg_basic.h"

// A user may have this many fingers enrolled; finger numbers are 0 to kMaxFingerNumber, so
// that each fits the byte the user info gives it.
inline constexpr int kMaxFingersPerUser = 10;
inline constexpr int16_t kMaxFingerNumber = 254;

// Where the store lives: $WHORLGATE_SERVER_STORE, else /var/lib/whorlgate/users.db for root,
// else ${XDG_DATA_HOME:-$HOME/.local/share}/whorlgate/users.db.
std::string UserStorePath();

struct StoredUser {
  std::string userId;
  std::string displayName;
};

struct StoredUserInfo {
  StoredUser user;
  std::vector<int16_t> fingers;  // ascending
  int64_t created = 0;           // seconds since 1970 UTC
  int64_t lastEnrolled = 0;
};

// One enrolled finger as the matching needs it: whose it is, the matcher template of its
// record (opened once, when the store is opened or the finger is added), and where the
// simulated sensor took it from, so that it can present the same finger again.
struct EnrolledFinger {
  std::string userId;
  int16_t finger = 0;
  std::string source;
  std::vector<uint8_t> matcherTemplate;
};
// Every enrolled finger, oldest enrollment first. A gallery handed out never changes: a change
// of the store makes a new one, so a long comparison runs on a consistent set without holding
// the store.
using Gallery = std::vector<std::shared_ptr<const EnrolledFinger>>;

enum class StoreOutcome {
  kDone,
  kNoSuchUser,
  kNoSuchFinger,
  kFingerTaken,  // the user has that finger enrolled already
  kUserFull,     // the user has kMaxFingersPerUser fingers
  kBadRecord,    // not a sealed reference template record
  kFailed,       // the file could not be read or written; traced
};

class UserStore {
 public:
  UserStore() = default;
  UserStore(const UserStore&) = delete;
  UserStore& operator=(const UserStore&) = delete;
  ~UserStore();

  // Opens (creating it and its folder when missing) the store at `path`. False with the
  // reason in *error.
  bool open(const std::string& path, std::string* error);

  std::optional<uint32_t> countUsers();
  // The user whose ID follows `previousId` in byte order (the first for an empty ID); an
  // empty user ID when there is none; nothing when the store failed.
  std::optional<StoredUser> nextUser(const std::string& previousId);
  std::optional<std::vector<StoredUser>> allUsers();
  // Nothing when the user does not exist or the store failed; *outcome says which.
  std::optional<StoredUserInfo> userInfo(const std::string& userId, StoreOutcome* outcome);

  // Adds finger `finger` with its sealed reference template record to the user, creating the
  // user with `displayName` when it does not exist yet: all of it or nothing. `source` says
  // what the sensor was shown (empty when nobody knows).
  StoreOutcome addFinger(const std::string& userId, const std::string& displayName,
                         int16_t finger, const uint8_t* record, uint16_t recordSize,
                         const std::string& source = {});
  // Removing the last finger removes the user: the store holds only enrolled users.
  StoreOutcome deleteFinger(const std::string& userId, int16_t finger);
  StoreOutcome deleteUser(const std::string& userId);
  StoreOutcome setDisplayName(const std::string& userId, const std::string& displayName);
  StoreOutcome deleteAllUsers();

  std::shared_ptr<const Gallery> gallery();
  // The user's display name, or nothing when the user does not exist or the store failed.
  std::optional<std::string> displayName(const std::string& userId);

  // Settings written by clients, by identifier; the others keep their defaults.
  std::optional<std::map<uint16_t, std::vector<uint8_t>>> storedSettings();
  bool storeSetting(uint16_t identifier, const uint8_t* value, uint8_t size);

  // What the simulated sensor was told to do, by name, so that it survives a restart.
  std::optional<std::map<std::string, std::string>> sensorValues();
  bool storeSensorValue(const std::string& name, const std::string& value);

 private:
  bool exec(const char* sql);
  sqlite3_stmt* prepare(const char* sql);
  bool begin();
  bool commit();
  void rollback();
  StoreOutcome userExists(const std::string& userId, bool* exists);
  void traceFailure(const char* what);
  bool loadGallery();
  void changeGallery(const std::function<void(Gallery&)>& change);

  // The server's request loop and its capture worker share the store; each operation holds
  // this lock throughout.
  std::recursive_mutex lock_;
  std::shared_ptr<const Gallery> gallery_ = std::make_shared<const Gallery>();
  sqlite3* db_ = nullptr;
  std::map<const char*, sqlite3_stmt*> statements_;  // prepared once, by their text's address
};
