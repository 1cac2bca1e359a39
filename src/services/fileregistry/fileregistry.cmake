# korvo_fileregistry: the "FileRegistry" service (register of file names by
# type, its server endpoint, exit condition and factory). Its objects are
# built before main; a program that offers the service links the library
# whole (WHOLE_ARCHIVE) or calls FileRegistry_GetServiceFactory().
add_library(korvo_fileregistry STATIC
  ${CMAKE_CURRENT_LIST_DIR}/fileregistry_typemap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fileregistry_server.cpp)
target_link_libraries(korvo_fileregistry
  PUBLIC korvo_generated korvo_service_support korvo_ut_strings
  PRIVATE korvo_runtime)

# The module's process-wide objects for svc_statemgr: korvo_fileregistry linked whole,
# since nothing in main refers to them.
add_library(korvo_fileregistry_module INTERFACE)
target_link_libraries(korvo_fileregistry_module INTERFACE "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_fileregistry>")
