# korvo_mrustate: the four state stores (MRU lists, column layouts, window
# geometry, file-dialog directories) with their files; plain code, no
# sockets. The program entry loads and saves them.
add_library(korvo_mrustate STATIC
  ${CMAKE_CURRENT_LIST_DIR}/statefile_io.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mru_lists.cpp
  ${CMAKE_CURRENT_LIST_DIR}/column_config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window_config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fcdir_mem.cpp)
target_link_libraries(korvo_mrustate PUBLIC korvo_ut_strings PRIVATE korvo_runtime)

# korvo_mrustate_saver: the early save of the state files, on a timer of
# the idle notifier (the stores themselves stay free of the event loop).
add_library(korvo_mrustate_saver STATIC ${CMAKE_CURRENT_LIST_DIR}/statefile_saver.cpp)
target_link_libraries(korvo_mrustate_saver PUBLIC korvo_mrustate PRIVATE korvo_ut_idle korvo_runtime)

# korvo_mruservice: the "MRUService" server endpoint, its exit condition and
# factory. Its objects are built before main; a program that offers the
# service links the library whole (WHOLE_ARCHIVE) or calls
# MRUService_GetServiceFactory().
add_library(korvo_mruservice STATIC ${CMAKE_CURRENT_LIST_DIR}/mruservice_server.cpp)
target_link_libraries(korvo_mruservice
  PUBLIC korvo_mrustate korvo_generated korvo_service_support
  PRIVATE korvo_runtime)

# The module's process-wide objects for svc_statemgr: korvo_mruservice linked whole,
# since nothing in main refers to them.
add_library(korvo_mruservice_module INTERFACE)
target_link_libraries(korvo_mruservice_module INTERFACE "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_mruservice>")
