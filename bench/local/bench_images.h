// Source images shared by the resampling benchmarks of the kit and of its peer.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

// A noisy grey image, as unfriendly to the saturation as a real fingerprint.
inline std::vector<uint8_t> BenchImage(size_t uiSide) {
  std::mt19937 random(static_cast<uint32_t>(uiSide));
  std::vector<uint8_t> image(uiSide * uiSide);
  for (uint8_t& p : image) p = static_cast<uint8_t>(random());
  return image;
}
