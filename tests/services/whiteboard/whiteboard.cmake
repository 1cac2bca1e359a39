korvo_add_test(test_whiteboard
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_whiteboard_store.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_whiteboard_group_file.cpp
  LIBS korvo_whiteboard korvo_stp_transport korvo_runtime korvo_testsupport)
