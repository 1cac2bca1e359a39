korvo_add_test(test_whiteboard_client
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_whiteboard_client.cpp
  LIBS korvo_whiteboard_client korvo_whiteboard korvo_stp_transport korvo_runtime)
