# The notifying side of the file-change broadcast, "BroadcastService.File.Notify":
# the receiver endpoint that relays every event to the forwarders, and (once
# the router client exists) the module's factory and exit condition.
# svc_statemgr links it whole.
add_library(korvo_filenotify STATIC ${CMAKE_CURRENT_LIST_DIR}/filenotify_receiver.cpp)
target_link_libraries(korvo_filenotify PUBLIC korvo_filebroadcast korvo_generated korvo_runtime)
if(TARGET korvo_srproxy)
  target_sources(korvo_filenotify PRIVATE ${CMAKE_CURRENT_LIST_DIR}/filenotify_module.cpp)
  target_link_libraries(korvo_filenotify PUBLIC korvo_srproxy korvo_state)
endif()
