# The service router: library korvo_router (everything but main) and the
# program svc_router. The default services file goes to <bin>/config, the
# site configuration folder beside the programs.
add_library(korvo_router STATIC
  ${CMAKE_CURRENT_LIST_DIR}/router_options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_rn_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_services.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_connections.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_transport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_endpoint.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_plugin.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_poller.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_services_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_launcher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_core.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_flow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_connect.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_queries.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_activation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_client_start.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_loop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/router_record.cpp)
target_link_libraries(korvo_router
  PUBLIC korvo_generated korvo_stp_specclass korvo_stp_transport korvo_stp_log korvo_ut_idle
         korvo_srproxy korvo_runtime
  PRIVATE korvo_ut_attrtree korvo_ut_process korvo_ut_retry korvo_ut_peer_uid)

add_executable(svc_router ${CMAKE_CURRENT_LIST_DIR}/svc_router.cpp)
target_link_libraries(svc_router PRIVATE korvo_router)

configure_file(${CMAKE_CURRENT_LIST_DIR}/services.cfg
  ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/config/services.cfg COPYONLY)
