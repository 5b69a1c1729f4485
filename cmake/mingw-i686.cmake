# Cross-compiling for i686 Windows with Debian's MinGW-w64.
set(VELDER_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
