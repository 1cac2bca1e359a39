# STPTransport (socket transport, queues, delivery rules) and the STP retry
# handlers.
add_library(korvo_stp_transport STATIC
  ${CMAKE_CURRENT_LIST_DIR}/stp_transport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_transport_socket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_transport_io.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_transport_delivery.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stp_retry_handlers.cpp)
target_link_libraries(korvo_stp_transport
  PUBLIC korvo_stp_msg korvo_ut_retry
  PRIVATE korvo_ut_idle korvo_runtime)
# IdleConnRetryHandler calls inline members of STPSpecClass, whose library
# builds on this one; the sanitizer's dynamic-type check would make this
# library need that one's type information.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/stp_retry_handlers.cpp
  PROPERTIES COMPILE_OPTIONS -fno-sanitize=vptr)
