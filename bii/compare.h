// Template bytes to and from features, and the comparison of a probe with a template.
#pragma once

#include <array>
#include <cstdint>

#include "bii/features.h"

namespace bii {

// Writes the full form (kFullSize bytes; the rest of BII_TEMPLATE_MAX_SIZE is zeroed).
void WriteTemplate(const Features& features, uint8_t* pTemplate);

// A template as read back: features without the per-cell flow. The small form carries the
// block flow in coarse steps and only its first minutiae.
struct Reference {
  Features features;
  bool bFine = false;
};
// False for bytes that are no template of this matcher.
bool ReadTemplate(const uint8_t* pTemplate, Reference& reference);

struct Comparison {
  float fScore = 0;  // 0 to 1.4
  int iPaired = 0;   // minutiae paired under the best alignment
};
// `iRotationLimit`: the largest turn between the two prints that is searched, in degrees.
Comparison Compare(const Features& probe, const Reference& reference, int iRotationLimit);

}  // namespace bii
