korvo_add_test(test_stp_log
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stp_log.cpp
  LIBS korvo_stp_log)
