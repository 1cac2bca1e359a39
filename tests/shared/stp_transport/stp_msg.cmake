korvo_add_test(test_stp_msg
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stp_msg.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_stp_amsg.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_stp_bmsg.cpp
  LIBS korvo_stp_msg korvo_testsupport)
