# Cross-compiling for x86_64 Windows with Debian's MinGW-w64.
set(VELDER_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
