# The trace viewer: its real windows on the offscreen platform, real tracing processes, a
# pseudo-terminal as the serial port, and the program itself for its console mode.
wg_add_test(ventolog_test ventolog/viewer_fixture.cpp ventolog/trace_window_test.cpp
  ventolog/dialogs_test.cpp ventolog/logging_test.cpp ventolog/console_test.cpp
  ventolog/log_sinks_test.cpp
  LIBS ventolog_core wg_gui_test_support util)
add_dependencies(ventolog_test wgtrace Ventolog)
set(WG_ARTIFACT_DIR ${CMAKE_BINARY_DIR}/artifacts)
file(MAKE_DIRECTORY ${WG_ARTIFACT_DIR})
target_compile_definitions(ventolog_test PRIVATE
  WG_TRACE_TOOL="$<TARGET_FILE:wgtrace>"
  WG_VENTOLOG_PROGRAM="$<TARGET_FILE:Ventolog>"
  WG_ARTIFACT_DIR="${WG_ARTIFACT_DIR}")
