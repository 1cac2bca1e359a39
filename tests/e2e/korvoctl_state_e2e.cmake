# korvoctl against the real svc_statemgr through svc_router: WhiteBoard,
# MRU, files and windows subcommands, and the script client for a router stop.
korvo_add_test(test_korvoctl_state_e2e
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_korvoctl_state_e2e.cpp
  LIBS korvo_runtime
  TIMEOUT 300)
add_dependencies(test_korvoctl_state_e2e svc_router svc_statemgr korvoctl e2e_script_client)
