korvo_add_test(test_ut_strings
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ut_string.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_ut_string_list.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_ut_char_buffer.cpp
  LIBS korvo_ut_strings)
