korvo_add_test(test_ut_attrtree
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ut_attribute_tree.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_ut_options_database.cpp
  LIBS korvo_ut_attrtree)
