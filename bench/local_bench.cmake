# Image resampling, cipher and template record benchmarks, each beside a peer: OpenSSL's
# Blowfish, and OpenCV's bilinear resize when it is installed (bench/run-bench.sh
# installs it; nothing else in the kit needs it).
find_package(OpenSSL REQUIRED)
add_executable(local_bench
  local/resample_bench.cpp
  local/cipher_bench.cpp
  local/template_record_bench.cpp
)
target_link_libraries(local_bench PRIVATE wgrpc_static OpenSSL::Crypto benchmark::benchmark_main)

# A comparison through the public call on synthetic fingers, with the minimum score read from a
# running WGServer as in the kit.
if(TARGET WGServer)
  target_sources(local_bench PRIVATE local_bench_match.cpp)
  target_link_libraries(local_bench PRIVATE wg_bench_support wg_fingers)
  add_dependencies(local_bench WGServer)
  target_compile_definitions(local_bench PRIVATE WG_SERVER_PROGRAM="$<TARGET_FILE:WGServer>")
endif()

find_path(WG_OPENCV_INCLUDE_DIR opencv2/imgproc.hpp PATH_SUFFIXES opencv4)
find_library(WG_OPENCV_CORE_LIBRARY opencv_core)
find_library(WG_OPENCV_IMGPROC_LIBRARY opencv_imgproc)
if(WG_OPENCV_INCLUDE_DIR AND WG_OPENCV_CORE_LIBRARY AND WG_OPENCV_IMGPROC_LIBRARY)
  target_sources(local_bench PRIVATE local/resample_opencv_bench.cpp)
  target_include_directories(local_bench SYSTEM PRIVATE ${WG_OPENCV_INCLUDE_DIR})
  target_link_libraries(local_bench PRIVATE ${WG_OPENCV_IMGPROC_LIBRARY} ${WG_OPENCV_CORE_LIBRARY})
else()
  message(STATUS "OpenCV imgproc not found: local_bench runs without its resize peer "
                 "(bench/run-bench.sh installs libopencv-imgproc-dev)")
endif()
