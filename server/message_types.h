// Every message type of the protocol, as data: its number, its name and who sends it.
#pragma once

#include <cstdint>

struct MessageTypeInfo {
  uint16_t type;
  const char* name;
  bool sentByClient;  // false only for WG_API_EVENT, which the server pushes
};

// The type's entry, or null for a number the protocol does not use.
const MessageTypeInfo* FindMessageType(uint16_t type);
