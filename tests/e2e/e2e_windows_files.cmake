# Programs for end-to-end tests and benchmarks: a host process that offers
# only the FileRegistry and WindowRegister services and keeps serving, and a
# scripted client program.
add_executable(e2e_windows_files_host ${CMAKE_CURRENT_LIST_DIR}/e2e_service_host.cpp)
target_link_libraries(e2e_windows_files_host PRIVATE
  "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_windowregister>"
  "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_fileregistry>"
  korvo_srproxy korvo_state korvo_runtime)
add_executable(e2e_script_client ${CMAKE_CURRENT_LIST_DIR}/e2e_script_client.cpp)
target_link_libraries(e2e_script_client PRIVATE korvo_srproxy korvo_router_echo korvo_generated
                      korvo_runtime)
