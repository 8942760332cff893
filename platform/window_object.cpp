#include "platform/window_object.h"

namespace platform {

WindowObject* CreateWindowObject(const char* className) {
  auto* window = new WindowObject;
  if (!AcquireNamedObject(className, ObjectKind::kWindow, Disposition::kCreateOrOpen, 0, nullptr,
                          nullptr, window, nullptr)) {
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
