# What every part of the build asks of the build host and the target, set up
# once: Python (the icon generator, the checks that read the built binaries)
# and which of the two Windows architectures this tree builds.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

if(WIN32 AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(KELVO_WIN64 ON)
else()
  set(KELVO_WIN64 OFF)
endif()
