korvo_add_test(test_stp_log
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stp_log.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_stp_child_process.cpp
  LIBS korvo_stp_log korvo_testsupport)
# The helper program lands beside the test in bin/; the launcher tests start it.
add_executable(stp_child_helper ${CMAKE_CURRENT_LIST_DIR}/stp_child_helper.cpp)
target_link_libraries(stp_child_helper PRIVATE korvo_stp_transport)
add_dependencies(test_stp_log stp_child_helper)
