// The presence object that stands for a top-level window of a given class: it exists while
// the program that created it runs.
#pragma once

#include "platform/named_object.h"

namespace platform {

struct WindowObject : NamedObject {};

WindowObject* CreateWindowObject(const char* className);
void CloseWindowObject(WindowObject* window);
bool WindowObjectExists(const char* className);

}  // namespace platform
