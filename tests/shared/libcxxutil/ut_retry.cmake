korvo_add_test(test_ut_retry
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ut_retry.cpp
  LIBS korvo_ut_retry)
