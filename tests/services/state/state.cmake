korvo_add_test(test_state
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_svc_eventloop.cpp
  LIBS korvo_state korvo_ut_retry korvo_runtime)
