# Build-time update source of the updater: host, optionally ":port". The base
# URL is http:// (https:// with TOVANE_UPDATE_HTTPS) + host +
# /UploadFile/Product_Soft/Kelvo/.
set(TOVANE_UPDATE_HOST "update.kelvo.com" CACHE STRING
    "Host (optionally host:port) of the update server that Tovane.exe checks")

set(_host "${TOVANE_UPDATE_HOST}")
if(_host STREQUAL "")
  message(FATAL_ERROR "TOVANE_UPDATE_HOST is empty: give the update server's host, e.g. update.example.com or 127.0.0.1:8080")
endif()
# A DNS name or dotted IPv4 address, each label 1-63 of [A-Za-z0-9-] not
# starting or ending with '-', then an optional decimal port 1-65535.
set(_label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
if(NOT _host MATCHES "^(${_label})(\\.${_label})*(:([0-9]+))?$")
  message(FATAL_ERROR "TOVANE_UPDATE_HOST '${_host}' is not a host name with an optional :port (no scheme, path, user or blanks)")
endif()
if(_host MATCHES ":([0-9]+)$")
  set(_port "${CMAKE_MATCH_1}")
  if(_port LESS 1 OR _port GREATER 65535 OR _port MATCHES "^0")
    message(FATAL_ERROR "TOVANE_UPDATE_HOST '${_host}': port must be 1-65535")
  endif()
  string(REGEX REPLACE ":[0-9]+$" "" _name "${_host}")
else()
  set(_name "${_host}")
endif()
string(LENGTH "${_name}" _len)
if(_len GREATER 253)
  message(FATAL_ERROR "TOVANE_UPDATE_HOST '${_host}': host name longer than 253 characters")
endif()
option(TOVANE_UPDATE_HTTPS
       "Fetch updates over https (certificate checked, no redirect to http)" OFF)
if(TOVANE_UPDATE_HTTPS)
  set(_scheme https)
else()
  set(_scheme http)
endif()
set(TOVANE_BASE_URL "${_scheme}://${_host}/UploadFile/Product_Soft/Kelvo/")
message(STATUS "Tovane update base URL: ${TOVANE_BASE_URL}")
