# The outside-editor services: command lines of the three kinds from the
# default configuration's editor options (linked whole so that its defaults
# are built before main, as in the program).
korvo_add_test(test_editorservice
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_editor_command.cpp
  LIBS korvo_editorservice "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvo_defaultconfig>"
       korvo_whiteboard_client korvo_runtime)
