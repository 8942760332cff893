# The fuzz build: every library the fuzz targets link is instrumented for libFuzzer's coverage
# and checked by AddressSanitizer (leaks included) and UndefinedBehaviorSanitizer; only the
# targets themselves link libFuzzer's main.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "WG_FUZZ needs clang: configure with CC=clang CXX=clang++")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
  -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
