# Optional Authenticode signing of the shipped binaries with osslsigncode.
# Unsigned unless both KELVO_SIGN_CERT and KELVO_SIGN_KEY are given. Signing
# happens when the binaries are installed (cmake --install, cpack), so the
# package carries signed files while the tests run the build tree's own.

set(KELVO_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM or DER); empty: unsigned")
set(KELVO_SIGN_KEY "" CACHE FILEPATH "Private key of KELVO_SIGN_CERT (PEM or DER)")
set(KELVO_SIGN_TIMESTAMP_URL "" CACHE STRING "Authenticode time-stamp server; empty: no time stamp")

set(KELVO_SIGNING OFF)
if(KELVO_SIGN_CERT OR KELVO_SIGN_KEY)
  if(NOT KELVO_SIGN_CERT OR NOT KELVO_SIGN_KEY)
    message(FATAL_ERROR "Signing needs both KELVO_SIGN_CERT and KELVO_SIGN_KEY")
  endif()
  find_program(KELVO_OSSLSIGNCODE osslsigncode REQUIRED)
  set(KELVO_SIGNING ON)
  message(STATUS "Installed binaries are signed with ${KELVO_SIGN_CERT}")
endif()

# kelvo_sign_installed(<path relative to the install prefix> ...): signs those
# files at the end of the install step. Call it after the install rules that
# put them there.
function(kelvo_sign_installed)
  if(NOT KELVO_SIGNING)
    return()
  endif()
  foreach(_file IN LISTS ARGN)
    install(CODE "execute_process(COMMAND \"${CMAKE_COMMAND}\"
        -DFILE=\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${_file}
        \"-DOSSLSIGNCODE=${KELVO_OSSLSIGNCODE}\" \"-DCERT=${KELVO_SIGN_CERT}\"
        \"-DKEY=${KELVO_SIGN_KEY}\" \"-DTIMESTAMP_URL=${KELVO_SIGN_TIMESTAMP_URL}\"
        -P \"${PROJECT_SOURCE_DIR}/cmake/KelvoSignFile.cmake\"
        COMMAND_ERROR_IS_FATAL ANY)")
  endforeach()
endfunction()
