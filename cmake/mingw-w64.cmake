# Cross-compiles for Windows with mingw-w64's -posix compilers (they carry std::thread and
# std::mutex), for the processor that the toolchain file including this one names
# (mingw-i686.cmake, mingw-x86_64.cmake). The source tree uses them, and a quorrin package ships
# all three (share/quorrin/toolchains/) for hosts built against that package.
set(CMAKE_SYSTEM_NAME Windows)
set(_quorrin_triplet ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER ${_quorrin_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_quorrin_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_quorrin_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_quorrin_triplet})
# Inside an unpacked package, find_package(quorrin) finds that package with no other option.
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/../../../lib/cmake/quorrin/quorrinConfig.cmake")
  get_filename_component(_quorrin_package "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
  list(APPEND CMAKE_FIND_ROOT_PATH "${_quorrin_package}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# In the source tree, ctest runs what is built under Wine: 32- or 64-bit, each with its own prefix.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL x86_64)
  set(_quorrin_wine_run "${CMAKE_CURRENT_LIST_DIR}/wine64-run.sh")
else()
  set(_quorrin_wine_run "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh")
endif()
if(EXISTS "${_quorrin_wine_run}")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_quorrin_wine_run}")
endif()
