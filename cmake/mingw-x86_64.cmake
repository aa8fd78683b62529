# 64-bit Windows (PE32+ x86-64) with mingw-w64; the rest is in mingw-w64.cmake beside this file.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
