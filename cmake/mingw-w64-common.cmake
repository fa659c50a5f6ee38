# Shared body of the two MinGW-w64 toolchain files. KELVO_MINGW_ARCH is set by
# the file that includes this one (i686 for the shipped binaries, x86_64 only
# for test runs on hosts that cannot execute 32-bit code).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KELVO_MINGW_ARCH})

set(_prefix ${KELVO_MINGW_ARCH}-w64-mingw32)
# The -posix compilers: gtest and std::thread need the posix thread model.
set(CMAKE_C_COMPILER   ${_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_prefix}-g++-posix)
set(CMAKE_RC_COMPILER  ${_prefix}-windres)
find_program(KELVO_WIDL NAMES ${_prefix}-widl widl REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static C and C++ runtimes: the binaries must import system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
