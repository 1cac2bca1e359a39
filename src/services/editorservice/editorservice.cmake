# korvo_editorservice: the outside-editor services (command line, launching,
# the three kinds, exit condition and factories). Its objects are built
# before main; the kinds read settings bound with EditorService_SetOptions.
add_library(korvo_editorservice STATIC
  ${CMAKE_CURRENT_LIST_DIR}/editor_server.cpp
  ${CMAKE_CURRENT_LIST_DIR}/editor_kinds.cpp)
target_link_libraries(korvo_editorservice
  PUBLIC korvo_generated korvo_service_support
  PRIVATE korvo_ut_strings korvo_ut_process korvo_runtime)

# The module's process-wide objects for svc_statemgr: korvo_editorservice
# linked whole, since nothing in main refers to them.
add_library(korvo_editorservice_module INTERFACE)
target_link_libraries(korvo_editorservice_module INTERFACE
  "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_editorservice>")
