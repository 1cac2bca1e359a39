# End-to-end runs of korvoctl against routers it finds or launches, with the
# test provider program started by activation.
korvo_add_test(test_korvoctl_e2e
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_korvoctl_e2e.cpp
  LIBS korvo_srproxy korvo_ut_attrtree korvo_runtime
  TIMEOUT 600)
add_dependencies(test_korvoctl_e2e korvoctl svc_router router_test_provider svc_statemgr)
