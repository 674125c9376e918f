# The fuzzing build (-DBUILD_FUZZERS=ON): every target, the libraries under
# test included, gets libFuzzer's coverage instrumentation, AddressSanitizer
# and UndefinedBehaviorSanitizer; only the fuzz targets link the libFuzzer
# runtime (fuzz/CMakeLists.txt). Undefined behaviour stops the run, so the
# fuzzer records it as a crash.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "BUILD_FUZZERS needs clang++: configure with -DCMAKE_CXX_COMPILER=clang++")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
