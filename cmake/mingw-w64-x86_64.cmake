# Toolchain for running the Wine tests on a host whose kernel cannot execute
# 32-bit code (then 32-bit Wine cannot start). The shipped binaries are always
# the i686 ones; this build only exercises the same sources.
set(KELVO_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
