# korvoctl's wb and mru subcommands end to end: korvoctl processes reach the
# real svc_statemgr through svc_router.
korvo_add_test(test_korvoctl_state_e2e
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_korvoctl_state_e2e.cpp
  LIBS korvo_runtime
  TIMEOUT 300)
add_dependencies(test_korvoctl_state_e2e svc_router svc_statemgr korvoctl)
