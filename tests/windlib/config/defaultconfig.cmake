# Linked whole so that editor_defaultconfig is built before main, as in the
# program.
korvo_add_test(test_defaultconfig
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_defaultconfig.cpp
  LIBS "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_defaultconfig>" korvo_whiteboard_client
       korvo_runtime)
