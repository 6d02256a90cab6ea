# The Windows build: the DLL, the virtual camera, tools and the tests that run under Wine.
set(QELVAN_BIN ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${QELVAN_BIN})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${QELVAN_BIN})
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${QELVAN_BIN})

# The library's code and everything that runs it in-process (tests, benchmarks) use SSE2 for
# floating point, so every float and double operation rounds as written instead of carrying
# x87 extended precision. Not for the kernel driver. (x86-64 does so anyway.)
set(QELVAN_CODE_FLAGS -msse2 -mfpmath=sse)

# The same sources make the 32-bit and the 64-bit build; the virtual camera's kernel driver comes
# from the 64-bit one only.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QELVAN_WIN64 ON)
  set(QELVAN_MINGW_SYSROOT /usr/x86_64-w64-mingw32)
  set(qelvan_thirdparty_default ${CMAKE_SOURCE_DIR}/build/thirdparty/install-x64)
else()
  set(QELVAN_WIN64 OFF)
  set(QELVAN_MINGW_SYSROOT /usr/i686-w64-mingw32)
  set(qelvan_thirdparty_default ${CMAKE_SOURCE_DIR}/build/thirdparty/install)
endif()

# Everything is linked statically so that binaries depend on system DLLs only.
add_link_options(-static -static-libgcc -static-libstdc++)

set(QELVAN_THIRDPARTY ${qelvan_thirdparty_default} CACHE PATH
    "Cross-built libjpeg, libpng and libtiff")
list(APPEND CMAKE_FIND_ROOT_PATH ${QELVAN_THIRDPARTY})

# Tests run under Wine through the project's runner.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/winrun)

# GoogleTest from Debian's source package, built with the posix-thread MinGW compilers.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(${CMAKE_SOURCE_DIR}/cmake/layers.cmake)
add_subdirectory(src)
set(qelvan_win_dirs driver tools samples tests/win32 bench/win32)
foreach(dir ${qelvan_win_dirs})
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
