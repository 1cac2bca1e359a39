# korvo_defaultconfig: declared configuration options with defaults on the
# WhiteBoard group "GeneralConfiguration", the configuration-file reader,
# the start-up connection (Config_EstablishConnection) and the editor
# options. editor_defaultconfig is built before main; a program that wants
# the editor options refers to them (or links the library whole).
add_library(korvo_defaultconfig STATIC
  ${CMAKE_CURRENT_LIST_DIR}/defaultconfig.cpp
  ${CMAKE_CURRENT_LIST_DIR}/editor_defaultconfig.cpp)
target_link_libraries(korvo_defaultconfig
  PUBLIC korvo_whiteboard_client korvo_ut_strings
  PRIVATE korvo_srproxy korvo_runtime)
