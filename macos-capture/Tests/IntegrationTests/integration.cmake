# The integration cases (cases.sh: each with a server of its own, most on both) and their two tools.
add_executable(tovanel_signal ${CMAKE_CURRENT_LIST_DIR}/../Support/tools/tovanel_signal.cpp)
add_executable(tovanel-test-sender ${CMAKE_CURRENT_LIST_DIR}/../Support/test_sender/test_sender.cpp)
target_link_libraries(tovanel_signal PRIVATE tovanel_warnings)
target_link_libraries(tovanel-test-sender PRIVATE tovanel_warnings)
set(cases pulse.no_server)
foreach(case capture_loopback app_loopback.device app_loopback.screen server_fault.kill
        server_fault.gone follow.switch follow.plug follow.unload server_stalled)
  list(APPEND cases pulse.${case} pipewire.${case})
endforeach()
foreach(case ${cases})
  add_test(NAME integration.${case} COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cases.sh
           $<TARGET_FILE_DIR:tovanel-macos-capture> ${CMAKE_BINARY_DIR}/Testing/pulse-tmp ${case})
  set_tests_properties(integration.${case} PROPERTIES LABELS integration TIMEOUT 120)
endforeach()
