#include "platform/shared_area.h"

namespace platform {

namespace {
SharedArea* Acquire(const char* name, Disposition disposition, uint32_t size, bool* pExisted) {
  auto* area = new SharedArea;
  if (!AcquireNamedObject(name, ObjectKind::kSharedArea, disposition, size, nullptr, nullptr,
                          area, pExisted)) {
    delete area;
    return nullptr;
  }
  area->size = area->header()->dataSize;
  return area;
}
}  // namespace

SharedArea* CreateSharedArea(const char* name, uint32_t size, bool* pExisted) {
  return Acquire(name, Disposition::kCreateOrOpen, size, pExisted);
}

SharedArea* OpenSharedArea(const char* name) {
  return Acquire(name, Disposition::kOpenExisting, 0, nullptr);
}

void CloseSharedArea(SharedArea* area) {
  if (!area) return;
  ReleaseNamedObject(area);
  delete area;
}

}  // namespace platform
