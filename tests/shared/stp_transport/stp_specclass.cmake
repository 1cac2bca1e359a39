korvo_add_test(test_stp_specclass
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stp_specclass.cpp
  LIBS korvo_stp_specclass korvo_stp_transport korvo_testsupport)
