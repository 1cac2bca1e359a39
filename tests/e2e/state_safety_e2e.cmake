# The state manager's durability and limits against the real programs:
# svc_router, svc_statemgr and the scripted client of e2e_windows_files.
korvo_add_test(test_e2e_state_safety
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_e2e_state_safety.cpp
  LIBS korvo_runtime
  TIMEOUT 240)
add_dependencies(test_e2e_state_safety e2e_script_client svc_router svc_statemgr)
