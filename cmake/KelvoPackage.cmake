# The release package: what `cmake --install` puts in place and CPack zips,
# from the shipped i686 build. The x86_64 library flavour joins it from a
# second build tree (KELVO_X64_BUILD_DIR) under x64/. Included after every
# subdirectory, so that it sees all targets and its install steps run last.

set(KELVO_X64_BUILD_DIR "" CACHE PATH
    "x86_64 build tree of the same sources whose Qorinhid.dll joins the package under x64/")
set(KELVO_SIGN_TEST_CA "" CACHE FILEPATH
    "CA the package test trusts when it verifies the signatures; empty: not verified")

set(_signed $<TARGET_FILE_NAME:Tovane> $<TARGET_FILE_NAME:qorinhid> $<TARGET_FILE_NAME:hidprobe>)
set(_x64_files)
if(KELVO_X64_BUILD_DIR)
  if(NOT EXISTS ${KELVO_X64_BUILD_DIR}/CMakeCache.txt)
    message(FATAL_ERROR "KELVO_X64_BUILD_DIR ${KELVO_X64_BUILD_DIR} is not a configured build tree "
                        "(configure it with cmake/mingw-w64-x86_64.cmake first)")
  endif()
  set(_x64 ${KELVO_X64_BUILD_DIR}/qorinhid)
  # Built by the other tree before this one is installed (scripts/test.sh
  # does it in that order); a missing file stops the install.
  install(FILES ${_x64}/Qorinhid.dll DESTINATION x64)
  install(FILES ${_x64}/libQorinhid.dll.a ${_x64}/Qorinhid.lib DESTINATION x64/lib)
  list(APPEND _signed x64/Qorinhid.dll)
  list(APPEND _x64_files x64/Qorinhid.dll x64/lib/libQorinhid.dll.a x64/lib/Qorinhid.lib)
else()
  message(STATUS "KELVO_X64_BUILD_DIR not set: the package has the 32-bit library only")
endif()

# ---- kelvo-publish.exe joins the package here once its target exists. ----
set(_extra_files)
if(TARGET kelvo-publish)
  install(TARGETS kelvo-publish RUNTIME DESTINATION .)
  list(APPEND _signed $<TARGET_FILE_NAME:kelvo-publish>)
  list(APPEND _extra_files $<TARGET_FILE_NAME:kelvo-publish>)
endif()
# ---------------------------------------------------------------------------

set(KELVO_SHIPPING_EXTRA "")
if(TARGET kelvo-publish)
  set(KELVO_SHIPPING_EXTRA "kelvo-publish.exe Publishing tool of the vendor; not shipped to end users.\n")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/SHIPPING.txt.in ${CMAKE_BINARY_DIR}/SHIPPING.txt @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/SHIPPING.txt DESTINATION .)

kelvo_sign_installed(${_signed})

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Kelvo)
set(CPACK_PACKAGE_VENDOR Kelvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(_package_name Kelvo-${PROJECT_VERSION}-windows)
set(CPACK_PACKAGE_FILE_NAME ${_package_name})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

if(KELVO_BUILD_TESTS)
  set(_args --cpack ${CMAKE_CPACK_COMMAND} --build ${CMAKE_BINARY_DIR}
      --work ${CMAKE_BINARY_DIR}/package-test --version ${PROJECT_VERSION}
      --name ${_package_name} --header ${PROJECT_SOURCE_DIR}/hidlib/include/qorinhid.h)
  foreach(_file IN LISTS _x64_files _extra_files)
    list(APPEND _args --file ${_file})
  endforeach()
  if(KELVO_SIGN_TEST_CA)
    if(NOT KELVO_SIGNING)
      message(FATAL_ERROR "KELVO_SIGN_TEST_CA is set but the build signs nothing")
    endif()
    list(APPEND _args --osslsigncode ${KELVO_OSSLSIGNCODE} --ca ${KELVO_SIGN_TEST_CA}
         --unsigned $<TARGET_FILE:Tovane>)
  endif()
  add_test(NAME package COMMAND ${Python3_EXECUTABLE}
           ${PROJECT_SOURCE_DIR}/tests/package/check_package.py ${_args})
  set_tests_properties(package PROPERTIES LABELS package TIMEOUT 300)
endif()
