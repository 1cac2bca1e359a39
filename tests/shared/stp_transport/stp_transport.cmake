korvo_add_test(test_stp_transport
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stp_transport_local.cpp
  LIBS korvo_stp_transport korvo_testsupport)
korvo_add_test(test_stp_retry_handlers
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stp_retry_handlers.cpp
  LIBS korvo_stp_transport korvo_ut_idle korvo_testsupport)
