# Cross-compiles for 32-bit Windows with mingw-w64's -posix compilers (they carry std::thread and
# std::mutex). Self-contained: the source tree uses it, and a quorrin package ships it
# (share/quorrin/toolchains/) for hosts built against that package.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
# Inside an unpacked package, find_package(quorrin) finds that package with no other option.
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/../../../lib/cmake/quorrin/quorrinConfig.cmake")
  get_filename_component(_quorrin_package "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
  list(APPEND CMAKE_FIND_ROOT_PATH "${_quorrin_package}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# In the source tree, ctest runs what is built under Wine.
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh")
endif()
