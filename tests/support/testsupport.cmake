# The test-support library: pumps, socket pairs, forked peers, packet bytes
# and endpoint pairs, shared by every test folder.
add_library(korvo_testsupport STATIC
  ${CMAKE_CURRENT_LIST_DIR}/stp_packets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_pump.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_sockets.cpp)
target_include_directories(korvo_testsupport PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(korvo_testsupport PUBLIC korvo_stp_transport korvo_stp_msg)
