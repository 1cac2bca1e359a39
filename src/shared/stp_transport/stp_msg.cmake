# STP packets: header and framing, ASCII and binary body codecs.
add_library(korvo_stp_msg STATIC
  ${CMAKE_CURRENT_LIST_DIR}/stp_msg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_amsg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_bmsg.cpp)
target_link_libraries(korvo_stp_msg PUBLIC korvo_ut_netbuf PRIVATE korvo_runtime)
