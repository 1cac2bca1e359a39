# ut_string, ut_string_list and ut_char_buffer.
add_library(korvo_ut_strings STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ut_string.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_string_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_char_buffer.cpp)
target_link_libraries(korvo_ut_strings PUBLIC korvo_runtime)
