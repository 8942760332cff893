# The command-line tools against the real server.
wg_add_test(wgcli_test tools/wgcli_test.cpp)
add_dependencies(wgcli_test WGServer wgcli wgsensor)
target_compile_definitions(wgcli_test PRIVATE
  WG_SERVER="$<TARGET_FILE:WGServer>"
  WG_CLI="$<TARGET_FILE:wgcli>"
  WG_SENSOR="$<TARGET_FILE:wgsensor>")
