korvo_add_test(test_stp_channels
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stp_channels.cpp
  LIBS korvo_stp_channels korvo_stp_transport korvo_stp_specclass korvo_testsupport)
