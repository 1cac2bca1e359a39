korvo_add_test(test_state
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_deleteable.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_svc_eventloop.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_svc_signals.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_svc_statemgr.cpp
  LIBS korvo_state korvo_ut_retry)
# The launch-check tests run the program itself.
add_dependencies(test_state svc_statemgr)
