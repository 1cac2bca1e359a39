# ut_network_buffer: the byte buffer under every STP message.
add_library(korvo_ut_netbuf STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ut_network_buffer.cpp)
target_link_libraries(korvo_ut_netbuf PRIVATE korvo_runtime)
