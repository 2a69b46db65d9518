# The test signals and their checkers (no dependency beyond the standard library), and the
# tovanel_signal tool that scripts use to play and check them.
add_library(tovanel_signals STATIC
  ${CMAKE_CURRENT_LIST_DIR}/frame_numbering.cpp
  ${CMAKE_CURRENT_LIST_DIR}/numbering_checker.cpp
  ${CMAKE_CURRENT_LIST_DIR}/raw_pcm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sample_bounds.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signal_reports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sine_generator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tone_analysis.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wav_writer.cpp
)
target_include_directories(tovanel_signals PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(tovanel_signals PRIVATE tovanel_warnings)

add_executable(tovanel_signal ${CMAKE_CURRENT_LIST_DIR}/../tools/tovanel_signal.cpp)
target_link_libraries(tovanel_signal PRIVATE tovanel_signals tovanel_warnings)
