korvo_add_test(test_ut_peer_uid
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ut_peer_uid.cpp
  LIBS korvo_ut_peer_uid)
