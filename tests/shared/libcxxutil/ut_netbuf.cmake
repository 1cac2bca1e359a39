korvo_add_test(test_ut_netbuf
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ut_network_buffer.cpp
  LIBS korvo_ut_netbuf)
