// The requests of the user store that need no finger on the sensor: counting, walking and
// listing the users, a user's info, deleting users and fingers, renaming.
#pragma once

#include "server/dispatch.h"
#include "server/user_store.h"

// A user record whose user ID or display name does not end inside its field.
const char* CheckUserRecord(const Request& request);
const char* CheckNextUser(const Request& request);

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
