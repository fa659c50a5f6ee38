# Signs one PE file in place (cmake -P, from the install step):
#   -DFILE= -DOSSLSIGNCODE= -DCERT= -DKEY= [-DTIMESTAMP_URL=]
foreach(_var FILE OSSLSIGNCODE CERT KEY)
  if(NOT ${_var})
    message(FATAL_ERROR "KelvoSignFile: ${_var} not given")
  endif()
endforeach()
foreach(_input "${FILE}" "${CERT}" "${KEY}")
  if(NOT EXISTS "${_input}")
    message(FATAL_ERROR "KelvoSignFile: ${_input} does not exist")
  endif()
endforeach()

set(_timestamp)
if(TIMESTAMP_URL)
  set(_timestamp -ts "${TIMESTAMP_URL}")
endif()
get_filename_component(_name "${FILE}" NAME)
# osslsigncode writes a new file; the original is replaced only once that
# succeeded, so a failed signing never leaves a half-written binary behind.
set(_signed "${FILE}.signing")
file(REMOVE "${_signed}")
execute_process(
  COMMAND "${OSSLSIGNCODE}" sign -certs "${CERT}" -key "${KEY}" -h sha256
          -n "${_name}" ${_timestamp} -in "${FILE}" -out "${_signed}"
  RESULT_VARIABLE _result
  OUTPUT_VARIABLE _output
  ERROR_VARIABLE _output)
if(NOT _result EQUAL 0)
  file(REMOVE "${_signed}")
  message(FATAL_ERROR "Signing ${FILE} failed:\n${_output}")
endif()
file(RENAME "${_signed}" "${FILE}")
message(STATUS "Signed: ${FILE}")
