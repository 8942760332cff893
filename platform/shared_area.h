// Named shared memory areas (the kit's file mappings).
#pragma once

#include <cstdint>

#include "platform/named_object.h"

namespace platform {

struct SharedArea : NamedObject {
  uint32_t size = 0;
};

// Creates a zero-filled area of `size` bytes or opens the live one of that name (keeping its
// size). Null on failure.
SharedArea* CreateSharedArea(const char* name, uint32_t size, bool* pExisted);
SharedArea* OpenSharedArea(const char* name);
void CloseSharedArea(SharedArea* area);

// The whole area, read and write.
inline uint8_t* SharedAreaView(const SharedArea* area) { return area->data(); }

}  // namespace platform
