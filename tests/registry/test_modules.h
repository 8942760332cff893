// Two small shared libraries for the version text tests: one carries a version resource, the
// other none. Each hands out an address inside itself.
#pragma once

#define WG_TEST_MODULE_EXPORT __attribute__((visibility("default")))

WG_TEST_MODULE_EXPORT const void* VersionedTestModuleAddress();
WG_TEST_MODULE_EXPORT const void* PlainTestModuleAddress();
