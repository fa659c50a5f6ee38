# Registration of tests that run under Wine. Every test binary is one CTest
# test and one Wine process; the fixture starts the display, the prefix and a
# persistent wineserver once for the whole run.

set(KELVO_WINE_STATE ${CMAKE_BINARY_DIR}/wine CACHE PATH "Wine state of the test run")
if(KELVO_WIN64)
  set(_kelvo_wine_arch win64)
else()
  set(_kelvo_wine_arch win32)
endif()
set(KELVO_WINE_RUN ${PROJECT_SOURCE_DIR}/tests/harness/wine-run.sh)

add_test(NAME wine_session_start
         COMMAND ${PROJECT_SOURCE_DIR}/tests/harness/wine-session.sh start
                 ${KELVO_WINE_STATE} ${_kelvo_wine_arch})
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
add_test(NAME wine_session_stop
         COMMAND ${PROJECT_SOURCE_DIR}/tests/harness/wine-session.sh stop ${KELVO_WINE_STATE})
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine)

# kelvo_add_wine_test(NAME target [TIMEOUT s] [ARGS ...] [PREFIX_CMD ...])
# PREFIX_CMD runs a host-side wrapper (for example one that starts a test HTTP
# server) in front of the Wine launch.
function(kelvo_add_wine_test name target)
  cmake_parse_arguments(ARG "" "TIMEOUT" "ARGS;PREFIX_CMD" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  add_test(NAME ${name}
           COMMAND ${ARG_PREFIX_CMD} ${KELVO_WINE_RUN} ${KELVO_WINE_STATE}
                   $<TARGET_FILE:${target}> ${ARG_ARGS})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${ARG_TIMEOUT}
                       RESOURCE_LOCK wine_display)
endfunction()
