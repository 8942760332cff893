#include "tests/registry/test_modules.h"

const void* PlainTestModuleAddress() {
  static const char kHere = 0;
  return &kHere;
}
