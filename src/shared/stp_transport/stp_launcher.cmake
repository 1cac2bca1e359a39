# Protocol logs (STPLog and its file variants) and the child-process launcher.
add_library(korvo_stp_log STATIC
  ${CMAKE_CURRENT_LIST_DIR}/stp_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_child_process.cpp)
target_link_libraries(korvo_stp_log
  PUBLIC korvo_stp_transport korvo_runtime
  PRIVATE korvo_ut_process)
