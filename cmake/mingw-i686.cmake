# 32-bit Windows (PE i386) with mingw-w64; the rest is in mingw-w64.cmake beside this file.
set(CMAKE_SYSTEM_PROCESSOR i686)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
