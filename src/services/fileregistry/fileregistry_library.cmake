# korvo_fileregistry_service: the FileRegistry service as a service library,
# which a process loads itself when the router names the library for the
# service (a services-file block with SharedObject). It carries its own,
# hidden copy of the static libraries it needs (built position-independent
# for it, see korvo_position_independent), so it loads into any process.
# It goes beside the programs, where svc_router looks for a relative name.
add_library(korvo_fileregistry_service SHARED
  ${PROJECT_SOURCE_DIR}/src/services/servicerouter_proxy/shared_object_entry.cpp)
target_link_libraries(korvo_fileregistry_service PRIVATE
  "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_fileregistry>" korvo_srproxy korvo_state korvo_runtime)
target_link_options(korvo_fileregistry_service PRIVATE -Wl,--exclude-libs,ALL)
set_target_properties(korvo_fileregistry_service PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
