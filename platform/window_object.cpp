#include "platform/window_object.h"

namespace platform {

WindowObject* CreateWindowObject(const char* className, bool* pExisted) {
  auto* window = new WindowObject;
  if (!AcquireNamedObject(className, ObjectKind::kWindow, Disposition::kCreateOrOpen, 0, nullptr,
                          nullptr, window, pExisted)) {
    delete window;
    return nullptr;
  }
  return window;
}

void CloseWindowObject(WindowObject* window) {
  if (!window) return;
  ReleaseNamedObject(window);
  delete window;
}

bool WindowObjectExists(const char* className) {
  return NamedObjectExists(className, ObjectKind::kWindow);
}

}  // namespace platform
