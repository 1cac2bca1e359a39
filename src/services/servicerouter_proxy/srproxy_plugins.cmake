# Plugins, name/value queries and log forwarding; outgoing service
# connections and services delivered as shared objects (both sides).
target_sources(korvo_srproxy PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/servicerouter_proxy_plugins.cpp
  ${CMAKE_CURRENT_LIST_DIR}/forwarding_stp_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/servicerouter_proxy_outgoing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_conn_retry_handler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shared_object_connection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shared_object_proxy.cpp)
target_link_libraries(korvo_srproxy PRIVATE korvo_stp_channels korvo_ut_process korvo_runtime ${CMAKE_DL_LIBS})
