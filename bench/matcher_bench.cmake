# The matcher's two work calls on synthetic impressions: one build, one comparison (the probe's
# feature extraction included), full and small template.
add_executable(matcher_bench matcher_bench.cpp)
target_link_libraries(matcher_bench PRIVATE bii_dll wg_fingers benchmark::benchmark_main)
