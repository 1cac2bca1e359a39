# End-to-end runs of the FileRegistry and WindowRegister services of
# svc_statemgr through svc_router, by korvoctl and a scripted client program.
# The host process that offers only these two services and keeps serving is
# the benchmarks'.
add_executable(e2e_windows_files_host ${CMAKE_CURRENT_LIST_DIR}/e2e_service_host.cpp)
target_link_libraries(e2e_windows_files_host PRIVATE
  "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_windowregister>"
  "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_fileregistry>"
  korvo_srproxy korvo_state korvo_runtime)
add_executable(e2e_script_client ${CMAKE_CURRENT_LIST_DIR}/e2e_script_client.cpp)
target_link_libraries(e2e_script_client PRIVATE korvo_srproxy korvo_router_echo korvo_generated
                      korvo_runtime)
korvo_add_test(test_e2e_windows_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_e2e_windows_files.cpp
  LIBS korvo_runtime
  TIMEOUT 240)
add_dependencies(test_e2e_windows_files e2e_script_client svc_router svc_statemgr korvoctl)
