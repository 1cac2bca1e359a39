# The text forms of korvoctl wb (get lines, the dump format) and the words
# the bash completion offers, without any connection.
korvo_add_test(test_korvoctl_wbtext
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_korvoctl_wb_text.cpp
  LIBS korvo_korvoctl_wbtext korvo_korvoctl korvo_runtime)
