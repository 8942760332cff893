// The 32-bit sensor status of the sensor-level calls, formed from a result code.
#pragma once

#include <cstdint>

#include "whorlgate/wg_sensor.h"

inline constexpr WGSensorStatus kSensorStatusFailureBits = 0x83FB0000u;

// The code widened with its sign, marked as success or failure. Every failure code of these
// calls is negative, so a failure status is the code as a 32-bit number.
inline WGSensorStatus SensorStatus(WGResult iCode) {
  const auto uiWidened = static_cast<uint32_t>(static_cast<int32_t>(iCode));
  return uiWidened | (iCode == WG_OK ? WG_SENSOR_STATUS_OK : kSensorStatusFailureBits);
}
