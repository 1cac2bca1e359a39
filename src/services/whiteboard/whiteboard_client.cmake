# korvo_whiteboard_client: the WhiteBoard client (local copy of groups,
# reads and writes, change callbacks, connection through the router client).
add_library(korvo_whiteboard_client STATIC
  ${CMAKE_CURRENT_LIST_DIR}/whiteboard_client.cpp)
target_link_libraries(korvo_whiteboard_client
  PUBLIC korvo_whiteboard_group korvo_generated korvo_service_support korvo_ut_strings
  PRIVATE korvo_srproxy korvo_stp_transport korvo_runtime)
