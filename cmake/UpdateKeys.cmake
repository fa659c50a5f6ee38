# Build-time public keys of the updater: TOVANE_UPDATE_PUBLIC_KEYS, a list of
# PEM files with P-256 public keys (as `openssl ec -pubout` writes them). Each
# is checked with the openssl command line, since CNG under Wine imports even
# a point off the curve without complaint, and becomes 64 bytes X||Y in the
# generated header tovane_update_keys.h. No key: the updater checks no
# signature, as before.
#   Also usable as a script: cmake -DTOVANE_UPDATE_PUBLIC_KEYS=... -DTOVANE_UPDATE_KEYS_DIR=... -P
set(TOVANE_UPDATE_PUBLIC_KEYS "" CACHE STRING
    "PEM files (;-separated) of the P-256 public keys whose signatures Tovane.exe accepts")
if(NOT TOVANE_UPDATE_KEYS_DIR)
  set(TOVANE_UPDATE_KEYS_DIR ${CMAKE_BINARY_DIR}/generated)
endif()

# DER SubjectPublicKeyInfo of a P-256 key up to the point: SEQUENCE,
# id-ecPublicKey, prime256v1, BIT STRING, uncompressed point marker.
set(_spki_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
set(_entries "")
set(_count 0)
foreach(_key IN LISTS TOVANE_UPDATE_PUBLIC_KEYS)
  if(NOT IS_ABSOLUTE "${_key}" AND DEFINED CMAKE_SOURCE_DIR)
    get_filename_component(_key "${_key}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
  endif()
  if(NOT EXISTS "${_key}" OR IS_DIRECTORY "${_key}")
    message(FATAL_ERROR "TOVANE_UPDATE_PUBLIC_KEYS: key file '${_key}' does not exist")
  endif()
  file(READ "${_key}" _text LIMIT 4096)
  if(NOT _text MATCHES "-----BEGIN PUBLIC KEY-----")
    message(FATAL_ERROR "TOVANE_UPDATE_PUBLIC_KEYS: '${_key}' is not a PEM public key file (no '-----BEGIN PUBLIC KEY-----'; make one with: openssl ec -in private.pem -pubout -out public.pem)")
  endif()
  if(NOT TOVANE_OPENSSL)
    find_program(TOVANE_OPENSSL openssl)
    if(NOT TOVANE_OPENSSL)
      message(FATAL_ERROR "TOVANE_UPDATE_PUBLIC_KEYS: the openssl command line is needed to check the keys")
    endif()
  endif()
  # -pubcheck refuses a point that is not on its curve.
  execute_process(COMMAND ${TOVANE_OPENSSL} pkey -pubin -in ${_key} -pubcheck -noout
                  RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "TOVANE_UPDATE_PUBLIC_KEYS: '${_key}' is not a valid public key (malformed, or its point is not on the curve)")
  endif()
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    # A changed key file configures again.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_key})
  endif()
  set(_der ${TOVANE_UPDATE_KEYS_DIR}/key${_count}.der)
  file(MAKE_DIRECTORY ${TOVANE_UPDATE_KEYS_DIR})
  execute_process(COMMAND ${TOVANE_OPENSSL} pkey -pubin -in ${_key} -outform DER -out ${_der}
                  RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "TOVANE_UPDATE_PUBLIC_KEYS: '${_key}' could not be read: ${_err}")
  endif()
  file(READ ${_der} _hex HEX)
  file(REMOVE ${_der})
  string(LENGTH "${_hex}" _len)
  string(SUBSTRING "${_hex}" 0 54 _head)
  if(NOT _len EQUAL 182 OR NOT _head STREQUAL _spki_prefix)
    message(FATAL_ERROR "TOVANE_UPDATE_PUBLIC_KEYS: '${_key}' is not a P-256 (prime256v1) key")
  endif()
  string(SUBSTRING "${_hex}" 54 128 _xy)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_xy}")
  string(APPEND _entries "    {{${_bytes}}}, \\\n")
  math(EXPR _count "${_count} + 1")
endforeach()

file(MAKE_DIRECTORY ${TOVANE_UPDATE_KEYS_DIR})
set(_header "// Generated from TOVANE_UPDATE_PUBLIC_KEYS by cmake/UpdateKeys.cmake.\n#pragma once\n\n#define TOVANE_BUILT_IN_KEY_COUNT ${_count}\n#define TOVANE_BUILT_IN_KEYS \\\n${_entries}\n")
# Rewritten only on change, so an unchanged key list rebuilds nothing.
set(_path ${TOVANE_UPDATE_KEYS_DIR}/tovane_update_keys.h)
if(EXISTS ${_path})
  file(READ ${_path} _old)
else()
  set(_old "")
endif()
if(NOT _old STREQUAL _header)
  file(WRITE ${_path} "${_header}")
endif()
message(STATUS "Tovane update keys: ${_count} built in")
