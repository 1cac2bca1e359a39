# The helper program lands beside the test in bin/; the test starts it.
add_executable(ut_process_child_helper ${CMAKE_CURRENT_LIST_DIR}/process_child_helper.cpp)
korvo_add_test(test_ut_process
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ut_process.cpp
  LIBS korvo_ut_process)
add_dependencies(test_ut_process ut_process_child_helper)
