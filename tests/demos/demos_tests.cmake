# The demonstration programs: their real windows on the offscreen platform, in the test's own
# process with the client library linked statically and attached to the real WGServer, whose
# simulated sensor wgsensor directs.
add_library(wg_kit_test_support STATIC support/kit_fixture.cpp)
target_link_libraries(wg_kit_test_support PUBLIC wg_test_support wgrpc_static)
add_dependencies(wg_kit_test_support WGServer wgsensor)
target_compile_definitions(wg_kit_test_support PUBLIC
  WG_SERVER="$<TARGET_FILE:WGServer>"
  WG_SENSOR="$<TARGET_FILE:wgsensor>")

wg_add_test(demo_display_test demos/display_test.cpp
  LIBS wg_demo_common wg_gui_test_support wgrpc_static)
