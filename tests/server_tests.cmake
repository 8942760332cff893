# WGServer, run as the real program, and a client process that talks to it over the pipes.
add_executable(wg_server_client server/wg_server_client.cpp)
target_link_libraries(wg_server_client PRIVATE wgrpc_static)

wg_add_test(server_test server/server_test.cpp LIBS wgrpc_static)
add_dependencies(server_test WGServer wg_server_client)
target_compile_definitions(server_test PRIVATE
  WG_SERVER="$<TARGET_FILE:WGServer>"
  WG_SERVER_CLIENT="$<TARGET_FILE:wg_server_client>")

# The user store and the calls that need no finger: an application linked against libwgrpc.so,
# and a process that writes the store as enrollment does, to be killed inside its transaction.
add_executable(wg_user_client server/wg_user_client.cpp)
target_link_libraries(wg_user_client PRIVATE wgrpc)
add_executable(wg_store_writer server/wg_store_writer.cpp)
target_link_libraries(wg_store_writer PRIVATE wg_user_store)

wg_add_test(user_store_test server/user_store_test.cpp LIBS wg_user_store wgrpc_static)
add_dependencies(user_store_test WGServer wg_user_client wg_store_writer)
target_compile_definitions(user_store_test PRIVATE
  WG_SERVER="$<TARGET_FILE:WGServer>"
  WG_USER_CLIENT="$<TARGET_FILE:wg_user_client>"
  WG_STORE_WRITER="$<TARGET_FILE:wg_store_writer>")

# The captures end to end: an application linked against libwgrpc.so, the real server with its
# simulated sensor, and wgsensor to say what the sensor is shown.
add_executable(wg_capture_client server/wg_capture_client.cpp)
target_link_libraries(wg_capture_client PRIVATE wgrpc)
wg_add_test(capture_test server/capture_test.cpp LIBS wg_user_store wgrpc_static wg_fingers)
add_dependencies(capture_test WGServer wg_capture_client wgsensor)
target_compile_definitions(capture_test PRIVATE
  WG_SERVER="$<TARGET_FILE:WGServer>"
  WG_CAPTURE_CLIENT="$<TARGET_FILE:wg_capture_client>"
  WG_SENSOR="$<TARGET_FILE:wgsensor>")

# Faults across processes, with the real server and wgcli as the client.
wg_add_test(fault_test server/fault_test.cpp LIBS wg_user_store wgrpc_static)
add_dependencies(fault_test WGServer wgcli wgsensor)
target_compile_definitions(fault_test PRIVATE
  WG_SERVER="$<TARGET_FILE:WGServer>"
  WG_CLI="$<TARGET_FILE:wgcli>"
  WG_SENSOR="$<TARGET_FILE:wgsensor>")

# The comm port end to end: the real server lending a pseudo-terminal, this process and a
# second application linked against libwgrpc.so as its clients.
add_executable(wg_comm_client server/wg_comm_client.cpp)
target_link_libraries(wg_comm_client PRIVATE wgrpc)
wg_add_test(comm_port_server_test server/comm_port_server_test.cpp LIBS wgrpc_static)
add_dependencies(comm_port_server_test WGServer wg_comm_client)
target_compile_definitions(comm_port_server_test PRIVATE
  WG_SERVER="$<TARGET_FILE:WGServer>"
  WG_COMM_CLIENT="$<TARGET_FILE:wg_comm_client>")
