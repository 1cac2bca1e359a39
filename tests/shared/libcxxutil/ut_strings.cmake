korvo_add_test(test_ut_strings
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ut_string.cpp
  LIBS korvo_ut_strings)
