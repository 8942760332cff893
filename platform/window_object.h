// The presence object that stands for a top-level window of a given class: it exists while
// the program that created it runs.
#pragma once

#include "platform/named_object.h"

namespace platform {

struct WindowObject : NamedObject {};

// *pExisted (when given) tells whether a live presence object of that class was there before:
// how a program learns that another instance of it already runs.
WindowObject* CreateWindowObject(const char* className, bool* pExisted = nullptr);
void CloseWindowObject(WindowObject* window);
bool WindowObjectExists(const char* className);

}  // namespace platform
