# The listening side of the file-change broadcast, "BroadcastService.File.Listen":
# the forwarder endpoint with its filter and the process-wide forwarder list,
# and (once the router client exists) the module's factory and exit
# condition. svc_statemgr links it whole.
add_library(korvo_filebroadcast STATIC ${CMAKE_CURRENT_LIST_DIR}/filebroadcast_forwarder.cpp)
target_link_libraries(korvo_filebroadcast PUBLIC korvo_generated korvo_runtime)
if(TARGET korvo_srproxy)
  target_sources(korvo_filebroadcast PRIVATE ${CMAKE_CURRENT_LIST_DIR}/filebroadcast_module.cpp)
  target_link_libraries(korvo_filebroadcast PUBLIC korvo_srproxy korvo_state)
endif()
