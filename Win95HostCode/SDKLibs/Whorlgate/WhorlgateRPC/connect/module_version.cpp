// The client library's version resource, read back by the version calls.
#include "platform/module_version.h"

WG_MODULE_VERSION_RESOURCE("4, 1, 0, 1", "Whorlgate client library");
