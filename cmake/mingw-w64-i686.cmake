# Toolchain for the shipped 32-bit binaries.
set(KELVO_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
