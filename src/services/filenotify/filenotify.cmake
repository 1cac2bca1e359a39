# The notifying side of the file-change broadcast, "BroadcastService.File.Notify":
# the receiver endpoint that hands every event to the file-change relay
# (korvo_filenotify), and the module's exit condition and factory
# (korvo_filenotify_module, an object library, so that a program linking it
# always contains them).
add_library(korvo_filenotify STATIC ${CMAKE_CURRENT_LIST_DIR}/filenotify_receiver.cpp)
target_link_libraries(korvo_filenotify PUBLIC korvo_generated korvo_runtime PRIVATE korvo_service_support)
add_library(korvo_filenotify_module OBJECT ${CMAKE_CURRENT_LIST_DIR}/filenotify_module.cpp)
target_link_libraries(korvo_filenotify_module PUBLIC korvo_filenotify korvo_service_support)
