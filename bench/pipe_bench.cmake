# Pipe, trace and client library exchange benchmarks.
add_library(wg_bench_support STATIC pipe_echo.cpp)
target_link_libraries(wg_bench_support PUBLIC wg_shared benchmark::benchmark)

add_executable(pipe_bench pipe_bench.cpp)
target_link_libraries(pipe_bench PRIVATE wg_bench_support)

# Against the real server program and the scripted test server (built with the tests).
if(TARGET WGServer AND TARGET wg_script_server)
  add_executable(rpc_bench rpc_bench.cpp)
  target_link_libraries(rpc_bench PRIVATE wg_bench_support wgrpc_static)
  add_dependencies(rpc_bench WGServer wg_script_server)
  target_compile_definitions(rpc_bench PRIVATE
    WG_SERVER_PROGRAM="$<TARGET_FILE:WGServer>"
    WG_SCRIPT_SERVER="$<TARGET_FILE:wg_script_server>")
else()
  message(STATUS "rpc_bench needs WGServer and the test programs (WG_BUILD_TESTS=ON)")
endif()
