# The trace viewer's sustained intake (a producer process at 1,000 records a second).
add_executable(ventolog_bench ventolog_bench.cpp)
target_link_libraries(ventolog_bench PRIVATE ventolog_core benchmark::benchmark)
