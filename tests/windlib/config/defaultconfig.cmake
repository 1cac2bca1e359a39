# Linked whole so that editor_defaultconfig is built before main, as in the
# program.
korvo_add_test(test_defaultconfig
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_defaultconfig.cpp
  LIBS "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_defaultconfig>" korvo_whiteboard_client
       korvo_runtime)

# svc_statemgr under a real router: its configuration's connection to its
# own WhiteBoard keeps it serving until the router ends.
korvo_add_test(test_statemgr_configuration
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_statemgr_configuration.cpp
  LIBS korvo_runtime)
add_dependencies(test_statemgr_configuration svc_router svc_statemgr)
