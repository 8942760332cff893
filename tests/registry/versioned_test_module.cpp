#include "platform/module_version.h"
#include "tests/registry/test_modules.h"

WG_MODULE_VERSION_RESOURCE("1, 2, 3, 4", "Versioned test module");

const void* VersionedTestModuleAddress() {
  static const char kHere = 0;
  return &kHere;
}
