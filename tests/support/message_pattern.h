// Message contents that both sides of a cross-process test can produce and check.
#pragma once

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> PatternMessage(uint32_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length);
  uint32_t x = seed * 2654435761u + 1;
  for (uint32_t i = 0; i < length; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<uint8_t>(x >> 16);
  }
  return bytes;
}

inline uint32_t Fnv1a(const uint8_t* p, uint32_t length) {
  uint32_t h = 2166136261u;
  for (uint32_t i = 0; i < length; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}
