#include "server/user_store.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "local/template_record.h"
#include "shared/trace.h"

namespace {

// Bumped when the tables change; a store of a later version is refused rather than misread,
// one of an earlier version is brought up to date by the steps below.
constexpr int kSchemaVersion = 2;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS users ("
    "  user_id TEXT PRIMARY KEY NOT NULL,"
    "  display_name TEXT NOT NULL,"
    "  created INTEGER NOT NULL,"
    "  last_enrolled INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS fingers ("
    "  user_id TEXT NOT NULL REFERENCES users(user_id) ON DELETE CASCADE,"
    "  finger INTEGER NOT NULL,"
    "  record BLOB NOT NULL,"
    "  source TEXT NOT NULL DEFAULT '',"
    "  PRIMARY KEY (user_id, finger));"
    "CREATE TABLE IF NOT EXISTS settings ("
    "  identifier INTEGER PRIMARY KEY NOT NULL,"
    "  value BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS sensor ("
    "  name TEXT PRIMARY KEY NOT NULL,"
    "  value TEXT NOT NULL);"
    "PRAGMA user_version=2;";
static_assert(kSchemaVersion == 2, "the schema's last line writes the version");

// From version 1: fingers learn where the sensor took them from; the sensor table is new and
// comes with the schema.
constexpr const char* kUpgradeFrom1 = "ALTER TABLE fingers ADD COLUMN source TEXT NOT NULL DEFAULT '';";

// Another process (a second server started by mistake, a person with the sqlite3 shell) may
// hold the file for a moment; a request waits this long for it rather than failing at once.
constexpr int kBusyTimeoutMs = 2000;

// Test-only: when this variable names a file, addFinger creates that file once every row of
// its transaction is written and then waits before committing, so that a test can kill the
// process inside the transaction. Nothing else reads it.
constexpr const char* kTestPauseVariable = "WHORLGATE_STORE_TEST_PAUSE_FILE";
constexpr auto kTestPause = std::chrono::seconds(60);

int64_t Now() { return static_cast<int64_t>(time(nullptr)); }

// Resets a statement when the operation that used it returns, so that it holds no read lock.
class Use {
 public:
  explicit Use(sqlite3_stmt* statement) : statement_(statement) {}
  ~Use() {
    if (statement_) {
      sqlite3_reset(statement_);
      sqlite3_clear_bindings(statement_);
    }
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  explicit operator bool() const { return statement_ != nullptr; }
  Use& text(int index, const std::string& value) {
    sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  Use& integer(int index, int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Use& blob(int index, const uint8_t* bytes, int size) {
    sqlite3_bind_blob(statement_, index, bytes, size, SQLITE_TRANSIENT);
    return *this;
  }
  int step() { return sqlite3_step(statement_); }
  std::string columnText(int column) {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                : std::string();
  }
  int64_t columnInteger(int column) { return sqlite3_column_int64(statement_, column); }
  std::vector<uint8_t> columnBlob(int column) {
    const uint8_t* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement_, column));
    return std::vector<uint8_t>(bytes, bytes + sqlite3_column_bytes(statement_, column));
  }

 private:
  sqlite3_stmt* statement_;
};

// The matcher template inside a sealed record, opened in a private copy that is wiped after.
bool MatcherTemplateOf(const uint8_t* record, size_t size, std::vector<uint8_t>* matcherTemplate) {
  // The record's own first block says how long it is: it is read from a buffer of the largest
  // record's size, so that a short blob cannot make the opening read past it.
  uint8_t sealed[WG_REFERENCE_TEMPLATE_SIZE] = {};
  uint8_t plain[WG_REFERENCE_TEMPLATE_SIZE];
  int16_t type = 0;
  uint16_t plainSize = 0;
  if (size > sizeof sealed) return false;
  memcpy(sealed, record, size);
  if (!OpenTemplateRecordCopy(sealed, plain, &type, &plainSize) || plainSize != size) {
    return false;
  }
  size_t length = type == WG_REFERENCE_TEMPLATE_TYPE ? kMatcherTemplateSize
                                                      : kSmallMatcherTemplateSize;
  matcherTemplate->assign(plain + kRecMatcherTemplate, plain + kRecMatcherTemplate + length);
  explicit_bzero(plain, sizeof plain);
  return true;
}

void PauseForTest() {
  const char* marker = getenv(kTestPauseVariable);
  if (!marker || !*marker) return;
  std::ofstream(marker) << getpid() << "\n";
  std::this_thread::sleep_for(kTestPause);
}

}  // namespace

std::string UserStorePath() {
  const char* configured = getenv("WHORLGATE_SERVER_STORE");
  if (configured && *configured) return configured;
  if (geteuid() == 0) return "/var/lib/whorlgate/users.db";
  const char* data = getenv("XDG_DATA_HOME");
  std::string base;
  if (data && *data) {
    base = data;
  } else {
    const char* home = getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.local/share";
  }
  return base + "/whorlgate/users.db";
}

UserStore::~UserStore() {
  for (auto& [text, statement] : statements_) sqlite3_finalize(statement);
  if (db_) sqlite3_close(db_);
}

bool UserStore::open(const std::string& path, std::string* error) {
  std::lock_guard guard(lock_);
  std::error_code ignored;
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    *error = db_ ? sqlite3_errmsg(db_) : "out of memory";
    return false;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // WAL keeps readers and the writer apart and makes a commit one append; FULL syncs the log
  // at every commit, so an answered change is on the disk before the client hears of it.
  if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=FULL") ||
      !exec("PRAGMA foreign_keys=ON")) {
    *error = sqlite3_errmsg(db_);
    return false;
  }
  int version = -1;
  {
    Use query(prepare("PRAGMA user_version"));
    if (query && query.step() == SQLITE_ROW) version = static_cast<int>(query.columnInteger(0));
  }
  if (version < 0 || version > kSchemaVersion) {
    *error = "the store has schema version " + std::to_string(version) + ", this server reads " +
             std::to_string(kSchemaVersion);
    return false;
  }
  bool upgraded = begin() && (version != 1 || exec(kUpgradeFrom1)) && exec(kSchema) && commit();
  if (!upgraded || !loadGallery()) {
    *error = sqlite3_errmsg(db_);
    rollback();
    return false;
  }
  return true;
}

bool UserStore::loadGallery() {
  Use query(prepare("SELECT user_id, finger, record, source FROM fingers ORDER BY rowid"));
  if (!query) return false;
  auto gallery = std::make_shared<Gallery>();
  int step;
  while ((step = query.step()) == SQLITE_ROW) {
    std::vector<uint8_t> record = query.columnBlob(2);
    auto finger = std::make_shared<EnrolledFinger>();
    finger->userId = query.columnText(0);
    finger->finger = static_cast<int16_t>(query.columnInteger(1));
    finger->source = query.columnText(3);
    // A record that does not open (the file is the user's to edit) cannot match anything.
    if (!MatcherTemplateOf(record.data(), record.size(), &finger->matcherTemplate)) {
      TraceMsg(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_WARNING,
               "User store: a finger's record does not open, it will not match", nullptr);
    }
    gallery->push_back(std::move(finger));
  }
  if (step != SQLITE_DONE) {
    traceFailure("read fingers");
    return false;
  }
  gallery_ = std::move(gallery);
  return true;
}

void UserStore::changeGallery(const std::function<void(Gallery&)>& change) {
  auto gallery = std::make_shared<Gallery>(*gallery_);
  change(*gallery);
  gallery_ = std::move(gallery);
}

std::shared_ptr<const Gallery> UserStore::gallery() {
  std::lock_guard guard(lock_);
  return gallery_;
}

bool UserStore::exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

sqlite3_stmt* UserStore::prepare(const char* sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) return it->second;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
      SQLITE_OK) {
    traceFailure("prepare");
    return nullptr;
  }
  statements_[sql] = statement;
  return statement;
}

void UserStore::traceFailure(const char* what) {
  char text[kTraceTextLength];
  snprintf(text, sizeof text, "ERROR user store: %s failed: %s", what, sqlite3_errmsg(db_));
  TraceMsg(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_CRITICAL, text, nullptr);
}

bool UserStore::begin() {
  // IMMEDIATE takes the write lock at once, so a transaction never fails half-way for want of it.
  if (exec("BEGIN IMMEDIATE")) return true;
  traceFailure("begin");
  return false;
}

bool UserStore::commit() {
  if (exec("COMMIT")) return true;
  traceFailure("commit");
  rollback();
  return false;
}

void UserStore::rollback() {
  if (!sqlite3_get_autocommit(db_)) exec("ROLLBACK");
}

std::optional<uint32_t> UserStore::countUsers() {
  std::lock_guard guard(lock_);
  Use query(prepare("SELECT count(*) FROM users"));
  if (!query || query.step() != SQLITE_ROW) {
    traceFailure("count");
    return std::nullopt;
  }
  return static_cast<uint32_t>(query.columnInteger(0));
}

std::optional<StoredUser> UserStore::nextUser(const std::string& previousId) {
  std::lock_guard guard(lock_);
  Use query(prepare(
      "SELECT user_id, display_name FROM users WHERE user_id > ?1 ORDER BY user_id LIMIT 1"));
  if (!query) return std::nullopt;
  query.text(1, previousId);
  switch (query.step()) {
    case SQLITE_ROW:
      return StoredUser{query.columnText(0), query.columnText(1)};
    case SQLITE_DONE:
      return StoredUser{};
    default:
      traceFailure("next user");
      return std::nullopt;
  }
}

std::optional<std::vector<StoredUser>> UserStore::allUsers() {
  std::lock_guard guard(lock_);
  Use query(prepare("SELECT user_id, display_name FROM users ORDER BY user_id"));
  if (!query) return std::nullopt;
  std::vector<StoredUser> users;
  int step;
  while ((step = query.step()) == SQLITE_ROW) {
    users.push_back({query.columnText(0), query.columnText(1)});
  }
  if (step != SQLITE_DONE) {
    traceFailure("list users");
    return std::nullopt;
  }
  return users;
}

std::optional<StoredUserInfo> UserStore::userInfo(const std::string& userId,
                                                  StoreOutcome* outcome) {
  std::lock_guard guard(lock_);
  StoredUserInfo info;
  {
    Use query(prepare(
        "SELECT user_id, display_name, created, last_enrolled FROM users WHERE user_id = ?1"));
    if (!query) {
      *outcome = StoreOutcome::kFailed;
      return std::nullopt;
    }
    query.text(1, userId);
    int step = query.step();
    if (step != SQLITE_ROW) {
      if (step != SQLITE_DONE) traceFailure("user info");
      *outcome = step == SQLITE_DONE ? StoreOutcome::kNoSuchUser : StoreOutcome::kFailed;
      return std::nullopt;
    }
    info.user = {query.columnText(0), query.columnText(1)};
    info.created = query.columnInteger(2);
    info.lastEnrolled = query.columnInteger(3);
  }
  Use fingers(prepare("SELECT finger FROM fingers WHERE user_id = ?1 ORDER BY finger"));
  if (!fingers) {
    *outcome = StoreOutcome::kFailed;
    return std::nullopt;
  }
  fingers.text(1, userId);
  int step;
  while ((step = fingers.step()) == SQLITE_ROW) {
    info.fingers.push_back(static_cast<int16_t>(fingers.columnInteger(0)));
  }
  if (step != SQLITE_DONE) {
    traceFailure("user info");
    *outcome = StoreOutcome::kFailed;
    return std::nullopt;
  }
  *outcome = StoreOutcome::kDone;
  return info;
}

StoreOutcome UserStore::userExists(const std::string& userId, bool* exists) {
  Use query(prepare("SELECT 1 FROM users WHERE user_id = ?1"));
  if (!query) return StoreOutcome::kFailed;
  query.text(1, userId);
  int step = query.step();
  if (step != SQLITE_ROW && step != SQLITE_DONE) {
    traceFailure("look up user");
    return StoreOutcome::kFailed;
  }
  *exists = step == SQLITE_ROW;
  return StoreOutcome::kDone;
}

StoreOutcome UserStore::addFinger(const std::string& userId, const std::string& displayName,
                                  int16_t finger, const uint8_t* record, uint16_t recordSize,
                                  const std::string& source) {
  std::lock_guard guard(lock_);
  auto enrolled = std::make_shared<EnrolledFinger>();
  enrolled->userId = userId;
  enrolled->finger = finger;
  enrolled->source = source;
  if (finger < 0 || finger > kMaxFingerNumber) return StoreOutcome::kNoSuchFinger;
  if (!record || !MatcherTemplateOf(record, recordSize, &enrolled->matcherTemplate)) {
    return StoreOutcome::kBadRecord;
  }
  if (!begin()) return StoreOutcome::kFailed;
  StoreOutcome outcome = StoreOutcome::kFailed;
  int64_t now = Now();
  {
    Use count(prepare("SELECT count(*) FROM fingers WHERE user_id = ?1"));
    Use taken(prepare("SELECT 1 FROM fingers WHERE user_id = ?1 AND finger = ?2"));
    Use addUser(prepare(
        "INSERT INTO users (user_id, display_name, created, last_enrolled) VALUES (?1, ?2, ?3, ?3)"
        " ON CONFLICT (user_id) DO UPDATE SET last_enrolled = ?3"));
    Use addFinger(prepare(
        "INSERT INTO fingers (user_id, finger, record, source) VALUES (?1, ?2, ?3, ?4)"));
    if (count && taken && addUser && addFinger) {
      int takenStep = taken.text(1, userId).integer(2, finger).step();
      int countStep = count.text(1, userId).step();
      if (takenStep == SQLITE_ROW) {
        outcome = StoreOutcome::kFingerTaken;
      } else if (countStep == SQLITE_ROW && count.columnInteger(0) >= kMaxFingersPerUser) {
        outcome = StoreOutcome::kUserFull;
      } else if (takenStep == SQLITE_DONE && countStep == SQLITE_ROW &&
                 addUser.text(1, userId).text(2, displayName).integer(3, now).step() ==
                     SQLITE_DONE &&
                 addFinger.text(1, userId)
                         .integer(2, finger)
                         .blob(3, record, recordSize)
                         .text(4, source)
                         .step() == SQLITE_DONE) {
        outcome = StoreOutcome::kDone;
      } else {
        traceFailure("add finger");
      }
    }
  }
  if (outcome != StoreOutcome::kDone) {
    rollback();
    return outcome;
  }
  PauseForTest();
  if (!commit()) return StoreOutcome::kFailed;
  changeGallery([&](Gallery& gallery) { gallery.push_back(std::move(enrolled)); });
  return StoreOutcome::kDone;
}

StoreOutcome UserStore::deleteFinger(const std::string& userId, int16_t finger) {
  std::lock_guard guard(lock_);
  if (!begin()) return StoreOutcome::kFailed;
  StoreOutcome outcome = StoreOutcome::kFailed;
  {
    bool exists = false;
    Use remove(prepare("DELETE FROM fingers WHERE user_id = ?1 AND finger = ?2"));
    Use removeEmpty(prepare(
        "DELETE FROM users WHERE user_id = ?1 AND NOT EXISTS "
        "(SELECT 1 FROM fingers WHERE fingers.user_id = users.user_id)"));
    if (userExists(userId, &exists) != StoreOutcome::kDone || !remove || !removeEmpty) {
      outcome = StoreOutcome::kFailed;
    } else if (!exists) {
      outcome = StoreOutcome::kNoSuchUser;
    } else if (remove.text(1, userId).integer(2, finger).step() != SQLITE_DONE) {
      traceFailure("delete finger");
    } else if (sqlite3_changes(db_) == 0) {
      outcome = StoreOutcome::kNoSuchFinger;
    } else if (removeEmpty.text(1, userId).step() == SQLITE_DONE) {
      outcome = StoreOutcome::kDone;
    } else {
      traceFailure("delete finger");
    }
  }
  if (outcome != StoreOutcome::kDone) {
    rollback();
    return outcome;
  }
  if (!commit()) return StoreOutcome::kFailed;
  changeGallery([&](Gallery& gallery) {
    std::erase_if(gallery, [&](const auto& f) { return f->userId == userId && f->finger == finger; });
  });
  return StoreOutcome::kDone;
}

StoreOutcome UserStore::deleteUser(const std::string& userId) {
  std::lock_guard guard(lock_);
  Use remove(prepare("DELETE FROM users WHERE user_id = ?1"));
  if (!remove) return StoreOutcome::kFailed;
  // One statement is one transaction; the fingers go with the user by the cascade.
  if (remove.text(1, userId).step() != SQLITE_DONE) {
    traceFailure("delete user");
    return StoreOutcome::kFailed;
  }
  if (sqlite3_changes(db_) == 0) return StoreOutcome::kNoSuchUser;
  changeGallery([&](Gallery& gallery) {
    std::erase_if(gallery, [&](const auto& f) { return f->userId == userId; });
  });
  return StoreOutcome::kDone;
}

StoreOutcome UserStore::setDisplayName(const std::string& userId, const std::string& displayName) {
  std::lock_guard guard(lock_);
  Use update(prepare("UPDATE users SET display_name = ?2 WHERE user_id = ?1"));
  if (!update) return StoreOutcome::kFailed;
  if (update.text(1, userId).text(2, displayName).step() != SQLITE_DONE) {
    traceFailure("set display name");
    return StoreOutcome::kFailed;
  }
  return sqlite3_changes(db_) ? StoreOutcome::kDone : StoreOutcome::kNoSuchUser;
}

StoreOutcome UserStore::deleteAllUsers() {
  std::lock_guard guard(lock_);
  Use remove(prepare("DELETE FROM users"));
  if (!remove) return StoreOutcome::kFailed;
  if (remove.step() != SQLITE_DONE) {
    traceFailure("delete all users");
    return StoreOutcome::kFailed;
  }
  changeGallery([](Gallery& gallery) { gallery.clear(); });
  return StoreOutcome::kDone;
}

std::optional<std::string> UserStore::displayName(const std::string& userId) {
  std::lock_guard guard(lock_);
  Use query(prepare("SELECT display_name FROM users WHERE user_id = ?1"));
  if (!query) return std::nullopt;
  query.text(1, userId);
  int step = query.step();
  if (step != SQLITE_ROW) {
    if (step != SQLITE_DONE) traceFailure("display name");
    return std::nullopt;
  }
  return query.columnText(0);
}

std::optional<std::map<uint16_t, std::vector<uint8_t>>> UserStore::storedSettings() {
  std::lock_guard guard(lock_);
  Use query(prepare("SELECT identifier, value FROM settings"));
  if (!query) return std::nullopt;
  std::map<uint16_t, std::vector<uint8_t>> values;
  int step;
  while ((step = query.step()) == SQLITE_ROW) {
    values[static_cast<uint16_t>(query.columnInteger(0))] = query.columnBlob(1);
  }
  if (step != SQLITE_DONE) {
    traceFailure("read settings");
    return std::nullopt;
  }
  return values;
}

bool UserStore::storeSetting(uint16_t identifier, const uint8_t* value, uint8_t size) {
  std::lock_guard guard(lock_);
  Use upsert(prepare(
      "INSERT INTO settings (identifier, value) VALUES (?1, ?2)"
      " ON CONFLICT (identifier) DO UPDATE SET value = ?2"));
  if (!upsert) return false;
  if (upsert.integer(1, identifier).blob(2, value, size).step() != SQLITE_DONE) {
    traceFailure("store setting");
    return false;
  }
  return true;
}

std::optional<std::map<std::string, std::string>> UserStore::sensorValues() {
  std::lock_guard guard(lock_);
  Use query(prepare("SELECT name, value FROM sensor"));
  if (!query) return std::nullopt;
  std::map<std::string, std::string> values;
  int step;
  while ((step = query.step()) == SQLITE_ROW) values[query.columnText(0)] = query.columnText(1);
  if (step != SQLITE_DONE) {
    traceFailure("read sensor values");
    return std::nullopt;
  }
  return values;
}

bool UserStore::storeSensorValue(const std::string& name, const std::string& value) {
  std::lock_guard guard(lock_);
  Use upsert(prepare(
      "INSERT INTO sensor (name, value) VALUES (?1, ?2)"
      " ON CONFLICT (name) DO UPDATE SET value = ?2"));
  if (!upsert) return false;
  if (upsert.text(1, name).text(2, value).step() != SQLITE_DONE) {
    traceFailure("store sensor value");
    return false;
  }
  return true;
}
