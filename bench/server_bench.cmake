# WGServer's own costs, through the client library against the real program.
if(TARGET WGServer)
  add_executable(server_bench server_bench.cpp)
  target_link_libraries(server_bench PRIVATE wg_bench_support wg_user_store wgrpc_static)
  add_dependencies(server_bench WGServer)
  target_compile_definitions(server_bench PRIVATE WG_SERVER_PROGRAM="$<TARGET_FILE:WGServer>")
endif()

# Identification over 0 to 10,000 enrolled fingers; the records are made once and kept here.
if(TARGET WGServer)
  add_executable(identify_bench identify_bench.cpp)
  target_link_libraries(identify_bench PRIVATE wg_bench_support wg_user_store wgrpc_static wg_fingers)
  add_dependencies(identify_bench WGServer)
  target_compile_definitions(identify_bench PRIVATE WG_SERVER_PROGRAM="$<TARGET_FILE:WGServer>"
    WG_BENCH_CACHE_DIR="${CMAKE_BINARY_DIR}")
endif()
