// The server's tunable parameters: every entry of the client library's settings table, with
// the server's default, held by identifier as the service channel addresses them, and kept in
// the user store once a client has written them.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "connect/settings_table.h"

class UserStore;

// The reason ServerSettings::set gives when the store failed rather than the request.
inline constexpr const char* kSettingNotStored = "the user store could not be written";

class ServerSettings {
 public:
  // Every setting at its default, then the values the store holds. False with the reason in
  // *error when the table and the defaults disagree or the store cannot be read.
  bool load(UserStore& store, std::string* error);

  // The parameter's value into `value` (its size in bytes): null, or why the request is refused
  // (an identifier the table does not give, or a size other than the table's).
  const char* get(uint16_t identifier, uint16_t size, uint8_t* value) const;
  // The value of the numeric setting of that name (0 for one the table does not give).
  uint32_t number(const char* name) const;
  // Checks the value, keeps it in the store and then puts it into effect: null, or why not.
  const char* set(UserStore& store, uint16_t identifier, uint16_t size, const uint8_t* value);

 private:
  struct Parameter {
    const SettingEntry* entry;  // the first table entry with this identifier
    std::array<uint8_t, 8> value;
  };
  const char* find(uint16_t identifier, uint16_t size, const Parameter** parameter) const;

  std::map<uint16_t, Parameter> parameters_;
};
