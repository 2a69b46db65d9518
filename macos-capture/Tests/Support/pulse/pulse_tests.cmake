# The private PulseAudio server of the integration tests. A CTest fixture starts it (with the
# null sinks "Built-in Output" as builtin, the default sink, and "BlackHole 2ch" as blackhole) in
# <build>/Testing/pulse and another stops it; the two functions below register tests that need
# it, with the environment pointing at that server only.
#
#   tovanel_add_pulse_test(NAME <name> COMMAND <command> [args...]
#                          [TIMEOUT <seconds>] [LABELS <label>...] [ENVIRONMENT <VAR=value>...]
#                          [WORKING_DIRECTORY <dir>])
#     A command test. It runs through `private-pulse run`, which exits 77 (reported as skipped)
#     when the server could not start, or fails under CI=true.
#   tovanel_discover_pulse_tests(<gtest target> [TIMEOUT <seconds>])
#     Every test of a gtest executable; derive the tests from tovanel::test::PulseServerTest
#     (pulse/pulse_test.h), which skips or fails the same way.
#
# Tests of either kind hold the resource lock tovanel_pulse_server (the server is shared, and
# tests change its defaults and play into its sinks) and get TMPDIR=<build>/Testing/pulse-tmp,
# where failed tests leave their captures as WAV files.
set(TOVANEL_PRIVATE_PULSE ${CMAKE_CURRENT_LIST_DIR}/private-pulse)
set(TOVANEL_PULSE_DIR ${CMAKE_BINARY_DIR}/Testing/pulse)
set(TOVANEL_PULSE_TMPDIR ${CMAKE_BINARY_DIR}/Testing/pulse-tmp)
file(MAKE_DIRECTORY ${TOVANEL_PULSE_TMPDIR})

add_test(NAME pulse_server_setup
  COMMAND bash ${TOVANEL_PRIVATE_PULSE} fixture-setup ${TOVANEL_PULSE_DIR}
          --sink "builtin=Built-in Output" --sink "blackhole=BlackHole 2ch"
          --default-sink builtin)
set_tests_properties(pulse_server_setup PROPERTIES
  FIXTURES_SETUP tovanel_pulse_server LABELS integration TIMEOUT 60 SKIP_RETURN_CODE 77)
add_test(NAME pulse_server_cleanup
  COMMAND bash ${TOVANEL_PRIVATE_PULSE} stop ${TOVANEL_PULSE_DIR})
set_tests_properties(pulse_server_cleanup PROPERTIES
  FIXTURES_CLEANUP tovanel_pulse_server LABELS integration TIMEOUT 30)

# What private-pulse writes to <dir>/env, known here in advance so CTest can set it.
set(TOVANEL_PULSE_ENVIRONMENT
  TOVANEL_PULSE_DIR=${TOVANEL_PULSE_DIR}
  PULSE_SERVER=unix:${TOVANEL_PULSE_DIR}/runtime/pulse/native
  PULSE_RUNTIME_PATH=${TOVANEL_PULSE_DIR}/runtime/pulse
  XDG_RUNTIME_DIR=${TOVANEL_PULSE_DIR}/runtime
  PULSE_COOKIE=${TOVANEL_PULSE_DIR}/cookie
  PULSE_CLIENTCONFIG=${TOVANEL_PULSE_DIR}/client.conf
  TMPDIR=${TOVANEL_PULSE_TMPDIR})
set(TOVANEL_PULSE_ENVIRONMENT_MODIFICATION
  PULSE_SINK=unset: PULSE_SOURCE=unset: PULSE_PROP=unset: PULSE_LATENCY_MSEC=unset:)

function(tovanel_add_pulse_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;TIMEOUT;WORKING_DIRECTORY"
                        "COMMAND;LABELS;ENVIRONMENT")
  if(NOT arg_NAME OR NOT arg_COMMAND)
    message(FATAL_ERROR "tovanel_add_pulse_test needs NAME and COMMAND")
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 120)
  endif()
  set(working_directory)
  if(arg_WORKING_DIRECTORY)
    set(working_directory WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  endif()
  set(environment ${TOVANEL_PULSE_ENVIRONMENT} ${arg_ENVIRONMENT})
  add_test(NAME ${arg_NAME} ${working_directory}
    COMMAND bash ${TOVANEL_PRIVATE_PULSE} run ${TOVANEL_PULSE_DIR} -- ${arg_COMMAND})
  set_tests_properties(${arg_NAME} PROPERTIES
    FIXTURES_REQUIRED tovanel_pulse_server
    RESOURCE_LOCK tovanel_pulse_server
    LABELS "integration;${arg_LABELS}"
    TIMEOUT ${arg_TIMEOUT}
    SKIP_RETURN_CODE 77
    ENVIRONMENT "${environment}"
    ENVIRONMENT_MODIFICATION "${TOVANEL_PULSE_ENVIRONMENT_MODIFICATION}")
endfunction()

function(tovanel_discover_pulse_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "TIMEOUT" "")
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 120)
  endif()
  gtest_discover_tests(${target} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60)
  # gtest_discover_tests cannot pass list-valued properties such as ENVIRONMENT, so a file that
  # CTest reads after the discovered tests sets them on every test of the target.
  set(properties_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_pulse_properties.cmake)
  file(WRITE ${properties_file}
    "if(DEFINED ${target}_TESTS)\n"
    "  set_tests_properties(\${${target}_TESTS} PROPERTIES\n"
    "    FIXTURES_REQUIRED tovanel_pulse_server\n"
    "    RESOURCE_LOCK tovanel_pulse_server\n"
    "    LABELS integration\n"
    "    TIMEOUT ${arg_TIMEOUT}\n"
    "    ENVIRONMENT [==[${TOVANEL_PULSE_ENVIRONMENT}]==]\n"
    "    ENVIRONMENT_MODIFICATION [==[${TOVANEL_PULSE_ENVIRONMENT_MODIFICATION}]==])\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${properties_file})
endfunction()

# The C++ side: the server's environment, pactl/pacat/parec, the gtest base fixture, evidence.
add_library(tovanel_pulse_test_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/capture_evidence.cpp
  ${CMAKE_CURRENT_LIST_DIR}/child_process.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pulse_environment.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pulse_test.cpp
)
target_link_libraries(tovanel_pulse_test_support
  PUBLIC tovanel_signals tovanel_test_support GTest::gtest PRIVATE tovanel_warnings)
