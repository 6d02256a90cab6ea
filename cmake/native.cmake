# The native build: pure pixel code and its tests under sanitizers, and the benchmarks.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
find_package(GTest REQUIRED)
find_package(benchmark QUIET)

# Flags for code and tests that run under AddressSanitizer and UndefinedBehaviorSanitizer.
set(QELVAN_SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)

include(${CMAKE_SOURCE_DIR}/cmake/layers.cmake)

# Areas that build natively branch on WIN32 in their own CMakeLists.txt.
foreach(dir src/common src/imaging src/output driver tests/native bench)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
