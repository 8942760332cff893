// Service commands of the simulated sensor, the kit's own: `wgsensor` tells the server what the
// simulated user presents and how quickly things happen. They travel in the service block like
// the settings commands, enciphered, each after a preparatory request whose token they bring
// back at kServiceBlockArgument.
#pragma once

#include <cstdint>

#include "connect/service_block.h"

enum SensorCommand : uint8_t {
  // Payload: what to present, a NUL-terminated text: "auto", "nothing", "finger NAME" or
  // "image PATH" (an absolute path).
  kSensorPresent = 0x40,
  // Payload: the pace, three u32 (below).
  kSensorPace = 0x41,
  // The answer carries the pace and the presentation's text.
  kSensorQuery = 0x42,
};

inline constexpr uint32_t kSensorBlockText = 5;  // kSensorPresent: the text
inline constexpr uint32_t kSensorBlockTextRoom = kServiceBlockCheck - kSensorBlockText;
inline constexpr uint32_t kSensorBlockFrameMs = 5;
inline constexpr uint32_t kSensorBlockDelayMs = 9;
inline constexpr uint32_t kSensorBlockTimeoutMs = 13;
inline constexpr uint32_t kSensorBlockAnswerText = 17;  // kSensorQuery: the presentation
inline constexpr uint32_t kSensorBlockAnswerRoom = kServiceBlockCheck - kSensorBlockAnswerText;
