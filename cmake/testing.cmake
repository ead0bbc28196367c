# Test helpers shared by every folder under tests/.
#
# stepmill_gtest(<name> SOURCES <files...> LIBS <targets...> [JACK] [TIMEOUT <s>] [PROPERTIES <p> <v>...])
#   A GoogleTest executable; each of its cases is one CTest test, named
#   <name>.<Suite>.<Case>, with the given properties added.
#   JACK: the cases run, alone (timing matters), against the private JACK server of this build (the
#   `jack` fixture), with JACK_DEFAULT_SERVER naming it.
#
# Every test runs with JACK_NO_START_SERVER so that nothing ever starts or meets
# a JACK server of the user's. GUI tests need a display: the README's test
# command runs CTest under Xvfb.

string(RANDOM LENGTH 8 ALPHABET abcdefghijklmnopqrstuvwxyz0123456789 _stepmill_run_id)
set(STEPMILL_JACK_SERVER "stepmill-test-${_stepmill_run_id}" CACHE INTERNAL "private JACK server of the tests")
set(STEPMILL_JACK_SCRIPT ${PROJECT_SOURCE_DIR}/tools/jack_server.sh)

if(NOT TEST jack_server_start)
  add_test(NAME jack_server_start COMMAND ${STEPMILL_JACK_SCRIPT} start ${STEPMILL_JACK_SERVER} 64)
  add_test(NAME jack_server_stop COMMAND ${STEPMILL_JACK_SCRIPT} stop ${STEPMILL_JACK_SERVER})
  set_tests_properties(jack_server_start PROPERTIES FIXTURES_SETUP jack)
  set_tests_properties(jack_server_stop PROPERTIES FIXTURES_CLEANUP jack)
endif()

set(STEPMILL_TEST_ENV
  JACK_NO_START_SERVER=1
  JACK_DEFAULT_SERVER=${STEPMILL_JACK_SERVER}
  STEPMILL_SOURCE_DIR=${PROJECT_SOURCE_DIR}
  STEPMILL_BINARY_DIR=${PROJECT_BINARY_DIR}
  XDG_STATE_HOME=${PROJECT_BINARY_DIR}/test-state
  G_DEBUG=fatal-criticals
  NO_AT_BRIDGE=1)

function(stepmill_gtest name)
  cmake_parse_arguments(T "JACK" "TIMEOUT" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # Listed when CTest runs, not at build time: GUI programs need the display
  # that only the test run has.
  gtest_discover_tests(${name} TEST_PREFIX "${name}." TEST_LIST ${name}_TESTS
                       DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  # The cases get their properties from a script of ours that CTest reads after
  # the listing: gtest_discover_tests' own PROPERTIES split a list value such as
  # the environment into separate properties.
  set(properties "ENVIRONMENT [==[${STEPMILL_TEST_ENV}]==] TIMEOUT ${T_TIMEOUT}")
  if(T_JACK)
    string(APPEND properties " FIXTURES_REQUIRED jack RESOURCE_LOCK jack RUN_SERIAL TRUE")
  endif()
  foreach(item ${T_PROPERTIES})
    string(APPEND properties " [==[${item}]==]")
  endforeach()
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${script} "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ${properties})\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

# stepmill_script_test(<name> COMMAND <cmd...> [JACK] [TIMEOUT <s>])
#   A test that is a program or script of its own (a shell or Python check).
function(stepmill_script_test name)
  cmake_parse_arguments(T "JACK" "TIMEOUT" "COMMAND" ${ARGN})
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${STEPMILL_TEST_ENV}" TIMEOUT ${T_TIMEOUT})
  if(T_JACK)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED jack RESOURCE_LOCK jack RUN_SERIAL TRUE)
  endif()
endfunction()
