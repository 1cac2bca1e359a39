# End to end through svc_router and the real svc_statemgr: korvoctl edit and
# a scripted editor client open files in a recording stand-in editor.
korvo_add_test(test_e2e_editor
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_e2e_editor.cpp
  LIBS korvo_ut_process korvo_runtime
  TIMEOUT 240)
add_dependencies(test_e2e_editor svc_router svc_statemgr korvoctl e2e_script_client)
