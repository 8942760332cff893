# WGServer, run as the real program, and a client process that talks to it over the pipes.
add_executable(wg_server_client server/wg_server_client.cpp)
target_link_libraries(wg_server_client PRIVATE wgrpc_static)

wg_add_test(server_test server/server_test.cpp LIBS wgrpc_static)
add_dependencies(server_test WGServer wg_server_client)
target_compile_definitions(server_test PRIVATE
  WG_SERVER="$<TARGET_FILE:WGServer>"
  WG_SERVER_CLIENT="$<TARGET_FILE:wg_server_client>")
