# ServiceRouter_Proxy, the facade (creation, start-up, shut-down); its router
# link (options, connecting to or launching the router, registration) and
# its service registry (factories, incoming service connections, drops).
# Creates korvo_srproxy; the other fragments of this folder add their
# sources to it.
add_library(korvo_srproxy STATIC
  ${CMAKE_CURRENT_LIST_DIR}/service_factory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/servicerouter_proxy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/srp_router_link.cpp
  ${CMAKE_CURRENT_LIST_DIR}/srp_router_link_args.cpp
  ${CMAKE_CURRENT_LIST_DIR}/srp_service_registry.cpp)
target_link_libraries(korvo_srproxy
  PUBLIC korvo_generated korvo_stp_specclass korvo_stp_transport korvo_ut_idle korvo_state
  PRIVATE korvo_stp_log korvo_ut_process korvo_ut_peer_uid korvo_runtime)
