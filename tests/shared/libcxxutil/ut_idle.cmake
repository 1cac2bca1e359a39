korvo_add_test(test_ut_idle
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ut_idle_notifier.cpp
  LIBS korvo_ut_idle korvo_ut_retry)
