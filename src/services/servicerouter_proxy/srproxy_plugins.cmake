# The plugin client (plugins, name/value queries, log forwarding) and the
# outgoing connector (outgoing service connections); services delivered as
# shared objects (both sides).
target_sources(korvo_srproxy PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/srp_plugin_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/forwarding_stp_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/srp_outgoing_connector.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_conn_retry_handler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shared_object_connection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shared_object_proxy.cpp)
target_link_libraries(korvo_srproxy PRIVATE korvo_stp_channels korvo_ut_process korvo_runtime ${CMAKE_DL_LIBS})
