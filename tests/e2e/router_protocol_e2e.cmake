# End-to-end runs of the router's less common request fields (working
# directories, no_reuse, client_start, service libraries): a real
# svc_router, the test provider, the FileRegistry service library and the
# script client (e2e_windows_files.cmake).
korvo_add_test(test_router_protocol_e2e
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_router_protocol_e2e.cpp
  LIBS korvo_router_testkit korvo_runtime
  TIMEOUT 240)
add_dependencies(test_router_protocol_e2e e2e_script_client svc_router router_test_provider
                 korvo_fileregistry_service)
