# Registry stores, registry access and module version texts.

# Two small modules for the version texts: one with a version resource, one without.
add_library(wg_versioned_test_module SHARED registry/versioned_test_module.cpp)
add_library(wg_plain_test_module SHARED registry/plain_test_module.cpp)

wg_add_test(registry_test registry/registry_store_test.cpp registry/registry_test.cpp
  registry/module_version_test.cpp
  LIBS wg_versioned_test_module wg_plain_test_module)
target_compile_definitions(registry_test PRIVATE
  WG_CLIENT_LIBRARY_FILE="$<TARGET_FILE:wgrpc>"
  WG_VERSIONED_TEST_MODULE_FILE="$<TARGET_FILE:wg_versioned_test_module>")
add_dependencies(registry_test wgrpc)
