# korvo_whiteboard_group: WhiteBoard groups, their snapshots as generated
# value records, and group files (no transport needed).
add_library(korvo_whiteboard_group STATIC
  ${CMAKE_CURRENT_LIST_DIR}/whiteboard_group.cpp
  ${CMAKE_CURRENT_LIST_DIR}/whiteboard_records.cpp
  ${CMAKE_CURRENT_LIST_DIR}/whiteboard_group_server.cpp
  ${CMAKE_CURRENT_LIST_DIR}/whiteboard_group_file.cpp)
target_link_libraries(korvo_whiteboard_group
  PUBLIC korvo_generated korvo_ut_strings
  PRIVATE korvo_ut_attrtree korvo_runtime)

# korvo_whiteboard: the "WhiteBoard" service (shared store, server endpoint,
# exit condition and factory). Its objects are built before main; a program
# that offers the service links the library whole (WHOLE_ARCHIVE) or calls
# WhiteBoard_GetServiceFactory().
add_library(korvo_whiteboard STATIC
  ${CMAKE_CURRENT_LIST_DIR}/whiteboard_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/whiteboard_server.cpp)
target_link_libraries(korvo_whiteboard
  PUBLIC korvo_whiteboard_group korvo_generated korvo_service_support korvo_ut_strings
  PRIVATE korvo_runtime)

# The module's process-wide objects for svc_statemgr: korvo_whiteboard linked whole,
# since nothing in main refers to them.
add_library(korvo_whiteboard_module INTERFACE)
target_link_libraries(korvo_whiteboard_module INTERFACE "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_whiteboard>")
