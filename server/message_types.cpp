#include "server/message_types.h"

#include "connect/api_messages.h"

namespace {

#define WG_TYPE(name) WG_API_##name, "WG_API_" #name

constexpr MessageTypeInfo kMessageTypes[] = {
    {WG_TYPE(INIT), true},
    {WG_TYPE(CONNECT), true},
    {WG_TYPE(DISCONNECT), true},
    {WG_TYPE(SERVICE_REQUEST), true},
    {WG_TYPE(GETTEMPLATESIZE), true},
    {WG_TYPE(ENROLL), true},
    {WG_TYPE(VALIDATE_ID), true},
    {WG_TYPE(VALIDATE_FINGERS), true},
    {WG_TYPE(IDENTIFY), true},
    {WG_TYPE(CLOSE), true},
    {WG_TYPE(OPEN_STREAM), true},
    {WG_TYPE(CLOSE_STREAM), true},
    {WG_TYPE(GET_CURRENT_IMAGE), true},
    {WG_TYPE(GET_RESULT_DETAILS), true},
    {WG_TYPE(GET_IMAGE_STATE), true},
    {WG_TYPE(DELETE_USER), true},
    {WG_TYPE(GET_NEXT_USER), true},
    {WG_TYPE(GET_LEDS), true},
    {WG_TYPE(SET_LEDS), true},
    {WG_TYPE(GET_VERSION), true},
    {WG_TYPE(GET_COMM_PORT), true},
    {WG_TYPE(READ_COMM_PORT), true},
    {WG_TYPE(WRITE_COMM_PORT), true},
    {WG_TYPE(RELEASE_COMM_PORT), true},
    {WG_TYPE(BEGIN_ACQUIRE_IMAGE), true},
    {WG_TYPE(END_ACQUIRE_IMAGE), true},
    {WG_TYPE(ABORT_TRANSACTION), true},
    {WG_TYPE(EVENT), false},
    {WG_TYPE(BEGIN_ENROLL), true},
    {WG_TYPE(END_ENROLL), true},
    {WG_TYPE(BEGIN_VALIDATE_ID), true},
    {WG_TYPE(END_VALIDATE_ID), true},
    {WG_TYPE(BEGIN_IDENTIFY), true},
    {WG_TYPE(END_IDENTIFY), true},
    {WG_TYPE(BEGIN_VERIFY), true},
    {WG_TYPE(END_VERIFY), true},
    {WG_TYPE(GET_NUMBER_USERS), true},
    {WG_TYPE(GET_USER_INFO), true},
    {WG_TYPE(DELETE_FINGER), true},
    {WG_TYPE(SET_DISPLAY_NAME), true},
    {WG_TYPE(GET_LIST_OF_ALL_USERS), true},
    {WG_TYPE(DELETE_ALL_ENROLLED_USERS), true},
};

#undef WG_TYPE

}  // namespace

const MessageTypeInfo* FindMessageType(uint16_t type) {
  for (const MessageTypeInfo& info : kMessageTypes) {
    if (info.type == type) return &info;
  }
  return nullptr;
}
