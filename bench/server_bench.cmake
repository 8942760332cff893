# WGServer's own costs, through the client library against the real program.
if(TARGET WGServer)
  add_executable(server_bench server_bench.cpp)
  target_link_libraries(server_bench PRIVATE wg_bench_support wg_user_store wgrpc_static)
  add_dependencies(server_bench WGServer)
  target_compile_definitions(server_bench PRIVATE WG_SERVER_PROGRAM="$<TARGET_FILE:WGServer>")
endif()
