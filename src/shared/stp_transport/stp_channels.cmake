# Virtual channels, sync packets and loopback transport wiring (members of
# STPTransport defined outside the transport library, plus STPChannel).
add_library(korvo_stp_channels STATIC
  ${CMAKE_CURRENT_LIST_DIR}/stp_channels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_loopback.cpp)
target_link_libraries(korvo_stp_channels PUBLIC korvo_stp_transport korvo_stp_msg)
