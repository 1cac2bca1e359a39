# The configuration broadcast service "BroadcastService.Config": store,
# listener list, server endpoint, and (once the router client exists) the
# module's factory and exit condition. svc_statemgr links it whole.
add_library(korvo_configservice STATIC
  ${CMAKE_CURRENT_LIST_DIR}/config_array.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_server.cpp)
target_link_libraries(korvo_configservice PUBLIC korvo_generated korvo_runtime)
if(TARGET korvo_srproxy)
  target_sources(korvo_configservice PRIVATE ${CMAKE_CURRENT_LIST_DIR}/configservice_module.cpp)
  target_link_libraries(korvo_configservice PUBLIC korvo_srproxy korvo_state)
endif()
