# The listening side of the file-change broadcast, "BroadcastService.File.Listen":
# the forwarder endpoint with its filter and the process-wide forwarder list
# (korvo_filebroadcast), and the module's exit condition and factory
# (korvo_filebroadcast_module, an object library, so that a program linking
# it always contains them).
add_library(korvo_filebroadcast STATIC ${CMAKE_CURRENT_LIST_DIR}/filebroadcast_forwarder.cpp)
target_link_libraries(korvo_filebroadcast PUBLIC korvo_generated korvo_runtime)
add_library(korvo_filebroadcast_module OBJECT ${CMAKE_CURRENT_LIST_DIR}/filebroadcast_module.cpp)
target_link_libraries(korvo_filebroadcast_module PUBLIC korvo_filebroadcast korvo_service_support)
