// The requests of the user store that need no finger on the sensor: counting, walking and
// listing the users, a user's info, deleting users and fingers, renaming.
#pragma once

#include <cstddef>
#include <string>

#include "server/dispatch.h"
#include "server/user_store.h"

inline constexpr uint32_t kRecordUserId = offsetof(WGUserRecord, szUserID);
inline constexpr uint32_t kRecordDisplayName = offsetof(WGUserRecord, szDisplayName);

// A user record at `at` whose user ID or display name does not end inside its field.
const char* CheckRecordAt(const Request& request, uint32_t at);
const char* CheckUserRecord(const Request& request);
const char* CheckNextUser(const Request& request);

// Texts of a checked record.
std::string UserIdAt(const Request& request, uint32_t at);
std::string DisplayNameAt(const Request& request, uint32_t at);
// A user into a 100-byte record.
void PutUser(uint8_t* record, const StoredUser& user);

// How a store operation went, as the client hears it.
Outcome StoreResult(StoreOutcome outcome);

void ServeNumberUsers(ServerState& state, const Request& request, Session* session);
void ServeNextUser(ServerState& state, const Request& request, Session* session);
void ServeListOfAllUsers(ServerState& state, const Request& request, Session* session);
void ServeUserInfo(ServerState& state, const Request& request, Session* session);
void ServeDeleteUser(ServerState& state, const Request& request, Session* session);
void ServeDeleteFinger(ServerState& state, const Request& request, Session* session);
void ServeSetDisplayName(ServerState& state, const Request& request, Session* session);
void ServeDeleteAllUsers(ServerState& state, const Request& request, Session* session);
