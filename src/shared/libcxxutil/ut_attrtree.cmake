# Attribute trees and the options database (read and written through the
# file parser).
add_library(korvo_ut_attrtree STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ut_attribute_values.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_attribute_tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_attribute_tree_access.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_options_database.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_options_database_read.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ut_options_database_write.cpp)
target_link_libraries(korvo_ut_attrtree PUBLIC korvo_ut_parser korvo_ut_strings korvo_runtime)
