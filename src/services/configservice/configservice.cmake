# The configuration broadcast service "BroadcastService.Config": store,
# listener list and server endpoint (korvo_configservice), and the module's
# process-wide exit condition and factory (korvo_configservice_module, an
# object library: a program that links it always contains them, which a
# static library member nobody references would not).
add_library(korvo_configservice STATIC
  ${CMAKE_CURRENT_LIST_DIR}/config_array.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_server.cpp)
target_link_libraries(korvo_configservice PUBLIC korvo_generated korvo_runtime PRIVATE korvo_service_support)
add_library(korvo_configservice_module OBJECT ${CMAKE_CURRENT_LIST_DIR}/configservice_module.cpp)
target_link_libraries(korvo_configservice_module PUBLIC korvo_configservice korvo_service_support)
